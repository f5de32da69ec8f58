#include "PortLink.h"

#include "protocol/SocketOptions.h"
#include "text/StringTable.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <fcntl.h>

namespace serial {
namespace {
constexpr std::uint32_t kLoopbackMask = 0xFF000000;
constexpr std::uint32_t kLoopbackNet = 0x7F000000;
constexpr int kUdpBufferBytes = 1024 * 1024;
constexpr qint64 kTcpReadBufferBytes = 256 * 1024;

// String table ids of the port messages.
constexpr int kStrAtCommandMode = 2000;
constexpr int kStrUnknownMode = 2001;
constexpr int kStrPeerNotLocal = 2002;
constexpr int kStrCannotListen = 2003;
constexpr int kStrCannotBind = 2004;
constexpr int kStrRefused = 2005;
constexpr int kStrNoConnection = 2006;
constexpr int kStrLost = 2007;
constexpr int kStrPortOfDevice = 2016;

QString addressText(std::uint32_t address)
{
    return QHostAddress(address).toString();
}

/** True when `address` belongs to this machine: the loopback network, or an address of an interface. */
bool isLocalAddress(std::uint32_t address)
{
    if ((address & kLoopbackMask) == kLoopbackNet)
        return true;
    const QList<QHostAddress> local = QNetworkInterface::allAddresses();
    return local.contains(QHostAddress(address));
}
} // namespace

std::uint32_t PortTarget::address() const
{
    return multiIp && block.localIp() != 0 ? block.localIp() : deviceAddress;
}

QString PortTarget::name(const StringTable& texts) const
{
    return texts.text(kStrPortOfDevice).arg(QStringLiteral("COM%1").arg(port + 1), addressText(deviceAddress));
}

QString PortTarget::endpointText() const
{
    switch (block.mode()) {
    case EnvPortBlock::kTcpServer:
        return QStringLiteral("TCP %1:%2").arg(addressText(address())).arg(block.localPort());
    case EnvPortBlock::kUdp:
        return QStringLiteral("UDP %1:%2").arg(addressText(address())).arg(block.localPort());
    case EnvPortBlock::kTcpClient:
        return QStringLiteral("TCP %1:%2").arg(addressText(block.peerIp())).arg(block.peerPort());
    default:
        return QString();
    }
}

QString problemText(const StringTable& texts, Problem problem, const PortTarget& target, const QString& detail,
                    int waitMs)
{
    QString text;
    switch (problem) {
    case Problem::None:
        return QString();
    case Problem::AtCommandMode:
        text = texts.text(kStrAtCommandMode).arg(target.name(texts));
        break;
    case Problem::UnknownMode:
        text = texts.text(kStrUnknownMode).arg(target.name(texts)).arg(target.block.mode());
        break;
    case Problem::PeerNotLocal:
        text = texts.text(kStrPeerNotLocal)
                   .arg(target.name(texts),
                        QStringLiteral("%1:%2").arg(addressText(target.block.peerIp())).arg(target.block.peerPort()));
        break;
    case Problem::CannotListen:
        text = texts.text(kStrCannotListen).arg(target.name(texts), target.endpointText(), detail);
        break;
    case Problem::CannotBind:
        text = texts.text(kStrCannotBind).arg(target.name(texts), detail);
        break;
    case Problem::Refused:
        text = texts.text(kStrRefused).arg(target.name(texts), target.endpointText(), detail);
        break;
    case Problem::NoConnection:
        text = texts.text(kStrNoConnection).arg(target.name(texts), target.endpointText()).arg(waitMs);
        break;
    case Problem::Lost:
        text = texts.text(kStrLost).arg(target.name(texts), target.endpointText(), detail);
        break;
    }
    return text;
}

Problem precheck(const PortTarget& target)
{
    switch (target.block.mode()) {
    case EnvPortBlock::kTcpServer:
    case EnvPortBlock::kUdp:
        return Problem::None;
    case EnvPortBlock::kAtCommand:
        return Problem::AtCommandMode;
    case EnvPortBlock::kTcpClient:
        return isLocalAddress(target.block.peerIp()) ? Problem::None : Problem::PeerNotLocal;
    default:
        return Problem::UnknownMode;
    }
}

PortLink::PortLink(const PortTarget& target, QObject* parent) : QObject(parent), m_target(target) {}

PortLink::~PortLink()
{
    close();
}

void PortLink::open()
{
    close();
    if (const Problem problem = precheck(m_target); problem != Problem::None) {
        fail(problem, QString());
        return;
    }
    switch (m_target.block.mode()) {
    case EnvPortBlock::kTcpServer:
        openTcp();
        break;
    case EnvPortBlock::kUdp:
        openUdp();
        break;
    default:
        listenForDevice();
        break;
    }
}

void PortLink::close()
{
    m_open = false;
    for (QObject* object : {static_cast<QObject*>(m_tcp), static_cast<QObject*>(m_server),
                            static_cast<QObject*>(m_udp)}) {
        if (!object)
            continue;
        object->disconnect(this);
        if (auto* socket = qobject_cast<QAbstractSocket*>(object))
            socket->abort();
        object->deleteLater();
    }
    m_tcp = nullptr;
    m_server = nullptr;
    m_udp = nullptr;
}

bool PortLink::send(QByteArrayView bytes)
{
    if (!m_open)
        return false;
    if (m_tcp) {
        if (bytes.isEmpty())
            return true;
        if (m_tcp->write(bytes.data(), bytes.size()) != bytes.size())
            return false;
        m_tcp->flush(); // hand it to the system now: a one-byte echo waits for nothing
        return true;
    }
    const QHostAddress to(m_target.address());
    for (qsizetype at = 0; at < bytes.size(); at += kMaxDatagram) {
        const QByteArrayView piece = bytes.sliced(at, std::min<qsizetype>(kMaxDatagram, bytes.size() - at));
        if (m_udp->writeDatagram(piece.data(), piece.size(), to, m_target.block.localPort()) != piece.size())
            return false;
    }
    return true;
}

qint64 PortLink::bytesToWrite() const
{
    return m_tcp ? m_tcp->bytesToWrite() : 0;
}

void PortLink::setReading(bool reading)
{
    if (m_reading == reading)
        return;
    m_reading = reading;
    if (reading && m_tcp && m_tcp->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &PortLink::readTcp, Qt::QueuedConnection);
}

void PortLink::openTcp()
{
    auto* socket = new QTcpSocket(this);
    m_tcp = socket;
    socket->setReadBufferSize(kTcpReadBufferBytes);
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_open = true;
        emit opened();
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError) {
        if (socket != m_tcp)
            return;
        const bool wasOpen = m_open;
        const QString reason = socket->errorString();
        const QByteArray last = socket->readAll(); // what came before the close is the device's too
        close();
        if (!last.isEmpty())
            emit received(last);
        if (wasOpen)
            emit lost(reason);
        else
            fail(Problem::Refused, reason);
    });
    connect(socket, &QTcpSocket::readyRead, this, &PortLink::readTcp);
    connect(socket, &QTcpSocket::bytesWritten, this, &PortLink::bytesWritten);
    socket->connectToHost(QHostAddress(m_target.address()), m_target.block.localPort());
}

