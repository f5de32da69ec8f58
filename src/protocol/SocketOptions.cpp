#include "SocketOptions.h"

#include <QUdpSocket>
#include <QVariant>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#endif
#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#endif

#ifdef Q_OS_UNIX
namespace {
/** "[98] Address already in use": the system's number and text, as the program shows system errors. */
QString systemReason(int error)
{
    return QStringLiteral("[%1] %2").arg(error).arg(QString::fromLocal8Bit(std::strerror(error)));
}

/** "0.0.0.0 port 50005", or "192.0.2.1, any port" where the system was to choose the port. */
QString endpointText(const QHostAddress& address, std::uint16_t port)
{
    return port == 0 ? QStringLiteral("%1, any port").arg(address.toString())
                     : QStringLiteral("%1 port %2").arg(address.toString()).arg(port);
}

QString failure(const char* step, const QHostAddress& address, std::uint16_t port, int error)
{
    return QStringLiteral("%1 %2: %3").arg(QLatin1String(step), endpointText(address, port), systemReason(error));
}
} // namespace

QString bindUdp(QUdpSocket& socket, const QHostAddress& address, std::uint16_t port, PortSharing sharing)
{
    // The socket is made and bound here rather than by Qt, so that the system's reason for a failure
    // reaches the user and SO_REUSEADDR is set exactly when the port is meant to be shared.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return failure("socket for", address, port, errno);
    const int share = sharing == PortSharing::Shared ? 1 : 0;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &share, sizeof share);
    // As on the sockets Qt makes itself: each datagram tells its destination address and hop limit.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(address.toIPv4Address());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int error = errno;
        ::close(fd);
        return failure("bind", address, port, error);
    }
    if (!socket.setSocketDescriptor(fd, QAbstractSocket::BoundState)) {
        ::close(fd);
        return QStringLiteral("bind %1: %2").arg(endpointText(address, port), socket.errorString());
    }
    return {};
}
#else
QString bindUdp(QUdpSocket& socket, const QHostAddress& address, std::uint16_t port, PortSharing sharing)
{
    // Elsewhere Qt binds; its error text stands in for the system's reason.
    const QAbstractSocket::BindMode mode = sharing == PortSharing::Shared
                                               ? QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint
                                               : QAbstractSocket::DontShareAddress;
    if (socket.bind(address, port, mode))
        return {};
    return QStringLiteral("bind %1 port %2: %3").arg(address.toString()).arg(port).arg(socket.errorString());
}
#endif

bool bindShared(QUdpSocket& socket, const QHostAddress& address, std::uint16_t port)
{
    return bindUdp(socket, address, port, PortSharing::Shared).isEmpty();
}

int sizeReceiveBuffer(QUdpSocket& socket, int bytes)
{
    if (socket.socketDescriptor() < 0)
        return 0;
#ifdef Q_OS_LINUX
    // A process with CAP_NET_ADMIN may go beyond the system's cap (net.core.rmem_max); the portable
    // request below then changes nothing, as the buffer is already as large as asked.
    const auto fd = static_cast<int>(socket.socketDescriptor());
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
#endif
    const QVariant granted = socket.socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption);
    if (granted.toInt() < bytes)
        socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, bytes);
    return socket.socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
}
