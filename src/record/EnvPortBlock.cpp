#include "EnvPortBlock.h"

#include "protocol/Codec.h"

#include <algorithm>

using frame::readBe32;
using frame::readLe16;
using frame::readLe32;
using frame::writeBe32;
using frame::writeLe16;
using frame::writeLe32;

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
