// Reply and request acceptance of the frame codec. Arbitrary bytes: a frame is accepted exactly when
// the magic, the direction flag, the header checksum, the FCS of the descrambled body and (for replies)
// the format bit hold, and scrambling the accepted body again with the frame's own seed gives back the
// bytes received. Sealed frames with fuzzed fields: every one is accepted and carries its body through.

#include "FuzzCheck.h"
#include "protocol/Codec.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>

using namespace frame;

namespace {
QString hex(const Frame& f)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(f.data()), kFrameSize).toHex());
}

std::span<std::uint8_t> body(Frame& f)
{
    return {f.data() + kOffBody, kBodySize};
}

/** What the checks should say about `received`, worked out step by step apart from AcceptReply. */
bool expectedVerdict(const Frame& received, bool reply)
{
    if (readBe32(received.data()) != kMagic || bool(received[kOffFlags] & kFlagReply) != reply)
        return false;
    if (KeyedSum16({received.data(), kHeaderSumLength}) != readLe16(received.data() + kOffHeaderSum))
        return false;
    Frame plain = received;
    if (plain[kOffFlags] & kFlagScrambled)
        Scramble(readLe16(plain.data() + kOffSeed), body(plain));
    // The FCS covers bytes 0..635 of the plain frame, little-endian in 636..637.
    if (Crc16({plain.data(), kFcsLength}) != readLe16(plain.data() + kOffFcs))
        return false;
    return !reply || (received[kOffFormat] & kFormat);
}

void arbitraryBytes(const std::uint8_t* data, std::size_t size)
{
    Frame received{};
    std::memcpy(received.data(), data, std::min(size, kFrameSize));
    for (const bool reply : {true, false}) {
        Frame f = received;
        const bool accepted = reply ? AcceptReply(f) : AcceptRequest(f);
        FUZZ_CHECK(accepted == expectedVerdict(received, reply), hex(received));
        if (!accepted)
            continue;
        // Only the body is touched, and only by descrambling: scrambling it again restores the datagram.
        FUZZ_CHECK(std::equal(f.begin(), f.begin() + kOffBody, received.begin()), hex(received));
        FUZZ_CHECK(std::equal(f.begin() + kOffFcs, f.end(), received.begin() + kOffFcs), hex(received));
        if (f[kOffFlags] & kFlagScrambled)
            Scramble(readLe16(f.data() + kOffSeed), body(f));
        FUZZ_CHECK(f == received, hex(received));
    }
}

void sealedFields(FuzzedDataProvider& in)
{
    Frame f{};
    const std::vector<std::uint8_t> fields = in.ConsumeBytes<std::uint8_t>(kHeaderSumLength + kBodySize);
    std::copy(fields.begin(), fields.end(), f.begin());
    if (fields.size() > kHeaderSumLength)
        std::copy(fields.begin() + kHeaderSumLength, fields.end(), f.begin() + kOffBody);
    writeBe32(f.data() + kOffMagic, kMagic);
    Frame plain = f;
    Seal(f);
    const bool scrambled = f[kOffFlags] & kFlagScrambled;
    // The seed is the keyed sum of the plain body, whether or not the body travels scrambled.
    FUZZ_CHECK(readLe16(f.data() + kOffSeed) == KeyedSum16({plain.data() + kOffBody, kBodySize}), hex(f));
    FUZZ_CHECK(scrambled || std::equal(f.begin() + kOffBody, f.begin() + kOffFcs, plain.begin() + kOffBody), hex(f));
    const bool reply = f[kOffFlags] & kFlagReply;
    Frame accepted = f;
    const bool ok = reply ? AcceptReply(accepted) : AcceptRequest(accepted);
    FUZZ_CHECK(ok == (!reply || (f[kOffFormat] & kFormat)), hex(f));
    if (ok)
        FUZZ_CHECK(std::equal(accepted.begin() + kOffBody, accepted.begin() + kOffFcs, plain.begin() + kOffBody),
                   hex(f));
    // A frame sealed for the other direction is refused by this one.
    Frame other = f;
    FUZZ_CHECK(!(reply ? AcceptRequest(other) : AcceptReply(other)), hex(f));
    // One flipped bit anywhere in the header checksum's range or the FCS is caught.
    if (in.remaining_bytes() >= 2) {
        Frame damaged = f;
        const std::size_t at = in.ConsumeIntegralInRange<std::size_t>(kOffFormat, kOffHeaderSum + 1);
        damaged[at] ^= static_cast<std::uint8_t>(1u << in.ConsumeIntegralInRange(0, 7));
        if ((damaged[kOffFlags] & kFlagReply) == (f[kOffFlags] & kFlagReply)) {
            Frame copy = damaged;
            FUZZ_CHECK(!(reply ? AcceptReply(copy) : AcceptRequest(copy)), hex(damaged));
        }
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] & 1) {
        FuzzedDataProvider in(data + 1, size - 1);
        sealedFields(in);
    } else {
        arbitraryBytes(data + 1, size - 1);
    }
    return 0;
}
