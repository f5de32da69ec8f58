#include "device/DeviceName.h"

#include "device/DeviceTexts.h"
#include "protocol/Ipv4.h"

#include <QRegularExpression>
#include <QStringList>

namespace device {
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

QString macText(const Mac& mac)
{
    QStringList bytes;
    for (const std::uint8_t b : mac)
        bytes << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0'));
    return bytes.join(QLatin1Char(':'));
}

DeviceName parseDeviceName(const QString& text)
{
    static const QRegularExpression digitsAndDots(QRegularExpression::anchoredPattern(QStringLiteral("[0-9.\\s]+")));
    DeviceName name;
    if (text.contains(QLatin1Char(':'))) {
        name.mac = parseMac(text);
        if (!name.mac)
            name.error = QStringLiteral("\"%1\" is not a MAC address (six colon-separated hex bytes, like "
                                        "02:11:22:0a:bc:de)")
                             .arg(text);
    } else if (const std::optional<std::uint32_t> address = ipv4::parse(text)) {
        name.address = *address;
        if (!ipv4::isUnicastDeviceAddress(*address))
            name.error = QStringLiteral("%1 is not a unicast address (0.x.x.x, multicast and broadcast addresses "
                                        "name no single device)")
                             .arg(text);
    } else if (digitsAndDots.match(text).hasMatch()) {
        name.error = notAnAddressText(text);
    } else {
        name.error = QStringLiteral("\"%1\" is neither a MAC address (like 02:11:22:0a:bc:de) nor an IPv4 "
                                    "address (like 10.1.0.1)")
                         .arg(text);
    }
    return name;
}
} // namespace device
