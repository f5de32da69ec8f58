#include "CQuickBurnSock.h"

#include <QTcpSocket>
#include <QUdpSocket>

#include <cerrno>

CQuickBurnSock::CQuickBurnSock(QObject* parent) : QObject(parent) {}

CQuickBurnSock::~CQuickBurnSock()
{
    close();
}

int CQuickBurnSock::openDatagram()
{
    close();
    auto* socket = new QUdpSocket(this);
    if (!socket->bind(QHostAddress(QHostAddress::AnyIPv4), 0)) {
        const int code = systemErrorCode(socket->error());
        delete socket;
        return code;
    }
    attach(socket);
    return 0;
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
    if (!m_socket || m_socket->socketType() != QAbstractSocket::TcpSocket)
        return; // datagram send and receive failures are covered by the retransmission timer
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
    if (!m_socket)
        return;
    QAbstractSocket* socket = m_socket;
    m_socket = nullptr;
    m_connected = false;
    socket->disconnect(this);
    socket->abort(); // the descriptor closes now; the object goes once its own handlers have returned
    socket->deleteLater();
}

QUdpSocket* CQuickBurnSock::datagram() const
{
    return qobject_cast<QUdpSocket*>(m_socket);
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
