#pragma once

// The status data a device sends behind the frame of a status reply: a sequence of items,
// each type (1 byte), length L of the whole item (1 byte) and L - 2 value bytes; numbers little-endian,
// addresses first octet first. Pure functions over the item bytes.

#include "record/EnvRecord.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <optional>

namespace sim {
enum StatusType : std::uint8_t
{
    kStatusVersion = 1,   // major, minor, revision letter index, MHz
    kStatusText = 2,      // text, line breaks included
    kStatusSeparator = 3, // a line of hyphens
    kStatusMac = 16,
    kStatusIp = 17,
    kStatusMask = 18,
    kStatusGateway = 19,
    kStatusUptime = 32, // u32, hundredths of a second
    kStatusComRx = 64,  // 64..67: COM1..COM4 received bytes, u32
    kStatusComTx = 68,  // 68..71: COM1..COM4 sent bytes, u32
    kStatusLanRx = 96,  // u32 packets
    kStatusLanTx = 97,  // u32 packets
    kStatusLanCrc = 98, // u16 errors
    kStatusLanAlign = 99,
    kStatusLanLost = 100,
};

void appendItem(QByteArray& items, std::uint8_t type, QByteArrayView value);
void appendU32Item(QByteArray& items, std::uint8_t type, std::uint32_t value);
void appendU16Item(QByteArray& items, std::uint8_t type, std::uint16_t value);
void appendAddressItem(QByteArray& items, std::uint8_t type, std::uint32_t address);

/** Offset of the value of the first item of `type` whose value holds at least `size` bytes, walking the
 *  items as a receiver does (stop at type 0, at L < 2 or at an item that runs past the end); -1 if none. */
qsizetype findItemValue(const QByteArray& items, std::uint8_t type, qsizetype size);
std::optional<std::uint32_t> readU32Item(const QByteArray& items, std::uint8_t type);
/** Overwrites the value of the first item of `type`; false when there is none. */
bool writeU32Item(QByteArray& items, std::uint8_t type, std::uint32_t value);

/** A plausible report of device number `index` with the identity of `record`: version, uptime, MAC and
 *  addresses, serial counters, and text items that lay out the LAN counters line by line ("\r\n"). */
QByteArray defaultStatusItems(const EnvRecord& record, int index);

/** Brings the live items up to date: uptime, MAC, IP, mask and gateway from `record`. */
void refreshStatusItems(QByteArray& items, const EnvRecord& record, std::uint32_t uptime);
/** Serial traffic between two looks at the report: each port's received and sent byte counters grow
 *  (port n by n times a few hundred bytes), as on a device whose ports are in use. */
void advanceSerialCounters(QByteArray& items);
/** Adds `delta` to a u32 counter item (LAN packets); false when there is none. */
bool addToCounter(QByteArray& items, std::uint8_t type, std::uint32_t delta);
} // namespace sim
