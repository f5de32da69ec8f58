#include "RawBroadcastListener.h"

#include "protocol/Codec.h"
#include "protocol/NetworkProfile.h"
#include "protocol/SocketOptions.h"

#include <QNetworkInterface>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {
constexpr int kIpv4MinHeader = 20;
constexpr int kUdpHeader = 8;
constexpr std::uint8_t kProtocolUdp = 17;
constexpr std::size_t kMaxPacket = 65536;

std::uint16_t readBe16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
} // namespace

std::optional<RawUdpDatagram> parseIpv4Udp(QByteArrayView packet)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(packet.data());
    const qsizetype size = packet.size();
    if (size < kIpv4MinHeader || (p[0] >> 4) != 4)
        return std::nullopt;
    const int headerLength = (p[0] & 0x0F) * 4;
    const int totalLength = readBe16(p + 2);
    if (headerLength < kIpv4MinHeader || totalLength > size || totalLength < headerLength + kUdpHeader ||
        p[9] != kProtocolUdp)
        return std::nullopt;
    const std::uint8_t* udp = p + headerLength;
    const int udpLength = readBe16(udp + 4);
    if (udpLength < kUdpHeader || headerLength + udpLength > totalLength)
        return std::nullopt;

    RawUdpDatagram d;
    d.sourceAddress = frame::readBe32(p + 12);
    d.destinationAddress = frame::readBe32(p + 16);
    d.sourcePort = readBe16(udp);
    d.destinationPort = readBe16(udp + 2);
    d.payload = QByteArray(reinterpret_cast<const char*>(udp + kUdpHeader), udpLength - kUdpHeader);
    return d;
}

RawBroadcastListener::RawBroadcastListener(QObject* parent) : QObject(parent) {}

RawBroadcastListener::~RawBroadcastListener()
{
    delete m_notifier;
#ifdef Q_OS_LINUX
    if (m_fd >= 0)
        ::close(m_fd);
#endif
}

#ifdef Q_OS_LINUX
bool RawBroadcastListener::open(QString* error)
{
    m_fd = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
    if (m_fd < 0) {
        if (error) {
            *error = QStringLiteral("cannot open a raw UDP socket to hear broadcasts on every port (%1); the real "
                                    "profile needs CAP_NET_RAW, inside a network namespace")
                         .arg(QString::fromLocal8Bit(std::strerror(errno)));
        }
        return false;
    }
    const int bytes = kReplyBufferBytes;
    if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);

    m_broadcastAddresses = {NetworkProfile::kLimitedBroadcast};
    // Devices on the real profile live on a LAN: broadcasts on the loopback interface belong to
    // the loopback profile's simulators and programs, never to these devices.
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        if (interface.flags().testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            if (entry.broadcast().protocol() == QAbstractSocket::IPv4Protocol)
                m_broadcastAddresses.insert(entry.broadcast().toIPv4Address());
        }
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read);
    connect(m_notifier, &QSocketNotifier::activated, this, &RawBroadcastListener::readPending);
    return true;
}

void RawBroadcastListener::readPending()
{
    std::array<char, kMaxPacket> buffer;
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0)
            return; // nothing more waiting (or an error the next notification retries)
        const std::optional<RawUdpDatagram> d = parseIpv4Udp(QByteArrayView(buffer.data(), n));
        if (d && m_broadcastAddresses.contains(d->destinationAddress))
            emit broadcastReceived(d->payload, d->sourceAddress, d->sourcePort);
    }
}
#else
// Hearing broadcasts on every port takes a Linux raw socket; elsewhere only the loopback profile runs.
bool RawBroadcastListener::open(QString* error)
{
    if (error)
        *error = QStringLiteral("the real profile hears broadcasts through a Linux raw socket; on this system use "
                                "--loopback");
    return false;
}

void RawBroadcastListener::readPending() {}
#endif
