#pragma once

#include <QString>

#include <cstdint>
#include <optional>

/** IPv4 helpers, and the one reader of every address a user types or gives (the dialogs' fields, the
 *  form checks, the command line). Addresses are host-order numbers (10.1.0.1 is 0x0A010001), as in
 *  CNetEnv; records and the profile keep their own stored forms. */
namespace ipv4 {
/** "a.b.c.d" */
QString dotted(std::uint32_t address);
/** A dotted quad ("192.168.0.1"), blanks (spaces, tabs) around it trimmed: exactly four decimal numbers 0..255, none
 *  with a leading zero ("010" is refused). Nothing for anything else. */
std::optional<std::uint32_t> parse(const QString& text);
/** True for an address that names one device: not 0.x.x.x, not multicast (224..239.x.x.x), not
 *  reserved or broadcast (240..255.x.x.x). Loopback addresses count (the loopback profile uses them). */
bool isUnicastDeviceAddress(std::uint32_t address);
/** "%02x:%02x:%02x:%02x:%02x:%02x" of the first six bytes. */
QString macText(const std::uint8_t* mac);
} // namespace ipv4
