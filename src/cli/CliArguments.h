#pragma once

// How the command-line tool reads the names of devices and addresses from its arguments.

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace cli {
using Mac = std::array<std::uint8_t, 6>;

/** Six colon-separated hex bytes, either case ("02:11:22:0A:bc:de"). */
std::optional<Mac> parseMac(const QString& text);

/** A dotted-quad IPv4 address of four decimal octets 0..255 without leading zeros, as a host-order
 *  number. Shorthand forms ("10.1", "10.0.0") are refused: they are more often typos than intent. */
std::optional<std::uint32_t> parseIpv4(const QString& text);

/** True when a request may be sent to `address` as a single device: not in 0.0.0.0/8 ("this network"),
 *  not multicast (224.0.0.0/4), not reserved or the limited broadcast (240.0.0.0/4). */
bool isUnicastTarget(std::uint32_t address);

/** "10.1.0.1" from a host-order number. */
QString dottedAddress(std::uint32_t address);

/** "02:11:22:0a:bc:de" */
QString macText(const Mac& mac);

/** A device named on the command line: by its MAC (a broadcast exchange) or by its IPv4 address (a
 *  unicast exchange); `error` says what is wrong with a name that is neither. */
struct DeviceName
{
    std::optional<Mac> mac;
    std::uint32_t address = 0;
    QString error;
};

/** Reads a device name: text with a colon is judged as a MAC, text of digits and dots as an IPv4 address,
 *  which must name a single device (isUnicastTarget). */
DeviceName parseDeviceName(const QString& text);
} // namespace cli
