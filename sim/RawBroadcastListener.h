#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QSet>
#include <QString>

#include <cstdint>
#include <optional>

class QSocketNotifier;

/** One UDP datagram as a raw socket delivers it, its IPv4 and UDP headers taken apart. Addresses are
 *  host-order numbers. */
struct RawUdpDatagram
{
    std::uint32_t sourceAddress = 0;
    std::uint32_t destinationAddress = 0;
    std::uint16_t sourcePort = 0;
    std::uint16_t destinationPort = 0;
    QByteArray payload;
};

/** Parses an IPv4 packet carrying UDP (header lengths, protocol, UDP length checked); nothing when it
 *  is not one. */
std::optional<RawUdpDatagram> parseIpv4Udp(QByteArrayView packet);

/**
 * Hears UDP broadcasts whatever their destination port, as Tessel devices do: a raw socket (AF_INET,
 * SOCK_RAW, IPPROTO_UDP; needs CAP_NET_RAW) watched by a QSocketNotifier. Only datagrams sent to
 * 255.255.255.255 or to the broadcast address of a local interface are reported. Used by the
 * simulator's real profile, inside a network namespace.
 */
class RawBroadcastListener final : public QObject
{
    Q_OBJECT

public:
    explicit RawBroadcastListener(QObject* parent = nullptr);
    ~RawBroadcastListener() override;

    /** Opens the raw socket; false with the reason (no privileges, typically). */
    bool open(QString* error);

signals:
    void broadcastReceived(const QByteArray& payload, quint32 sourceAddress, quint16 sourcePort);

private:
    void readPending();

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    QSet<quint32> m_broadcastAddresses;
};
