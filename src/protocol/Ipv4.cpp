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
    // Blanks around the address are trimmed; a line break is not a blank here.
    QStringView view(text);
    while (!view.isEmpty() && (view.front() == u' ' || view.front() == u'\t'))
        view = view.mid(1);
    while (!view.isEmpty() && (view.back() == u' ' || view.back() == u'\t'))
        view.chop(1);
    const QList<QStringView> parts = view.split(u'.');
    if (parts.size() != 4)
        return std::nullopt;
    std::uint32_t address = 0;
    for (const QStringView part : parts) {
        // One to three digits, no sign, no space inside, and no leading zero: "010" is 8 to some programs
        // and 10 to others, so it is refused rather than guessed.
        const bool digits = std::all_of(part.begin(), part.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
        if (!digits || part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.front() == u'0'))
            return std::nullopt;
        const uint octet = part.toUInt();
        if (octet > 255)
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