void PortLink::openUdp()
{
    m_udp = new QUdpSocket(this);
    // From a loopback address to a loopback device, else from whatever address routes to it.
    const bool loopback = (m_target.address() & kLoopbackMask) == kLoopbackNet;
    const QString problem =
        bindUdp(*m_udp, loopback ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(QHostAddress::AnyIPv4), 0,
                PortSharing::Exclusive);
    if (!problem.isEmpty()) {
        fail(Problem::CannotBind, problem);
        return;
    }
    sizeReceiveBuffer(*m_udp, kUdpBufferBytes);
    connect(m_udp, &QUdpSocket::readyRead, this, &PortLink::readUdp);
    m_open = true;
    QMetaObject::invokeMethod(this, &PortLink::opened, Qt::QueuedConnection);
}

void PortLink::listenForDevice()
{
    m_server = new QTcpServer(this);
    if (!m_server->listen(QHostAddress(m_target.block.peerIp()), m_target.block.peerPort())) {
        fail(Problem::CannotListen, m_server->errorString());
        return;
    }
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        // m_server goes when the owner takes the connection it adopts (releaseTcp) or closes the link.
        while (QTcpSocket* socket = m_server ? m_server->nextPendingConnection() : nullptr) {
            // Only the device's own addresses: another program connecting here is not the port.
            const std::uint32_t from = socket->peerAddress().toIPv4Address();
            if (m_tcp || (from != m_target.deviceAddress && from != m_target.address())) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            adopt(socket);
        }
    });
}

void PortLink::adopt(QTcpSocket* socket)
{
    m_tcp = socket;
    socket->setParent(this);
    socket->setReadBufferSize(kTcpReadBufferBytes);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::readyRead, this, &PortLink::readTcp);
    connect(socket, &QTcpSocket::bytesWritten, this, &PortLink::bytesWritten);
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError) {
        if (socket != m_tcp)
            return;
        const QString reason = socket->errorString();
        const QByteArray last = socket->readAll();
        m_open = false;
        m_tcp = nullptr;
        if (!last.isEmpty())
            emit received(last);
        socket->disconnect(this);
        socket->deleteLater();
        emit lost(reason); // the server stays: the device connects again
    });
    m_open = true;
    emit opened();
    if (m_tcp == socket && socket->bytesAvailable() > 0) // not when opened() took the connection
        readTcp();
}

int PortLink::releaseTcp(QByteArray* received)
{
    if (!m_open || !m_tcp)
        return -1;
    const int fd = ::fcntl(static_cast<int>(m_tcp->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (received)
        *received = m_tcp->readAll();
    // Closing Qt's descriptor leaves the connection up: the duplicate still holds it.
    close();
    return fd;
}

void PortLink::readTcp()
{
    if (!m_tcp || !m_reading)
        return;
    const QByteArray bytes = m_tcp->readAll();
    if (!bytes.isEmpty())
        emit received(bytes);
}

void PortLink::readUdp()
{
    while (m_udp && m_udp->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_udp->receiveDatagram();
        // Only the port's answers: the device's address and the port's local port.
        if (!datagram.isValid() || datagram.senderAddress().toIPv4Address() != m_target.address() ||
            datagram.senderPort() != m_target.block.localPort())
            continue;
        if (!datagram.data().isEmpty())
            emit received(datagram.data());
    }
}

void PortLink::fail(Problem problem, const QString& detail)
{
    close();
    // Said from the event loop, so an owner that calls open() hears it after open() returned.
    QMetaObject::invokeMethod(
        this, [this, problem, detail] { emit failed(problem, detail); }, Qt::QueuedConnection);
}
} // namespace serial
