#include "EnvRecord.h"

#include "RecordFields.h"

#include "protocol/Codec.h"

#include <algorithm>
#include <cstdio>

using frame::readBe32;
using frame::readLe32;
using frame::writeBe32;
using frame::writeLe32;

namespace {
// Placeholder identity of a default record: a locally administered MAC and six fixed bytes.
constexpr std::array<std::uint8_t, 12> kPlaceholderIdentity = {0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                               0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
} // namespace

EnvRecord::EnvRecord(const std::uint8_t* raw)
{
    std::copy(raw, raw + kSize, m_raw.begin());
}

EnvRecord EnvRecord::defaultRecord()
{
    EnvRecord r;
    std::copy(kPlaceholderIdentity.begin(), kPlaceholderIdentity.end(), r.m_raw.begin());
    r.setProductId(1);
    r.setFlags(kFlagArp | kFlagTelnet);
    r.setIpAddress(0x0A010001);  // 10.1.0.1
    r.setSubnetMask(0xFF000000); // 255.0.0.0
    EnvPortBlock com1 = r.port(0);
    com1.setMode(EnvPortBlock::kAtCommand);
    com1.setBaudRate(19200);
    com1.setWaterMark(1);
    r.setPort(0, com1);
    return r;
}

std::array<std::uint8_t, 6> EnvRecord::mac() const
{
    std::array<std::uint8_t, 6> m{};
    std::copy_n(m_raw.begin() + kOffMac, 6, m.begin());
    return m;
}

void EnvRecord::setMac(const std::array<std::uint8_t, 6>& mac)
{
    std::copy(mac.begin(), mac.end(), m_raw.begin() + kOffMac);
}

std::string EnvRecord::macText() const
{
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", m_raw[0], m_raw[1], m_raw[2], m_raw[3], m_raw[4],
                  m_raw[5]);
    return buf;
}

std::uint32_t EnvRecord::flags() const
{
    return readLe32(m_raw.data() + kOffFlags);
}

void EnvRecord::setFlags(std::uint32_t v)
{
    writeLe32(m_raw.data() + kOffFlags, v);
}

void EnvRecord::setFlag(std::uint32_t mask, bool on)
{
    setFlags(on ? (flags() | mask) : (flags() & ~mask));
}

void EnvRecord::setIpv4Type(int type)
{
    setFlags((flags() & ~kMaskIpv4Type) | ((static_cast<std::uint32_t>(type) << 2) & kMaskIpv4Type));
}

void EnvRecord::setEapol(int v)
{
    setFlags((flags() & ~kMaskEapol) | ((static_cast<std::uint32_t>(v) << 9) & kMaskEapol));
}

std::uint32_t EnvRecord::address(std::size_t offset) const
{
    return readBe32(m_raw.data() + offset);
}

void EnvRecord::setAddress(std::size_t offset, std::uint32_t v)
{
    writeBe32(m_raw.data() + offset, v);
}

std::string EnvRecord::text(std::size_t offset, std::size_t width) const
{
    const auto* begin = m_raw.data() + offset;
    const auto* end = std::find(begin, begin + width, std::uint8_t{0});
    return std::string(begin, end);
}

void EnvRecord::setText(std::size_t offset, std::size_t width, std::size_t limit, const std::string& v)
{
    std::fill_n(m_raw.begin() + static_cast<std::ptrdiff_t>(offset), width, std::uint8_t{0});
    const std::size_t n = std::min(limit, v.size());
    std::copy_n(v.begin(), n, m_raw.begin() + static_cast<std::ptrdiff_t>(offset));
}

bool EnvRecord::hasPassword() const
{
    return IsPasswordSet(passwordField());
}

EnvPortBlock EnvRecord::port(int index) const
{
    return EnvPortBlock(m_raw.data() + kOffPorts + static_cast<std::size_t>(index) * EnvPortBlock::kSize);
}

void EnvRecord::setPort(int index, const EnvPortBlock& block)
{
    std::copy(block.raw().begin(), block.raw().end(),
              m_raw.begin() +
                  static_cast<std::ptrdiff_t>(kOffPorts + static_cast<std::size_t>(index) * EnvPortBlock::kSize));
}

void mergeImportedRecord(EnvRecord& target, const EnvRecord& imported)
{
    // What an import carries is a column of the catalogue of fields.
    record_fields::mergeImported(target, imported);
}
