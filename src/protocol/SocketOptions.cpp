#include "SocketOptions.h"

#include <QUdpSocket>
#include <QVariant>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#endif

bool bindShared(QUdpSocket& socket, const QHostAddress& address, std::uint16_t port)
{
    return socket.bind(address, port, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
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
