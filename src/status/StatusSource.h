#pragma once

#include <cstdint>
#include <functional>
#include <span>

/**
 * Where the status dialog asks for a fresh status report while it shows live traffic: the settings
 * editor, which sends its own status request through its endpoint, quietly (no progress window, the
 * editor stays as it is, the form is not reloaded).
 */
class StatusSource
{
public:
    /** The end of one reading: whether the device answered, and its status data (1460 bytes) if so. */
    using Reply = std::function<void(bool answered, std::span<const std::uint8_t> block)>;

    virtual ~StatusSource() = default;

    /** Sends a status request; `reply` runs once when its wait ends (perhaps at once, as unanswered, when
     *  the endpoint cannot be opened). False, and no reply, while another request is under way. */
    virtual bool requestStatusReading(Reply reply) = 0;
    /** Abandons the reading under way, if any: its reply does not run. */
    virtual void cancelStatusReading() = 0;
};
