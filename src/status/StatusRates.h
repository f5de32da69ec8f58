#pragma once

// Serial traffic rates from repeated status readings of one device: bytes per second per port and
// direction from the differences of the device's 32-bit counters, right across a counter's wrap, with
// the device's restarts and the readings that got no answer told apart. Pure functions over readings.

#include "status/StatusReport.h"

#include <QtGlobal>

#include <array>
#include <cstdint>
#include <optional>

namespace status {
constexpr int kPortCount = 4;

/** One look at a device's status: when it was taken and what the device reported, or that no answer
 *  came. */
struct Reading
{
    qint64 atMs = 0;       // a monotonic clock (milliseconds) when the answer arrived or the wait ended
    bool answered = false; // false: the device did not answer; `counters` are then not looked at
    StatusCounters counters;
};

/** What a reading tells beyond its rates. */
enum class Mark
{
    None,     // an ordinary reading (or the first one, which has no rates yet)
    Restart,  // the device started again since the reading before: its uptime went back
    NoAnswer, // the device did not answer
};

/** Receive and transmit rate of each port in bytes per second between two readings; a rate is absent
 *  when a reading lacks its counter, at the first reading, at a restart and for an unanswered reading. */
struct Rates
{
    Mark mark = Mark::None;
    double seconds = 0.0; // the time the rates span (0 when there are none)
    std::array<std::optional<double>, kPortCount> rx{};
    std::array<std::optional<double>, kPortCount> tx{};

    bool any() const;
};

/** The rates at `current` against `previous`, the last answered reading before it (nothing at the start).
 *  The time between them is the device's own (the uptime difference, in hundredths of a second) when both
 *  carry an uptime, else the `atMs` difference. A counter below its previous value has wrapped at 2^32.
 *  The device restarted when its uptime went back (unless it wrapped itself: the wrapped difference fits
 *  the time that passed), or grew clearly less than the time that passed (a restart during unanswered
 *  readings). */
Rates ratesBetween(const Reading* previous, const Reading& current);

/**
 * Follows the readings of one device in turn: rates against the last answered reading (so an
 * unanswered reading leaves a longer interval to the next one), and each counter's total across its
 * wraps (its 32-bit value plus 2^32 per wrap seen; the device's value again after a restart).
 */
class RateTracker final
{
public:
    /** Takes the next reading and returns its rates. */
    Rates add(const Reading& reading);
    /** Forgets the readings so far: the next one starts afresh, without rates. */
    void reset();

    /** The last answered reading, if any. */
    const std::optional<Reading>& last() const { return m_last; }
    /** A counter's total across its wraps, absent while no answered reading carried it. */
    std::optional<std::uint64_t> rxTotal(int port) const { return total(m_rx, port); }
    std::optional<std::uint64_t> txTotal(int port) const { return total(m_tx, port); }

private:
    struct Total
    {
        std::uint64_t total;
        std::uint32_t value; // the device's counter at the last reading that carried it
    };
    using Totals = std::array<std::optional<Total>, kPortCount>;
    static void addTotals(Totals& totals, const std::array<std::optional<std::uint32_t>, kPortCount>& now);
    static std::optional<std::uint64_t> total(const Totals& totals, int port)
    {
        const auto& t = totals[static_cast<std::size_t>(port)];
        return t ? std::optional<std::uint64_t>(t->total) : std::nullopt;
    }

    std::optional<Reading> m_last;
    Totals m_rx{};
    Totals m_tx{};
};
} // namespace status
