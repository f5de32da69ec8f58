#include "CQuickBurnSock.h"

#include <QSocketNotifier>
#include <QTcpSocket>

#include <cerrno>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

CQuickBurnSock::CQuickBurnSock(QObject* parent) : QObject(parent) {}

CQuickBurnSock::~CQuickBurnSock()
{
    close();
}

int CQuickBurnSock::openDatagram()
{
    close();
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = 0;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int code = errno;
        ::close(fd);
        return code;
    }
    m_datagramFd = fd;
    m_datagramNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_datagramNotifier, &QSocketNotifier::activated, this, [this] { emit socketEvent(this, kData, 0); });
    return 0;
}

bool CQuickBurnSock::sendDatagram(QByteArrayView bytes, std::uint32_t address, std::uint16_t port)
{
    if (m_datagramFd < 0)
        return false;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(address);
    to.sin_port = htons(port);
    const ssize_t n = ::sendto(m_datagramFd, bytes.data(), static_cast<std::size_t>(bytes.size()), 0,
                               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return n == bytes.size();
}

qint64 CQuickBurnSock::receiveDatagram(char* buffer, qint64 capacity, std::uint16_t* senderPort)
{
    if (m_datagramFd < 0)
        return -1;
    sockaddr_in from = {};
    socklen_t fromLength = sizeof from;
    const ssize_t n = ::recvfrom(m_datagramFd, buffer, static_cast<std::size_t>(capacity), 0,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0)
        return -1;
    if (senderPort)
        *senderPort = ntohs(from.sin_port);
    return n;
}

void CQuickBurnSock::connectStream(const QHostAddress& address, std::uint16_t port)
{
    close();
    auto* socket = new QTcpSocket(this);
    attach(socket);
    connect(socket, &QTcpSocket::connected, this, [this] {
        m_connected = true;
        emit socketEvent(this, kConnect, 0);
    });
    // A close the device made in good order; a close with an error has been reported by onError.
    connect(socket, &QTcpSocket::disconnected, this, [this] {
        if (m_connected) {
            m_connected = false;
            emit socketEvent(this, kClose, 0);
        }
    });
    socket->connectToHost(address, port);
}

void CQuickBurnSock::attach(QAbstractSocket* socket)
{
    m_socket = socket;
    m_connected = false;
    connect(socket, &QAbstractSocket::readyRead, this, [this] { emit socketEvent(this, kData, 0); });
    connect(socket, &QAbstractSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) { onError(error); });
}

void CQuickBurnSock::onError(int qtSocketError)
{
    if (!m_socket)
        return;
    if (!m_connected) {
        emit socketEvent(this, kConnect, systemErrorCode(qtSocketError));
        return;
    }
    // The peer's close arrives as "remote host closed" followed by the disconnection, which reports it.
    if (qtSocketError == QAbstractSocket::RemoteHostClosedError)
        return;
    m_connected = false;
    emit socketEvent(this, kClose, systemErrorCode(qtSocketError));
}

void CQuickBurnSock::close()
{
    if (m_datagramNotifier) {
        // The notifier may be in its own activation: it goes from the event loop.
        m_datagramNotifier->setEnabled(false);
        m_datagramNotifier->disconnect(this);
        m_datagramNotifier->deleteLater();
        m_datagramNotifier = nullptr;
    }
    if (m_datagramFd >= 0) {
        ::close(m_datagramFd);
        m_datagramFd = -1;
    }
    if (!m_socket)
        return;
    QAbstractSocket* socket = m_socket;
    m_socket = nullptr;
    m_connected = false;
    socket->disconnect(this);
    socket->abort(); // the descriptor closes now; the object goes once its own handlers have returned
    socket->deleteLater();
}

QTcpSocket* CQuickBurnSock::stream() const
{
    return qobject_cast<QTcpSocket*>(m_socket);
}

int CQuickBurnSock::systemErrorCode(int qtSocketError)
{
    switch (qtSocketError) {
    case QAbstractSocket::ConnectionRefusedError:
        return ECONNREFUSED;
    case QAbstractSocket::RemoteHostClosedError:
        return ECONNRESET;
    case QAbstractSocket::HostNotFoundError:
        return EHOSTUNREACH;
    case QAbstractSocket::SocketAccessError:
        return EACCES;
    case QAbstractSocket::SocketResourceError:
        return ENOBUFS;
    case QAbstractSocket::SocketTimeoutError:
        return ETIMEDOUT;
    case QAbstractSocket::DatagramTooLargeError:
        return EMSGSIZE;
    case QAbstractSocket::NetworkError:
        return ENETUNREACH;
    case QAbstractSocket::AddressInUseError:
        return EADDRINUSE;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return EADDRNOTAVAIL;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return EOPNOTSUPP;
    default:
        return EIO;
    }
}
