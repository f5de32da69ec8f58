#include "StatusReport.h"

#include <algorithm>

namespace status {
namespace {
constexpr std::size_t kLongestValue = 6; // the MAC
constexpr std::uint32_t kHundredthsPerDay = 8640000;
constexpr std::uint32_t kSecondsPerDay = 86400;
constexpr int kSeparatorLength = 40;

using Value = std::array<std::uint8_t, kLongestValue>;

/** The first `size` value bytes of the item whose value starts at `at`, whatever its length says: bytes
 *  beyond the block read as zero, so a short item at the end of the block never reads outside it. */
Value readValue(std::span<const std::uint8_t> block, std::size_t at, std::size_t size)
{
    Value value{};
    if (at < block.size())
        std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(at), std::min(size, block.size() - at), value.begin());
    return value;
}

std::uint32_t u32(const Value& v)
{
    return std::uint32_t{v[0]} | std::uint32_t{v[1]} << 8 | std::uint32_t{v[2]} << 16 | std::uint32_t{v[3]} << 24;
}

std::uint16_t u16(const Value& v)
{
    return static_cast<std::uint16_t>(v[0] | v[1] << 8);
}

QString dotted(const Value& v)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(unsigned{v[0]})
        .arg(unsigned{v[1]})
        .arg(unsigned{v[2]})
        .arg(unsigned{v[3]});
}

QString macText(const Value& v)
{
    QString text;
    for (std::size_t i = 0; i < kLongestValue; ++i) {
        if (i)
            text += QLatin1Char(':');
        text += QStringLiteral("%1").arg(unsigned{v[i]}, 2, 16, QLatin1Char('0'));
    }
    return text;
}

/** A text item's bytes up to its first zero byte, within the item. */
QString itemText(std::span<const std::uint8_t> value)
{
    const auto end = std::find(value.begin(), value.end(), std::uint8_t{0});
    return QString::fromLatin1(reinterpret_cast<const char*>(value.data()), end - value.begin());
}

/** The text box insertion of a LAN counter item, or nothing for other types. */
QString lanLine(std::uint8_t type, const Value& v)
{
    switch (type) {
    case kLanRx:
        return QStringLiteral("LAN RX packets: %1").arg(u32(v));
    case kLanTx:
        return QStringLiteral("LAN TX packets: %1").arg(u32(v));
    case kLanCrc:
        return QStringLiteral("LAN CRC errors: %1").arg(unsigned{u16(v)});
    case kLanAlign:
        return QStringLiteral("LAN ALIGN errors: %1").arg(unsigned{u16(v)});
    case kLanLost:
        return QStringLiteral("LAN LOST packets: %1").arg(unsigned{u16(v)});
    default:
        return {};
    }
}

/** Acts on one item whose value starts at `at` and holds `size` bytes by its length. */
void decodeItem(std::span<const std::uint8_t> block, std::uint8_t type, std::size_t at, std::size_t size,
                StatusFields& fields, QString& text)
{
    const Value v = readValue(block, at, kLongestValue);
    if (type >= kCom1Rx && type < kCom1Rx + 8) {
        const int port = (type - kCom1Rx) % 4;
        fields[comField(port, type >= kCom1Tx)] = QString::number(u32(v));
        return;
    }
    switch (type) {
    case kVersion:
        fields[Field::Version] = versionText(v[0], v[1], v[2], v[3]);
        break;
    case kText:
        text += itemText(block.subspan(at, size));
        break;
    case kSeparator:
        text += QString(kSeparatorLength, QLatin1Char('-'));
        break;
    case kMac:
        fields[Field::Mac] = macText(v);
        break;
    case kLocalIp:
        fields[Field::LocalIp] = dotted(v);
        break;
    case kSubnet:
        fields[Field::Subnet] = dotted(v);
        break;
    case kGateway:
        fields[Field::Gateway] = dotted(v);
        break;
    case kUptime:
        fields[Field::Uptime] = uptimeText(u32(v));
        break;
    default:
        text += lanLine(type, v); // nothing for the types a report does not know
        break;
    }
}
/** Walks the items of `block` (its first kBlockSize bytes) as the report reads them, calling
 *  visit(block, type, value offset, value size by length) for each. It stops at type 0, at a length below
 *  2 and at an item that would reach past the block; a length byte beyond the block counts as 0. */
template <typename Visit> void forEachItem(std::span<const std::uint8_t> block, Visit visit)
{
    block = block.first(std::min(block.size(), kBlockSize));
    std::size_t at = 0;
    while (at < block.size()) {
        const std::uint8_t type = block[at];
        if (type == kEnd)
            break;
        const std::size_t length = at + 1 < block.size() ? block[at + 1] : 0;
        if (length < kItemHeader || at + length > block.size())
            break;
        visit(block, type, at + kItemHeader, length - kItemHeader);
        at += length;
    }
}
} // namespace

Field comField(int port, bool tx)
{
    return static_cast<Field>(static_cast<int>(Field::Com1Rx) + 2 * port + (tx ? 1 : 0));
}

QString decode(std::span<const std::uint8_t> block, StatusFields& fields)
{
    QString text;
    forEachItem(block, [&](std::span<const std::uint8_t> within, std::uint8_t type, std::size_t at, std::size_t size) {
        decodeItem(within, type, at, size, fields, text);
    });
    return text;
}

StatusCounters readCounters(std::span<const std::uint8_t> block)
{
    StatusCounters counters;
    forEachItem(block, [&](std::span<const std::uint8_t> within, std::uint8_t type, std::size_t at, std::size_t) {
        const std::uint32_t value = u32(readValue(within, at, 4));
        if (type == kUptime)
            counters.uptime = value;
        else if (type >= kCom1Rx && type < kCom1Tx)
            counters.rx[static_cast<std::size_t>(type - kCom1Rx)] = value;
        else if (type >= kCom1Tx && type < kCom1Tx + 4)
            counters.tx[static_cast<std::size_t>(type - kCom1Tx)] = value;
    });
    return counters;
}

QString uptimeText(std::uint32_t hundredths)
{
    const std::uint32_t days = hundredths / kHundredthsPerDay;
    const std::uint32_t s = (hundredths / 100) % kSecondsPerDay;
    return QStringLiteral("%1 days, %2:%3:%4")
        .arg(days)
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg((s % 3600) / 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString versionText(std::uint8_t major, std::uint8_t minor, std::uint8_t revision, std::uint8_t mhz)
{
    // The revision letter is one byte, "A" + index, wrapping as a byte does.
    const auto letter = static_cast<char>(static_cast<std::uint8_t>('A' + revision));
    QString text = QStringLiteral("Tessel/LAN Rev. %1.%2").arg(unsigned{major}).arg(unsigned{minor});
    if (letter != '\0')
        text += QLatin1Char(letter);
    return text + QStringLiteral(" %1MHz").arg(unsigned{mhz});
}
} // namespace status
