#include "FirmwarePeers.h"

#include <QCryptographicHash>
#include <QTest>
#include <QTimer>

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
