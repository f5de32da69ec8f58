#include "FormValidation.h"

#include <QRegularExpression>

namespace form {
namespace {
QString portPrefix(int port)
{
    return QStringLiteral("com%1.").arg(port + 1);
}

std::optional<Problem> checkNumber(const QString& text, Field field, int port, int min, int max)
{
    const std::optional<qint64> value = readInteger(text);
    if (!value)
        return Problem{field, port, Rule::NotInteger, min, max, text};
    if (*value < min || *value > max)
        return Problem{field, port, Rule::OutOfRange, min, max, text};
    return std::nullopt;
}

std::optional<Problem> checkNumbers(const std::array<QString, kPortCount>& texts, Field field, int min, int max)
{
    for (int port = 0; port < kPortCount; ++port) {
        if (auto problem = checkNumber(texts[port], field, port, min, max))
            return problem;
    }
    return std::nullopt;
}

bool isAddressText(const QString& text)
{
    if (text.isEmpty())
        return true; // a blank field stands for 0.0.0.0
    static const QRegularExpression quad(QStringLiteral("\\A(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\z"));
    const QRegularExpressionMatch match = quad.match(text);
    if (!match.hasMatch())
        return false;
    for (int i = 1; i <= 4; ++i) {
        if (match.capturedView(i).toUInt() > 255)
            return false;
    }
    return true;
}

std::optional<Problem> checkAddress(const QString& text, Field field, int port = -1)
{
    if (isAddressText(text))
        return std::nullopt;
    return Problem{field, port, Rule::NotAnAddress, 0, 0, text};
}

std::optional<Problem> checkLength(const QString& text, Field field, int max)
{
    if (text.size() <= max)
        return std::nullopt;
    return Problem{field, -1, Rule::TooLong, 0, max, text};
}

std::optional<Problem> checkAddresses(const FormValues& v)
{
    if (v.checkNetworkAddresses) {
        if (auto p = checkAddress(v.ipAddress, Field::IpAddress))
            return p;
        if (auto p = checkAddress(v.subnetMask, Field::SubnetMask))
            return p;
        if (auto p = checkAddress(v.gateway, Field::Gateway))
            return p;
    }
    for (int port = 0; port < kPortCount; ++port) {
        if (auto p = checkAddress(v.localIp[port], Field::LocalIp, port))
            return p;
        if (auto p = checkAddress(v.peerIp[port], Field::PeerIp, port))
            return p;
    }
    return std::nullopt;
}
} // namespace

std::optional<qint64> readInteger(const QString& text)
{
    static const QRegularExpression integer(QStringLiteral("\\A\\s*[-+]?\\d{1,12}\\s*\\z"));
    if (!integer.match(text).hasMatch())
        return std::nullopt;
    return text.trimmed().toLongLong();
}

std::optional<Problem> validate(const FormValues& v)
{
    if (auto p = checkLength(v.password, Field::Password, kPasswordMax))
        return p;
    if (auto p = checkNumbers(v.peerPort, Field::PeerPort, kPortMin, kPortMax))
        return p;
    if (auto p = checkNumbers(v.timeout, Field::Timeout, kTimeoutMin, kTimeoutMax))
        return p;
    if (auto p = checkNumbers(v.eventByte, Field::EventByte, kEventByteMin, kEventByteMax))
        return p;
    if (auto p = checkNumbers(v.localPort, Field::LocalPort, kPortMin, kPortMax))
        return p;
    if (auto p = checkLength(v.comment, Field::Comment, kCommentMax))
        return p;
    if (auto p = checkAddresses(v))
        return p;
    // The device runs one address per serial port only with a static main address, and an EAPoL
    // account (MD5) does not go with a PPPoE one.
    if (!v.checkCombinations)
        return std::nullopt;
    if (v.multiIp == 1 && v.ipv4Type != 0)
        return Problem{Field::Ipv4Type, -1, Rule::MultiIpNeedsStatic, 0, 0, {}};
    if (v.eapol == 1 && v.ipv4Type == 2)
        return Problem{Field::Eapol, -1, Rule::Md5ExcludesPppoe, 0, 0, {}};
    return std::nullopt;
}

QString Problem::fieldName() const
{
    switch (field) {
    case Field::Password:
        return QStringLiteral("password");
    case Field::Comment:
        return QStringLiteral("comment");
    case Field::IpAddress:
        return QStringLiteral("ipAddress");
    case Field::SubnetMask:
        return QStringLiteral("subnetMask");
    case Field::Gateway:
        return QStringLiteral("gateway");
    case Field::Ipv4Type:
        return QStringLiteral("ipv4Type");
    case Field::Eapol:
        return QStringLiteral("eapol");
    case Field::PeerPort:
        return portPrefix(port) + QStringLiteral("peerPort");
    case Field::Timeout:
        return portPrefix(port) + QStringLiteral("timeout");
    case Field::EventByte:
        return portPrefix(port) + QStringLiteral("waterMark");
    case Field::LocalPort:
        return portPrefix(port) + QStringLiteral("localPort");
    case Field::LocalIp:
        return portPrefix(port) + QStringLiteral("localIp");
    case Field::PeerIp:
        return portPrefix(port) + QStringLiteral("peerIp");
    }
    return {};
}

QString Problem::describe() const
{
    const QString name = fieldName();
    switch (rule) {
    case Rule::TooLong:
        return QStringLiteral("%1: at most %2 characters").arg(name).arg(max);
    case Rule::NotInteger:
        return QStringLiteral("%1: \"%2\" is not an integer").arg(name, text);
    case Rule::OutOfRange:
        return QStringLiteral("%1: %2 is outside %3 to %4").arg(name, text.trimmed()).arg(min).arg(max);
    case Rule::NotAnAddress:
        return QStringLiteral("%1: \"%2\" is not a valid IPv4 address").arg(name, text);
    case Rule::MultiIpNeedsStatic:
        return QStringLiteral("%1: Multi IP needs the static IPv4 type (ipv4Type=0)").arg(name);
    case Rule::Md5ExcludesPppoe:
        return QStringLiteral("%1: EAPoL MD5 cannot be used with PPPoE (ipv4Type=2)").arg(name);
    }
    return name;
}
} // namespace form
