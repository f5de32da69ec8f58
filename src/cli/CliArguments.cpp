#include "CliArguments.h"

#include <QRegularExpression>
#include <QStringList>

namespace cli {
namespace {
constexpr std::uint32_t kFirstOctetShift = 24;
constexpr std::uint32_t kFirstMulticastOctet = 224;
} // namespace

std::optional<Mac> parseMac(const QString& text)
{
    // Anchored at both ends of the whole text: "$" alone would also match before a final newline.
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}")));
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
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("(0|[1-9][0-9]{0,2})(\\.(0|[1-9][0-9]{0,2})){3}")));
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

DeviceName parseDeviceName(const QString& text)
{
    static const QRegularExpression digitsAndDots(QRegularExpression::anchoredPattern(QStringLiteral("[0-9.]+")));
    DeviceName name;
    if (text.contains(QLatin1Char(':'))) {
        name.mac = parseMac(text);
        if (!name.mac)
            name.error = QStringLiteral("\"%1\" is not a MAC address (six colon-separated hex bytes, like "
                                        "02:11:22:0a:bc:de)")
                             .arg(text);
    } else if (const std::optional<std::uint32_t> address = parseIpv4(text)) {
        name.address = *address;
        if (!isUnicastTarget(*address))
            name.error = QStringLiteral("%1 is not a unicast address (0.x.x.x, multicast and broadcast addresses "
                                        "name no single device)")
                             .arg(text);
    } else if (digitsAndDots.match(text).hasMatch()) {
        name.error = QStringLiteral("\"%1\" is not an IPv4 address (four numbers 0-255 without leading zeros, "
                                    "like 10.1.0.1)")
                         .arg(text);
    } else {
        name.error = QStringLiteral("\"%1\" is neither a MAC address (like 02:11:22:0a:bc:de) nor an IPv4 "
                                    "address (like 10.1.0.1)")
                         .arg(text);
    }
    return name;
}
} // namespace cli
