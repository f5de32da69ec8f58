#include "Codec.h"

#include <QByteArrayView>
#include <QtGlobal>

namespace {
constexpr std::uint16_t kCrcResidue = 0xF0B8;

// Keyed 16-bit word used by the checksum, the scrambling increment and the password hash.
std::uint16_t keyWord(unsigned index)
{
    index &= 0xFF;
    return static_cast<std::uint16_t>(256u * K[255 - index] + K[index]);
}
} // namespace

std::uint16_t KeyedSum16(std::span<const std::uint8_t> data)
{
    const unsigned length = static_cast<unsigned>(data.size());
    std::uint16_t sum = 0;
    for (std::uint8_t b : data)
        sum = static_cast<std::uint16_t>(sum + keyWord(b + length));
    return sum;
}

void Scramble(std::uint16_t seed, std::span<std::uint8_t> data)
{
    const std::uint16_t increment = keyWord(static_cast<unsigned>(data.size()));
    std::uint16_t s = seed;
    std::size_t pos = 0;
    while (pos < data.size()) {
        s = static_cast<std::uint16_t>(s + increment);
        unsigned run = (s >> 8) & 0x0F;
        if (run == 0)
            run = 15;
        unsigned k = s & 0xFF;
        for (unsigned i = 0; i < run && pos < data.size(); ++i, ++pos) {
            data[pos] ^= K[k];
            k = (k + 1) & 0xFF;
        }
    }
}

std::uint16_t ChecksumAndScramble(std::span<std::uint8_t> data)
{
    const std::uint16_t seed = KeyedSum16(data);
    Scramble(seed, data);
    return seed;
}

std::uint16_t Crc16(std::span<const std::uint8_t> data)
{
    return qChecksum(QByteArrayView(data.data(), static_cast<qsizetype>(data.size())), Qt::ChecksumIso3309);
}

bool Crc16Check(const std::uint8_t* data, std::size_t length)
{
    // The complemented register over data + FCS equals the complemented residue.
    const std::uint16_t crc = Crc16(std::span<const std::uint8_t>(data, length + 2));
    return static_cast<std::uint16_t>(~crc) == kCrcResidue;
}

std::uint32_t PasswordHash32(const std::uint8_t* bytes4)
{
    std::uint32_t sum = 0;
    for (int i = 0; i < 4; ++i) {
        const unsigned x = (bytes4[i] + 4u) & 0xFF;
        sum += K[x] + 256u * K[255 - x];
        unsigned y = x + 64;
        if (y > 255)
            y -= 255;
        sum += (256u * K[255 - y] + K[y]) * 65536u;
    }
    return sum;
}

void HashPassword(std::uint8_t* field8)
{
    bool ended = false;
    for (int i = 0; i < 8; ++i) {
        if (ended)
            field8[i] = 0;
        else if (field8[i] == 0)
            ended = true;
    }
    const std::uint32_t low = PasswordHash32(field8);
    const std::uint32_t high = PasswordHash32(field8 + 4);
    frame::writeLe32(field8, low);
    frame::writeLe32(field8 + 4, high);
}

bool IsPasswordSet(const std::uint8_t* field8)
{
    for (int i = 0; i < 8; ++i) {
        if (field8[i] != 0)
            return true;
    }
    return false;
}

namespace frame {
std::uint32_t readLe32(const std::uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

std::uint16_t readLe16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void writeLe32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void writeLe16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

std::uint32_t readBe32(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

void writeBe32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

void Seal(Frame& f)
{
    writeLe16(f.data() + kOffHeaderSum, KeyedSum16(std::span<const std::uint8_t>(f.data(), kHeaderSumLength)));
    writeLe16(f.data() + kOffFcs, Crc16(std::span<const std::uint8_t>(f.data(), kFcsLength)));
    std::span<std::uint8_t> body(f.data() + kOffBody, kBodySize);
    if (f[kOffFlags] & kFlagScrambled) {
        writeLe16(f.data() + kOffSeed, ChecksumAndScramble(body));
    } else {
        // An unscrambled frame still carries the plain body's checksum as its seed.
        writeLe16(f.data() + kOffSeed, KeyedSum16(body));
    }
}

void BuildRequest(Frame& f, std::uint8_t flags, std::uint8_t command, std::uint32_t random1, std::uint32_t random2)
{
    writeBe32(f.data() + kOffMagic, kMagic);
    f[kOffFormat] = kFormat;
    f[kOffFlags] = flags;
    f[kOffCommand] = command;
    f[kOffResult] = 0;
    f[8] = 0;
    f[9] = 0;
    for (std::size_t i = 0; i < 6; ++i)
        f[kOffMac + i] = f[kOffBody + i];
    writeLe32(f.data() + kOffRandom1, random1);
    writeLe32(f.data() + kOffRandom2, random2);
    for (std::size_t i = 24; i < 30; ++i)
        f[i] = 0;
    Seal(f);
}

namespace {
bool checkHeaderAndBody(Frame& f)
{
    const std::uint16_t headerSum = KeyedSum16(std::span<const std::uint8_t>(f.data(), kHeaderSumLength));
    if (headerSum != readLe16(f.data() + kOffHeaderSum))
        return false;
    if (f[kOffFlags] & kFlagScrambled)
        Scramble(readLe16(f.data() + kOffSeed), std::span<std::uint8_t>(f.data() + kOffBody, kBodySize));
    return Crc16Check(f.data(), kFcsLength);
}
} // namespace

bool AcceptReply(Frame& f)
{
    if (readBe32(f.data()) != kMagic)
        return false;
    if (!(f[kOffFlags] & kFlagReply))
        return false;
    if (!checkHeaderAndBody(f))
        return false;
    return (f[kOffFormat] & kFormat) != 0;
}

bool AcceptRequest(Frame& f)
{
    if (readBe32(f.data()) != kMagic)
        return false;
    if (f[kOffFlags] & kFlagReply)
        return false;
    return checkHeaderAndBody(f);
}
} // namespace frame
