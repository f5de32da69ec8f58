#include "CliArguments.h"

#include <QRegularExpression>
#include <QStringList>

namespace cli
{
namespace
{
constexpr std::uint32_t kFirstOctetShift = 24;
constexpr std::uint32_t kFirstMulticastOctet = 224;
} // namespace

std::optional<Mac> parseMac(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}$"));
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    Mac mac{};
    const QStringList bytes = text.split(QLatin1Char(':'));
    for (std::size_t i = 0; i < mac.size(); ++i)
        mac[i] = static_cast<std::uint8_t>(bytes.at(static_cast<qsizetype>(i)).toUInt(nullptr, 16));
    return mac;
}

std::optional<std::uint32_t> parseIpv4(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^(0|[1-9][0-9]{0,2})(\\.(0|[1-9][0-9]{0,2})){3}$"));
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    std::uint32_t address = 0;
    for (const QString& octet : text.split(QLatin1Char('.'))) {
        const uint value = octet.toUInt();
        if (value > 255)
            return std::nullopt;
        address = (address << 8) | value;
    }
    return address;
}

bool isUnicastTarget(std::uint32_t address)
{
    const std::uint32_t first = address >> kFirstOctetShift;
    return first != 0 && first < kFirstMulticastOctet;
}

QString dottedAddress(std::uint32_t address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF);
}

QString macText(const Mac& mac)
{
    QStringList bytes;
    for (const std::uint8_t b : mac)
        bytes << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0'));
    return bytes.join(QLatin1Char(':'));
}

bool looksLikeMac(const QString& text)
{
    return text.contains(QLatin1Char(':'));
}
} // namespace cli
