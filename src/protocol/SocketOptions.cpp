#include "SocketOptions.h"

#include <QUdpSocket>

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

bool bindShared(QUdpSocket& socket, const QHostAddress& address, std::uint16_t port)
{
    return bindUdp(socket, address, port, PortSharing::Shared).isEmpty();
}

int sizeReceiveBuffer(QUdpSocket& socket, int bytes)
{
    const auto fd = static_cast<int>(socket.socketDescriptor());
    if (fd < 0)
        return 0;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    int granted = 0;
    socklen_t length = sizeof granted;
    ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &length);
    return granted;
}
