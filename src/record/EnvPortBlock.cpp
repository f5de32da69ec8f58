#include "EnvPortBlock.h"

#include "protocol/Codec.h"

#include <algorithm>

using frame::readBe32;
using frame::readLe16;
using frame::readLe32;
using frame::writeBe32;
using frame::writeLe16;
using frame::writeLe32;

namespace {
constexpr std::array<std::uint32_t, 11> kBaudRates = {600,   1200,  2400,  4800,   9600,  14400,
                                                      19200, 38400, 57600, 115200, 230400};
// A rate at or below a bound maps to that bound's position; each bound lies one below the
// midpoint of two neighbouring rates.
constexpr std::array<std::uint32_t, 10> kBaudUpperBounds = {899,   1799,  3599,  7199,  11999,
                                                            16799, 28799, 47999, 86399, 172799};
constexpr std::uint32_t kFallbackBaud = 19200;
} // namespace

EnvPortBlock::EnvPortBlock(const std::uint8_t* raw)
{
    std::copy(raw, raw + kSize, m_raw.begin());
}

void EnvPortBlock::setBits(int shift, int width, int value)
{
    const int mask = ((1 << width) - 1) << shift;
    m_raw[0] = static_cast<std::uint8_t>((m_raw[0] & ~mask) | ((value << shift) & mask));
}

void EnvPortBlock::setDataBits(int code)
{
    setBits(0, 2, code);
}
void EnvPortBlock::setStopBits(int code)
{
    setBits(2, 1, code);
}
void EnvPortBlock::setParity(int code)
{
    setBits(3, 2, code);
}
void EnvPortBlock::setFlowControl(int code)
{
    setBits(5, 2, code);
}

std::uint32_t EnvPortBlock::localIp() const
{
    return readBe32(m_raw.data() + 4);
}
void EnvPortBlock::setLocalIp(std::uint32_t v)
{
    writeBe32(m_raw.data() + 4, v);
}
std::uint32_t EnvPortBlock::peerIp() const
{
    return readBe32(m_raw.data() + 8);
}
void EnvPortBlock::setPeerIp(std::uint32_t v)
{
    writeBe32(m_raw.data() + 8, v);
}
std::uint16_t EnvPortBlock::localPort() const
{
    return readLe16(m_raw.data() + 12);
}
void EnvPortBlock::setLocalPort(std::uint16_t v)
{
    writeLe16(m_raw.data() + 12, v);
}
std::uint16_t EnvPortBlock::peerPort() const
{
    return readLe16(m_raw.data() + 14);
}
void EnvPortBlock::setPeerPort(std::uint16_t v)
{
    writeLe16(m_raw.data() + 14, v);
}
std::uint32_t EnvPortBlock::baudRate() const
{
    return readLe32(m_raw.data() + 16);
}
void EnvPortBlock::setBaudRate(std::uint32_t v)
{
    writeLe32(m_raw.data() + 16, v);
}
std::uint16_t EnvPortBlock::timeout() const
{
    return readLe16(m_raw.data() + 20);
}
void EnvPortBlock::setTimeout(std::uint16_t v)
{
    writeLe16(m_raw.data() + 20, v);
}
std::uint16_t EnvPortBlock::waterMark() const
{
    return readLe16(m_raw.data() + 22);
}
void EnvPortBlock::setWaterMark(std::uint16_t v)
{
    writeLe16(m_raw.data() + 22, v);
}

int baudToIndex(std::uint32_t rate)
{
    const auto it = std::lower_bound(kBaudUpperBounds.begin(), kBaudUpperBounds.end(), rate);
    return static_cast<int>(it - kBaudUpperBounds.begin());
}

std::uint32_t indexToBaud(int index)
{
    if (index < 0 || index >= static_cast<int>(kBaudRates.size()))
        return kFallbackBaud;
    return kBaudRates[static_cast<std::size_t>(index)];
}

int parityToPosition(int code)
{
    return code >= 2 ? 2 : code;
}

int positionToParity(int position)
{
    return position == 0 || position == 1 ? position : 3;
}

int flowControlToPosition(int code)
{
    return code >= 2 ? 2 : code;
}

int positionToFlowControl(int position)
{
    // A missing selection (-1) is stored as the third mode's code, so a record with it keeps its code.
    return position == 0 || position == 1 ? position : 3;
}
