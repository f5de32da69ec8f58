#include "LocalAdapters.h"

#include <QHostAddress>
#include <QNetworkInterface>

namespace {
constexpr std::uint32_t kLoopbackAddress = 0x7F000001; // 127.0.0.1

QString loopbackAdapterName()
{
    const QList<QNetworkInterface> nics = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& nic : nics) {
        if (nic.flags().testFlag(QNetworkInterface::IsLoopBack))
            return nic.name();
    }
    return QStringLiteral("lo");
}

std::uint32_t firstIpv4(const QNetworkInterface& nic)
{
    const QList<QNetworkAddressEntry> entries = nic.addressEntries();
    for (const QNetworkAddressEntry& entry : entries) {
        if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol && entry.ip().toIPv4Address() != 0)
            return entry.ip().toIPv4Address();
    }
    return 0;
}
} // namespace

QList<LocalAdapter> broadcastAdapters(const NetworkProfile& profile)
{
    if (profile.loopback)
        return {LocalAdapter{loopbackAdapterName(), kLoopbackAddress}};
    QList<LocalAdapter> adapters;
    const QList<QNetworkInterface> nics = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& nic : nics) {
        const QNetworkInterface::InterfaceFlags flags = nic.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || flags.testFlag(QNetworkInterface::IsLoopBack) ||
            !flags.testFlag(QNetworkInterface::CanBroadcast))
            continue;
        if (const std::uint32_t address = firstIpv4(nic))
            adapters.append(LocalAdapter{nic.name(), address});
    }
    return adapters;
}
