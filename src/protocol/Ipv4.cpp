#include "Ipv4.h"

#include <QStringList>

#include <algorithm>

QString ipv4::dotted(std::uint32_t address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF);
}

std::optional<std::uint32_t> ipv4::parse(const QString& text)
{
    const QStringList parts = text.trimmed().split(u'.');
    if (parts.size() != 4)
        return std::nullopt;
    std::uint32_t address = 0;
    for (const QString& part : parts) {
        // Digits only: no sign, no spaces inside.
        const bool digits = std::all_of(part.begin(), part.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
        bool ok = false;
        const uint octet = part.toUInt(&ok);
        if (!digits || !ok || part.isEmpty() || part.size() > 3 || octet > 255)
            return std::nullopt;
        address = (address << 8) | octet;
    }
    return address;
}

bool ipv4::isUnicastDeviceAddress(std::uint32_t address)
{
    const std::uint32_t first = address >> 24;
    return first != 0 && first < 224;
}

QString ipv4::macText(const std::uint8_t* mac)
{
    return QString::asprintf("%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
}
