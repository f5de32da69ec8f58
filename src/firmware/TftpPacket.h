#pragma once

// TFTP packets as RFC 1350 lays them out (every 16-bit field big-endian): what the transfer engine sends
// and reads, and what the simulated device's TFTP server answers. Pure functions over bytes.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>

namespace tftp {
enum Opcode : std::uint16_t
{
    kReadRequest = 1,
    kWriteRequest = 2,
    kData = 3,
    kAck = 4,
    kError = 5,
};

constexpr int kBlockSize = 512;        // data bytes of every block but the last
constexpr int kMaxDatagram = 1024;     // the most the engine reads of one datagram
constexpr int kHeaderSize = 4;         // opcode and block number (or error code)
constexpr char kOctetMode[] = "OCTET"; // the mode the engine asks for

/** The greatest block number a 16-bit field carries. Block numbers do not wrap here, so an upload
 *  needs every block number up to the empty or short last block to be at most this. */
constexpr std::uint32_t kLastBlockNumber = 65535;
/** The longest image one upload can carry: 65,535 blocks, the last one short. */
constexpr std::uint32_t kMaxImageLength = kLastBlockNumber * kBlockSize - 1;

/** Write request: opcode 2, the name, a zero byte, `mode`, a zero byte. */
QByteArray writeRequest(QByteArrayView fileName, QByteArrayView mode = kOctetMode);
/** Data packet: opcode 3, the low 16 bits of `block`, then `payload` (0..512 bytes). */
QByteArray dataPacket(std::uint32_t block, QByteArrayView payload);
/** Acknowledgement: opcode 4, `block`. */
QByteArray ackPacket(std::uint16_t block);
/** Error packet: opcode 5, `code`, `message`, a zero byte. */
QByteArray errorPacket(std::uint16_t code, QByteArrayView message);

/** The opcode of a datagram; nothing when it is shorter than two bytes. */
std::optional<std::uint16_t> opcodeOf(QByteArrayView datagram);
/** The 16-bit field after the opcode (block number or error code); nothing when the datagram is
 *  shorter than four bytes. */
std::optional<std::uint16_t> secondField(QByteArrayView datagram);

/** What an error packet says: its code and its message up to the first zero byte (or the end). */
struct ErrorPacket
{
    std::uint16_t code = 0;
    QByteArray message;
};
std::optional<ErrorPacket> parseError(QByteArrayView datagram);

/** A request's name and mode; nothing when either is not zero-terminated. */
struct Request
{
    std::uint16_t opcode = 0;
    QByteArray fileName;
    QByteArray mode;
};
std::optional<Request> parseRequest(QByteArrayView datagram);

/** The user's text for an error packet: "TFTP error: …" for the codes of RFC 1350 (code 0 with the
 *  device's own message), "unknown TFTP error" for any other code. */
QString errorText(const ErrorPacket& error);
} // namespace tftp
