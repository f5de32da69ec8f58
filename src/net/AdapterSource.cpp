#include "AdapterSource.h"

#include <QHostAddress>
#include <QNetworkInterface>

namespace {
QString typeName(QNetworkInterface::InterfaceType type)
{
    switch (type) {
    case QNetworkInterface::Loopback:
        return QStringLiteral("Loopback");
    case QNetworkInterface::Virtual:
        return QStringLiteral("Virtual");
    case QNetworkInterface::Ethernet:
        return QStringLiteral("Ethernet");
    case QNetworkInterface::Wifi:
        return QStringLiteral("Wi-Fi");
    case QNetworkInterface::Ppp:
        return QStringLiteral("PPP");
    case QNetworkInterface::CanBus:
        return QStringLiteral("CAN bus");
    case QNetworkInterface::Ieee80216:
        return QStringLiteral("WiMAX");
    case QNetworkInterface::Ieee1394:
        return QStringLiteral("FireWire");
    default:
        return QStringLiteral("Network adapter");
    }
}

QString describe(const QNetworkInterface& nic)
{
    QString text = nic.humanReadableName() + QStringLiteral(" — ") + typeName(nic.type());
    const QString mac = nic.hardwareAddress().toLower();
    if (!mac.isEmpty() && mac != QStringLiteral("00:00:00:00:00:00"))
        text += u' ' + mac;
    return text;
}
} // namespace

QList<AdapterInfo> SystemAdapterSource::adapters() const
{
    QList<AdapterInfo> list;
    const QList<QNetworkInterface> nics = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& nic : nics) {
        AdapterInfo info{nic.name(), describe(nic), {}};
        const QList<QNetworkAddressEntry> entries = nic.addressEntries();
        for (const QNetworkAddressEntry& entry : entries) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                info.addresses.append(entry.ip().toString());
        }
        // As GetAdaptersInfo, an adapter without an address reports 0.0.0.0.
        if (info.addresses.isEmpty())
            info.addresses.append(QStringLiteral("0.0.0.0"));
        list.append(info);
    }
    return list;
}
