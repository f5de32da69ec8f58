#pragma once

// The status report of a Tessel device: the type-length-value items that follow the frame of a status
// reply, kept by the endpoint as a 1460-byte block, decoded into the fourteen fields of the report and
// the text of its text box. Pure functions over bytes.

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace status {
/** The status data block an endpoint keeps and the status report decodes. */
constexpr std::size_t kBlockSize = 1460;
/** Each item: type (1 byte), length L of the whole item (1 byte), L - 2 value bytes. */
constexpr std::size_t kItemHeader = 2;

enum ItemType : std::uint8_t
{
    kEnd = 0,       // ends the sequence
    kVersion = 1,   // major, minor, revision letter index, MHz
    kText = 2,      // text up to its first zero byte, line breaks included
    kSeparator = 3, // a line of 40 hyphens
    kMac = 16,      // 6 bytes
    kLocalIp = 17,  // 4 bytes, first octet first
    kSubnet = 18,   // 4 bytes, first octet first
    kGateway = 19,  // 4 bytes, first octet first
    kUptime = 32,   // u32, hundredths of a second
    kCom1Rx = 64,   // 64..67: COM1..COM4 received bytes, u32
    kCom1Tx = 68,   // 68..71: COM1..COM4 sent bytes, u32
    kLanRx = 96,    // u32 packets
    kLanTx = 97,    // u32 packets
    kLanCrc = 98,   // u16 errors
    kLanAlign = 99, // u16 errors
    kLanLost = 100, // u16 packets
};

/** The fourteen fields of the report, in the order the report keeps them. */
enum class Field
{
    Uptime,
    Com1Rx,
    Com1Tx,
    Com2Rx,
    Com2Tx,
    Com3Rx,
    Com3Tx,
    Com4Rx,
    Com4Tx,
    Gateway,
    LocalIp,
    Mac,
    Subnet,
    Version,
};
constexpr std::size_t kFieldCount = 14;

/** The texts of the report's fields. A field whose item is absent from a report keeps the text it had,
 *  so one value serves every decoding of a device's reports. */
struct StatusFields
{
    std::array<QString, kFieldCount> texts;

    QString& operator[](Field f) { return texts[static_cast<std::size_t>(f)]; }
    const QString& operator[](Field f) const { return texts[static_cast<std::size_t>(f)]; }
};

/** The received-bytes (`tx` false) or sent-bytes field of serial port `port` (0..3). */
Field comField(int port, bool tx);

/** Decodes the items of `block` (only its first kBlockSize bytes count): fields whose item is present are
 *  overwritten in `fields`, the others keep their text. Returns the text box text, the insertions of the
 *  text, separator and LAN items joined as they come (line breaks only where text items carry them).
 *  Decoding stops at type 0, at a length below 2 and at an item that would reach past the block. A known
 *  type's value is read at its fixed size whatever its length says; bytes beyond the block read as zero.
 *  Unknown types are skipped. Text bytes are taken as Latin-1. */
QString decode(std::span<const std::uint8_t> block, StatusFields& fields);

/** The numbers of a report that move while a device runs, each absent when the report lacks its item. */
struct StatusCounters
{
    std::optional<std::uint32_t> uptime;              // hundredths of a second since the device started
    std::array<std::optional<std::uint32_t>, 4> rx{}; // bytes each serial port received, COM1..COM4
    std::array<std::optional<std::uint32_t>, 4> tx{}; // bytes each serial port sent
};

/** Reads the uptime and the serial counters of `block` by the rules of decode (the same stops, the value
 *  read at its fixed size); the last item of a type counts, as it is the one the report shows. */
StatusCounters readCounters(std::span<const std::uint8_t> block);

/** "%d days, %02u:%02u:%02u" of an uptime in hundredths of a second. */
QString uptimeText(std::uint32_t hundredths);

/** "Tessel/LAN Rev. %d.%d%c %dMHz": major, minor, the letter "A" + revision index, clock. */
QString versionText(std::uint8_t major, std::uint8_t minor, std::uint8_t revision, std::uint8_t mhz);
} // namespace status
