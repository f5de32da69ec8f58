#pragma once

#include <QLineEdit>

#include <cstdint>
#include <optional>

/**
 * The one IPv4 address field of every dialog that takes an address. It never changes what the user typed
 * behind their back: it takes digits and dots only (other keys are refused as typed) and keeps every one
 * of them, however many. Whether the text is an address is judged when it is used: `typedAddress()`
 * gives the address of four numbers 0..255, nothing for a blank field or for text that is no address.
 */
class Ipv4AddressEdit final : public QLineEdit
{
    Q_OBJECT

public:
    enum class Text
    {
        Blank,     // nothing typed
        Address,   // four numbers 0..255
        Malformed, // anything else
    };

    explicit Ipv4AddressEdit(QWidget* parent = nullptr);

    /** What the text is, judged now. */
    Text judge() const;
    /** The typed address as a host-order number, when the text is one. */
    std::optional<std::uint32_t> typedAddress() const;
    /** The address for a record: the typed address, 0 for a blank field, nothing for malformed text. */
    std::optional<std::uint32_t> addressOrZero() const;
    /** Shows `address` (host order) in dotted form. */
    void setAddress(std::uint32_t address);
};
