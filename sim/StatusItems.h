#pragma once

// The status data a device sends behind the frame of a status reply: a sequence of items,
// each type (1 byte), length L of the whole item (1 byte) and L - 2 value bytes; numbers little-endian,
// addresses first octet first. Pure functions over the item bytes.

#include "record/EnvRecord.h"

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

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

/** A serial counter that grows by a set number of bytes a second: one rate, or several held in turn for
 *  `everyMs` each, over and over (a square wave, a staircase), so a graph of it has a known shape. */
struct CounterRate
{
    std::uint8_t type = kStatusComRx; // kStatusComRx..kStatusComTx + 3
    std::vector<std::uint32_t> bytesPerSecond;
    qint64 everyMs = 10000;
};

/** The bytes a counter with `rate` has grown by `elapsedMs` after it started counting. */
std::uint64_t bytesAfter(const CounterRate& rate, qint64 elapsedMs);

/** The serial traffic of a device whose counters follow set rates, and how often it restarts. */
struct SerialTraffic
{
    std::vector<CounterRate> rates; // empty: the counters grow by a few hundred bytes a look
    qint64 restartEveryMs = 0;      // > 0: the device starts again this often (uptime and rated counters anew)

    bool empty() const { return rates.empty() && restartEveryMs == 0; }
};

/** The eight serial counters' values in `items` (COM1..COM4 RX, then TX), 0 for an absent one. */
std::array<std::uint32_t, 8> serialCounters(const QByteArray& items);

/** Sets each counter with a rate to its value at the start (`start`, as serialCounters gives) plus the
 *  bytes it has grown by `elapsedMs` after the device started, wrapping at 2^32 as a device's does. */
void applyTraffic(QByteArray& items, const SerialTraffic& traffic, const std::array<std::uint32_t, 8>& start,
                  qint64 elapsedMs);
} // namespace sim
