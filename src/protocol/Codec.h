#pragma once

// The device protocol's 640-byte frame: layout, command codes and the routines
// that protect it (keyed header checksum, body scrambling, CRC-16/X-25 frame
// check, password transform). Pure functions over byte buffers, no state.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

/** The 256-byte key table every Tessel device holds. */
extern const std::array<std::uint8_t, 256> K;

namespace frame {
constexpr std::size_t kFrameSize = 640;                            // every request and reply frame
constexpr std::size_t kMaxDatagram = 1460;                         // the most a receiver reads of one datagram
constexpr std::size_t kStatusDataSize = 1460;                      // the endpoint's status data block
constexpr std::size_t kMaxStatusItems = kMaxDatagram - kFrameSize; // 820 bytes after a status reply's frame

constexpr std::uint32_t kMagic = 0xD589B1FE; // big-endian on the wire
constexpr std::uint8_t kFormat = 0x20;

constexpr std::size_t kOffMagic = 0;
constexpr std::size_t kOffFormat = 4;
constexpr std::size_t kOffFlags = 5;
constexpr std::size_t kOffCommand = 6;
constexpr std::size_t kOffResult = 7;
constexpr std::size_t kOffMac = 10;
constexpr std::size_t kOffRandom1 = 16;
constexpr std::size_t kOffRandom2 = 20;
constexpr std::size_t kOffHeaderSum = 30;
constexpr std::size_t kHeaderSumLength = 30;
constexpr std::size_t kOffBody = 32;
constexpr std::size_t kBodySize = 604;
constexpr std::size_t kOffFcs = 636;
constexpr std::size_t kFcsLength = 636; // bytes covered by the frame check sequence
constexpr std::size_t kOffSeed = 638;

constexpr std::size_t kRecordSize = 512;
constexpr std::size_t kBodyOffNewPassword = 512; // command 4: the new password follows the record
constexpr std::size_t kPasswordSize = 8;

constexpr std::uint8_t kFlagScrambled = 0x01;
constexpr std::uint8_t kFlagUnicast = 0x02;
constexpr std::uint8_t kFlagReply = 0x80;
constexpr std::uint8_t kFlagsBroadcastRequest = kFlagScrambled;
constexpr std::uint8_t kFlagsUnicastRequest = kFlagScrambled | kFlagUnicast;

enum Command : std::uint8_t
{
    kSearch = 1,
    kRead = 2,
    kWrite = 3,
    kChangePassword = 4,
    kStatus = 5,
};

enum Result : std::uint8_t
{
    kResultOk = 0,
    kResultWrongPassword = 2,
};

using Frame = std::array<std::uint8_t, kFrameSize>;
} // namespace frame

/** 16-bit keyed checksum over `data`; the length enters every index. */
std::uint16_t KeyedSum16(std::span<const std::uint8_t> data);

/** XORs `data` in place with the keystream of `seed` and the data length; the same call undoes it. */
void Scramble(std::uint16_t seed, std::span<std::uint8_t> data);

/** Computes KeyedSum16 of `data`, scrambles `data` with it as seed and returns the seed. */
std::uint16_t ChecksumAndScramble(std::span<std::uint8_t> data);

/** CRC-16/X-25 (reflected 0x1021, preset 0xFFFF, complemented) of `data`. */
std::uint16_t Crc16(std::span<const std::uint8_t> data);

/** True when the CRC register run over `data` and the two FCS bytes behind it ends at 0xF0B8.
 *  `data` covers the protected bytes only; the buffer must hold two more bytes after them. */
bool Crc16Check(const std::uint8_t* data, std::size_t length);

/** 32-bit keyed hash of four password bytes. */
std::uint32_t PasswordHash32(const std::uint8_t* bytes4);

/** Transforms an 8-byte password field in place (zero-fill after the first NUL, then two keyed hashes). */
void HashPassword(std::uint8_t* field8);

/** True when any of the 8 bytes of a password field is non-zero. */
bool IsPasswordSet(const std::uint8_t* field8);

namespace frame {
/** Completes a request whose body the caller has filled in an otherwise zeroed frame: header, header
 *  checksum, FCS over the plain frame, then the seed and the scrambled body, in that order. */
void BuildRequest(Frame& f, std::uint8_t flags, std::uint8_t command, std::uint32_t random1, std::uint32_t random2);

/** Seals a frame whose header (bytes 0..29) and plain body are filled: header checksum, FCS, then
 *  seed and scrambling when flags bit 0 is set. Used for requests and, by devices, for replies. */
void Seal(Frame& f);

/** Checks a received frame in the fixed order (magic, reply flag, header checksum, descrambling,
 *  FCS, format bit) and descrambles its body in place. False at the first failing check. */
bool AcceptReply(Frame& f);

/** A device's view of a request: magic, header checksum, descrambling and FCS. True when sound;
 *  the body is descrambled in place. */
bool AcceptRequest(Frame& f);

std::uint32_t readLe32(const std::uint8_t* p);
std::uint16_t readLe16(const std::uint8_t* p);
void writeLe32(std::uint8_t* p, std::uint32_t v);
void writeLe16(std::uint8_t* p, std::uint16_t v);
std::uint32_t readBe32(const std::uint8_t* p);
void writeBe32(std::uint8_t* p, std::uint32_t v);
} // namespace frame
