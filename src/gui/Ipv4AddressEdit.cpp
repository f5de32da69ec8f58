#include "Ipv4AddressEdit.h"

#include "protocol/Ipv4.h"

#include <QFontMetrics>
#include <QRegularExpressionValidator>

Ipv4AddressEdit::Ipv4AddressEdit(QWidget* parent) : QLineEdit(parent)
{
    // Digits and dots only, any number of them: a key the field cannot take is refused as it is typed,
    // and nothing typed is ever dropped later.
    setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9.]*")), this));
    setMaxLength(32767);
    setPlaceholderText(QStringLiteral("0.0.0.0"));
    setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.255")) + 16);
}

Ipv4AddressEdit::Text Ipv4AddressEdit::judge() const
{
    if (text().isEmpty())
        return Text::Blank;
    return ipv4::parse(text()) ? Text::Address : Text::Malformed;
}

std::optional<std::uint32_t> Ipv4AddressEdit::typedAddress() const
{
    return ipv4::parse(text());
}

std::optional<std::uint32_t> Ipv4AddressEdit::addressOrZero() const
{
    if (text().isEmpty())
        return 0u;
    return ipv4::parse(text());
}

void Ipv4AddressEdit::setAddress(std::uint32_t address)
{
    setText(ipv4::dotted(address));
}
