#include "NetworkProfile.h"

#include <QRandomGenerator>

#include <algorithm>

namespace {
constexpr std::uint16_t kLoopbackTftpPort = 51069;
constexpr std::uint16_t kLoopbackShellPort = 51023;
constexpr std::uint16_t kHighestBroadcastPort = 32767;

bool takePort(QStringList& args, const QString& option, std::uint16_t& port, QString& error)
{
    const qsizetype at = args.indexOf(option);
    if (at < 0)
        return true;
    if (at + 1 >= args.size()) {
        error = QStringLiteral("%1 needs a port number").arg(option);
        return false;
    }
    // Digits only: a sign, spaces or a trailing newline are refused, not trimmed away.
    const QString& text = args.at(at + 1);
    const bool digits = !text.isEmpty() && text.size() <= 5 &&
                        std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    bool ok = false;
    const uint value = digits ? text.toUInt(&ok) : 0;
    if (!ok || value == 0 || value > 65535) {
        error = QStringLiteral("%1: \"%2\" is not a port number (1-65535)").arg(option, args.at(at + 1));
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    args.remove(at, 2);
    return true;
}
} // namespace

NetworkProfile NetworkProfile::real()
{
    return NetworkProfile{};
}

NetworkProfile NetworkProfile::loopbackProfile()
{
    NetworkProfile p;
    p.loopback = true;
    p.devicePort = kLoopbackDevicePort;
    p.broadcastAddress = kLoopbackBroadcast;
    p.randomBroadcastPort = false;
    p.tftpPort = kLoopbackTftpPort;
    p.shellPort = kLoopbackShellPort;
    return p;
}

std::uint16_t NetworkProfile::broadcastPort() const
{
    if (!randomBroadcastPort)
        return devicePort;
    // Port 0 is never a destination; devices hear a broadcast whatever its port.
    return static_cast<std::uint16_t>(QRandomGenerator::global()->bounded(1, kHighestBroadcastPort + 1));
}

std::optional<QString> NetworkProfile::fromArguments(QStringList& args, NetworkProfile& out)
{
    if (args.removeAll(QStringLiteral("--loopback")) > 0)
        out = loopbackProfile();
    QString error;
    if (!takePort(args, QStringLiteral("--device-port"), out.devicePort, error) ||
        !takePort(args, QStringLiteral("--tftp-port"), out.tftpPort, error) ||
        !takePort(args, QStringLiteral("--shell-port"), out.shellPort, error))
        return error;
    return std::nullopt;
}
