#include "SocketOptions.h"

#include <QUdpSocket>

#include <sys/socket.h>

bool bindShared(QUdpSocket& socket, const QHostAddress& address, std::uint16_t port)
{
    return socket.bind(address, port, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
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
