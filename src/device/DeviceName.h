#pragma once

// How the command-line tool reads the names of devices and addresses from its arguments.

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace device {
using Mac = std::array<std::uint8_t, 6>;

/** Six colon-separated hex bytes, either case ("02:11:22:0A:bc:de"). */
std::optional<Mac> parseMac(const QString& text);

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

/** Reads a device name: text with a colon is judged as a MAC, other text as an IPv4 address by the one
 *  address reader (ipv4::parse: spaces around it trimmed, no leading zeros), which must name a single
 *  device (ipv4::isUnicastDeviceAddress). */
DeviceName parseDeviceName(const QString& text);
} // namespace device
