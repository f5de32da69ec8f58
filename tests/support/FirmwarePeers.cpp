#include "FirmwarePeers.h"

#include <QCryptographicHash>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fwtest {
QByteArray sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QByteArray pattern(qsizetype size, std::uint32_t seed)
{
    QByteArray out(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (qsizetype i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>(x);
    }
    return out;
}

UdpPeer::UdpPeer(std::uint32_t address, std::uint16_t port)
{
    m_socket.bind(QHostAddress(address), port);
    QObject::connect(&m_socket, &QUdpSocket::readyRead, &m_socket, [this] {
        while (m_socket.hasPendingDatagrams())
            m_received << m_socket.receiveDatagram();
    });
}

bool UdpPeer::waitFor(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_received.size() >= count; }, timeoutMs);
}

void UdpPeer::replyTo(int index, const QByteArray& bytes)
{
    sendTo(m_received.at(index), bytes);
}

void UdpPeer::sendTo(const QNetworkDatagram& datagram, const QByteArray& bytes)
{
    m_socket.writeDatagram(bytes, datagram.senderAddress(), static_cast<quint16>(datagram.senderPort()));
}

ShellPeer::ShellPeer(std::uint32_t address, std::uint16_t port)
{
    m_server.listen(QHostAddress(address), port);
    QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
        QTcpSocket* socket = m_server.nextPendingConnection();
        if (m_client) {
            socket->abort();
            return;
        }
        m_client = socket;
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { m_typed += socket->readAll(); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [this] { m_closed = true; });
    });
}

bool ShellPeer::waitForConnection(int timeoutMs)
{
    return QTest::qWaitFor([&] { return !m_client.isNull(); }, timeoutMs);
}

bool ShellPeer::waitForTyped(const QByteArray& bytes, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_typed.size() >= bytes.size(); }, timeoutMs) && m_typed == bytes;
}

void ShellPeer::say(const QByteArray& text)
{
    if (m_client)
        m_client->write(text);
}

void ShellPeer::hangUp()
{
    if (m_client)
        m_client->disconnectFromHost();
}

DroppingShellPeer::DroppingShellPeer(std::uint32_t address, std::uint16_t port)
{
    sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(address);
    at.sin_port = htons(port);
    const auto* where = reinterpret_cast<const sockaddr*>(&at);
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // A backlog of 0 leaves room for one queued connection; the queue is full once it holds one.
    if (m_listener < 0 || ::bind(m_listener, where, sizeof at) != 0 || ::listen(m_listener, 0) != 0)
        return;
    m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_filler < 0 || ::connect(m_filler, where, sizeof at) != 0)
        return;
    // The handshake ends on the listener's side when it has taken the final ACK; wait for that.
    if (!QTest::qWaitFor([this] { return queued() >= 1; }, 2000))
        qWarning("the dropping shell's own connection did not reach its accept queue");
}

DroppingShellPeer::~DroppingShellPeer()
{
    if (m_filler >= 0)
        ::close(m_filler);
    if (m_listener >= 0)
        ::close(m_listener);
}

int DroppingShellPeer::queued() const
{
    // For a listening socket the system reports the length of its accept queue as "unacked".
    tcp_info info = {};
    socklen_t length = sizeof info;
    if (m_listener < 0 || ::getsockopt(m_listener, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
        return -1;
    return static_cast<int>(info.tcpi_unacked);
}

bool DroppingShellPeer::isDropping() const
{
    return m_filler >= 0 && queued() >= 1;
}

Recorder::Recorder(CQuickBurnWnd* engine)
{
    if (engine)
        attach(engine);
}

void Recorder::attach(CQuickBurnWnd* engine)
{
    connect(engine, &CQuickBurnWnd::transferNotification, this, [this](int code, qint64 value, const QString& message) {
        m_log << Entry{code, value, message};
        if (m_waiting && code != CQuickBurnWnd::kProgress)
            m_waiting->quit();
    });
    engine->setAddressCacheFlush([this](std::uint32_t address) { flushed << address; });
}

void Recorder::ShowProgress(const QString& text)
{
    m_pleaseWaitText = text;
    m_shown = true;
    m_log << Entry{kShown, 0, text};
}

void Recorder::HideProgress()
{
    if (m_shown)
        m_log << Entry{kHidden, 0, {}};
    m_shown = false;
}

QList<int> Recorder::finalCodes() const
{
    QList<int> codes;
    for (const Entry& e : m_log) {
        if (e.code >= 0 && e.code != CQuickBurnWnd::kProgress)
            codes << e.code;
    }
    return codes;
}

QList<qint64> Recorder::progress() const
{
    QList<qint64> values;
    for (const Entry& e : m_log) {
        if (e.code == CQuickBurnWnd::kProgress)
            values << e.value;
    }
    return values;
}

Recorder::Entry Recorder::lastFinal() const
{
    for (auto it = m_log.crbegin(); it != m_log.crend(); ++it) {
        if (it->code >= 0 && it->code != CQuickBurnWnd::kProgress)
            return *it;
    }
    return Entry{-100, 0, {}};
}

bool Recorder::waitForFinal(int timeoutMs)
{
    if (finalCodes().isEmpty()) {
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        m_waiting = &loop;
        loop.exec();
        m_waiting = nullptr;
    }
    return !finalCodes().isEmpty();
}
} // namespace fwtest
