#include "SimSerial.h"

#include "protocol/SocketOptions.h"
#include "serial/Pty.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include <cerrno>

#include <unistd.h>

namespace {
constexpr std::uint32_t kLoopbackMask = 0xFF000000;
constexpr std::uint32_t kLoopbackNet = 0x7F000000;
constexpr std::uint32_t kDefaultBaud = 19200;
constexpr qint64 kLineRoom = 256 * 1024;           // bytes waiting for the serial line before TCP waits
constexpr qint64 kHeldForNetwork = 1024 * 1024;    // serial bytes kept while no connection takes them
constexpr int kReconnectMs = 300;                  // COD: pause between attempts to reach the peer
constexpr int kMaxDatagram = 1400;
constexpr int kUdpBufferBytes = 1024 * 1024;
constexpr qsizetype kMaxCommandLine = 256;

QString addressText(std::uint32_t address)
{
    return QHostAddress(address).toString();
}

/** Bits on the line for one byte: a start bit, the data bits, a parity bit when there is parity, the
 *  stop bits (10 for 8N1). */
int bitsPerByte(const EnvPortBlock& block)
{
    return 1 + (5 + block.dataBits()) + (block.parity() != 0 ? 1 : 0) + (block.stopBits() + 1);
}
} // namespace

/** One serial port of one simulated device. */
class SimSerial::Port final : public QObject
{
public:
    Port(SimSerial& owner, int device, int index) : m_owner(owner), m_device(device), m_index(index)
    {
        m_clock.start();
        m_lineTimer.setSingleShot(true);
        m_lineTimer.setTimerType(Qt::PreciseTimer);
        connect(&m_lineTimer, &QTimer::timeout, this, &Port::lineTick);
        m_retry.setSingleShot(true);
        connect(&m_retry, &QTimer::timeout, this, &Port::connectToPeer);
    }
    ~Port() override { closeNetwork(); }

    void joinTo(Port* other) { m_joined = other; }

    bool openTerminal(QString* error)
    {
        if (!m_pty.open(error))
            return false;
        m_ptyReadable = std::make_unique<QSocketNotifier>(m_pty.masterFd(), QSocketNotifier::Read);
        connect(m_ptyReadable.get(), &QSocketNotifier::activated, this, [this] {
            char buffer[16384];
            const ssize_t n = ::read(m_pty.masterFd(), buffer, sizeof buffer);
            if (n > 0)
                serialReceived(QByteArray(buffer, n));
        });
        m_ptyWritable = std::make_unique<QSocketNotifier>(m_pty.masterFd(), QSocketNotifier::Write);
        m_ptyWritable->setEnabled(false);
        connect(m_ptyWritable.get(), &QSocketNotifier::activated, this, [this] { writeTerminal(); });
        return true;
    }
    QString terminalPath() const { return m_pty.slavePath(); }

    /** Takes the port's settings and the device's address; opens the network side anew when they
     *  changed (or `force`). */
    void configure(const EnvPortBlock& block, std::uint32_t address, bool paced, bool force)
    {
        const bool same = !force && block == m_block && address == m_address;
        m_block = block;
        m_address = address;
        m_paced = paced;
        const std::uint32_t baud = block.baudRate() != 0 ? block.baudRate() : kDefaultBaud;
        m_byteNs = static_cast<qint64>(bitsPerByte(block)) * 1000000000LL / baud;
        if (same)
            return;
        closeNetwork();
        m_said.clear();
        switch (block.mode()) {
        case EnvPortBlock::kTcpServer:
            listen();
            break;
        case EnvPortBlock::kUdp:
            bindUdpPort();
            break;
        case EnvPortBlock::kTcpClient:
            connectToPeer();
            break;
        case EnvPortBlock::kAtCommand:
            break;
        default:
            sayOnce(QStringLiteral("mode %1 is none a port has; the port stays idle").arg(block.mode()));
            break;
        }
    }

    void closeNetwork()
    {
        m_retry.stop();
        if (m_connection) {
            m_connection->disconnect(this);
            m_connection->abort();
            m_connection->deleteLater();
            m_connection = nullptr;
            emit m_owner.connectionChanged(m_device, m_index, false);
        }
        delete m_server;
        m_server = nullptr;
        delete m_udp;
        m_udp = nullptr;
        m_sender.reset();
    }

    SerialPortState state() const
    {
        if (m_connection && m_connection->state() == QAbstractSocket::ConnectedState)
            return SerialPortState::Connected;
        if (m_connection || (m_retry.isActive() && m_block.mode() == EnvPortBlock::kTcpClient))
            return SerialPortState::Connecting;
        if ((m_server && m_server->isListening()) || m_udp)
            return SerialPortState::Listening;
        return SerialPortState::Idle;
    }

    void drop()
    {
        if (!m_connection)
            return;
        takeFromConnection(true);
        QTcpSocket* connection = m_connection;
        m_connection = nullptr;
        connection->disconnect(this);
        connection->disconnectFromHost();
        connection->deleteLater();
        m_owner.say(m_device, m_index, QStringLiteral("connection dropped"));
        emit m_owner.connectionChanged(m_device, m_index, false);
        if (m_block.mode() == EnvPortBlock::kTcpClient)
            m_retry.start(kReconnectMs);
    }

    void setAccepting(bool accepting)
    {
        m_accepting = accepting;
        if (m_block.mode() != EnvPortBlock::kTcpServer)
            return;
        if (!accepting) {
            delete m_server;
            m_server = nullptr;
        } else if (!m_server) {
            listen();
        }
    }

    std::uint64_t rx = 0;
    std::uint64_t tx = 0;

private:
    // --- network side ---
    void listen()
    {
        if (!m_accepting)
            return;
        m_server = new QTcpServer(this);
        if (!m_server->listen(QHostAddress(m_address), m_block.localPort())) {
            sayOnce(QStringLiteral("cannot listen on TCP %1:%2 (%3); the port stays idle")
                        .arg(addressText(m_address))
                        .arg(m_block.localPort())
                        .arg(m_server->errorString()));
            delete m_server;
            m_server = nullptr;
            return;
        }
        connect(m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server->nextPendingConnection()) {
                if (m_connection) {
                    // One connection at a time, as the device's port has one serial line.
                    socket->abort();
                    socket->deleteLater();
                    continue;
                }
                adopt(socket);
            }
        });
    }

    void bindUdpPort()
    {
        m_udp = new QUdpSocket(this);
        const QString problem = bindUdp(*m_udp, QHostAddress(m_address), m_block.localPort(), PortSharing::Exclusive);
        if (!problem.isEmpty()) {
            sayOnce(QStringLiteral("cannot %1; the port stays idle").arg(problem));
            delete m_udp;
            m_udp = nullptr;
            return;
        }
        sizeReceiveBuffer(*m_udp, kUdpBufferBytes);
        connect(m_udp, &QUdpSocket::readyRead, this, [this] {
            while (m_udp && m_udp->hasPendingDatagrams()) {
                const QNetworkDatagram datagram = m_udp->receiveDatagram();
                if (!datagram.isValid())
                    continue;
                // The port answers whoever sent to it last.
                m_sender = std::pair{datagram.senderAddress(), static_cast<quint16>(datagram.senderPort())};
                transmit(datagram.data());
            }
        });
    }

    void connectToPeer()
    {
        const std::uint32_t peer = m_block.peerIp();
        if (peer == 0 || m_block.peerPort() == 0) {
            sayOnce(QStringLiteral("no peer address and port to connect to; the port stays idle"));
            return;
        }
        if ((peer & kLoopbackMask) != kLoopbackNet) {
            sayOnce(QStringLiteral("peer %1 is not a loopback address (127.0.0.0/8) and a simulated device "
                                   "connects only on this machine; the port stays idle")
                        .arg(addressText(peer)));
            return;
        }
        auto* socket = new QTcpSocket(this);
        m_connection = socket;
        // From the device's own address, as the device's connection would come.
        socket->bind(QHostAddress(m_address), 0);
        connect(socket, &QTcpSocket::connected, this, [this, socket] {
            m_said.removeAll(QStringLiteral("reach"));
            settle(socket);
        });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, socket, peer](QAbstractSocket::SocketError) {
            if (socket != m_connection)
                return;
            const bool wasConnected = m_connected;
            lose(socket);
            if (!wasConnected && !m_said.contains(QStringLiteral("reach"))) {
                m_said << QStringLiteral("reach");
                m_owner.say(m_device, m_index,
                            QStringLiteral("cannot reach peer %1:%2 (%3); trying again every %4 ms")
                                .arg(addressText(peer))
                                .arg(m_block.peerPort())
                                .arg(socket->errorString())
                                .arg(kReconnectMs));
            }
            m_retry.start(kReconnectMs);
        });
        socket->connectToHost(QHostAddress(peer), m_block.peerPort());
    }

    void adopt(QTcpSocket* socket)
    {
        m_connection = socket;
        socket->setParent(this);
        connect(socket, &QTcpSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError) {
            if (socket == m_connection)
                lose(socket);
        });
        settle(socket);
    }

    // A connection is up: it carries data both ways from now on.
    void settle(QTcpSocket* socket)
    {
        m_connected = true;
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket->setReadBufferSize(kLineRoom);
        connect(socket, &QTcpSocket::readyRead, this, [this] { takeFromConnection(false); });
        m_owner.say(m_device, m_index,
                    QStringLiteral("connected with %1:%2")
                        .arg(socket->peerAddress().toString())
                        .arg(socket->peerPort()));
        emit m_owner.connectionChanged(m_device, m_index, true);
        if (!m_held.isEmpty()) {
            socket->write(m_held);
            m_held.clear();
        }
        takeFromConnection(false);
    }

    void lose(QTcpSocket* socket)
    {
        takeFromConnection(true);
        const bool wasConnected = m_connected;
        m_connected = false;
        m_connection = nullptr;
        socket->disconnect(this);
        socket->deleteLater();
        if (wasConnected) {
            m_owner.say(m_device, m_index, QStringLiteral("connection closed (%1)").arg(socket->errorString()));
            emit m_owner.connectionChanged(m_device, m_index, false);
            if (m_block.mode() == EnvPortBlock::kTcpClient)
                m_retry.start(kReconnectMs);
        }
    }

    // Moves bytes from the connection to the serial line while the line has room (`all`: everything,
    // as the connection goes).
    void takeFromConnection(bool all)
    {
        if (!m_connection)
            return;
        const qint64 room = all ? m_connection->bytesAvailable() : kLineRoom - m_line.size();
        if (room <= 0)
            return;
        const QByteArray bytes = m_connection->read(room);
        if (!bytes.isEmpty())
            transmit(bytes);
    }

    // What the serial side received goes to the network (or to the AT command interpreter).
    void toNetwork(const QByteArray& bytes)
    {
        switch (m_block.mode()) {
        case EnvPortBlock::kUdp:
            if (!m_udp || !m_sender)
                return; // nobody to answer yet
            for (qsizetype at = 0; at < bytes.size(); at += kMaxDatagram)
                m_udp->writeDatagram(bytes.mid(at, kMaxDatagram), m_sender->first, m_sender->second);
            return;
        case EnvPortBlock::kAtCommand:
            atCommand(bytes);
            return;
        default:
            if (m_connection && m_connected) {
                m_connection->write(bytes);
                m_connection->flush();
                return;
            }
            // Kept for the next connection, as a device buffers its serial data.
            m_held += bytes.first(std::min(bytes.size(), kHeldForNetwork - m_held.size()));
            return;
        }
    }

    void atCommand(const QByteArray& bytes)
    {
        for (const char c : bytes) {
            if (c != '\r' && c != '\n') {
                if (m_command.size() < kMaxCommandLine)
                    m_command += c;
                continue;
            }
            const QByteArray line = m_command.trimmed().toUpper();
            m_command.clear();
            if (line == "AT")
                transmit("\r\nOK\r\n");
            else if (line.startsWith("AT"))
                transmit("\r\nERROR\r\n");
        }
    }

    // --- serial side ---
    // Bytes to send out on the serial line: they leave one after another at the line's pace.
    void transmit(const QByteArray& bytes)
    {
        if (bytes.isEmpty())
            return;
        if (!m_paced) {
            lineDelivered(bytes);
            return;
        }
        if (m_line.isEmpty())
            m_lineStartNs = m_clock.nsecsElapsed();
        m_line += bytes;
        if (!m_lineTimer.isActive())
            scheduleLine();
    }

    void scheduleLine()
    {
        const qint64 dueNs = m_lineStartNs + m_byteNs - m_clock.nsecsElapsed();
        m_lineTimer.start(static_cast<int>(std::max<qint64>(1, (dueNs + 999999) / 1000000)));
    }

    void lineTick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        const qint64 done = std::min<qint64>(m_line.size(), (now - m_lineStartNs) / std::max<qint64>(1, m_byteNs));
        if (done > 0) {
            const QByteArray sent = m_line.first(done);
            m_line.remove(0, done);
            m_lineStartNs += done * m_byteNs;
            lineDelivered(sent);
        }
        if (!m_line.isEmpty())
            scheduleLine();
        takeFromConnection(false);
    }

    // The bytes have crossed the serial line: to the loop-back plug, the joined port or the terminal.
    void lineDelivered(const QByteArray& bytes)
    {
        tx += static_cast<std::uint64_t>(bytes.size());
        if (m_pty.isOpen()) {
            m_toTerminal += bytes;
            writeTerminal();
        } else if (m_joined) {
            m_joined->serialReceived(bytes);
        } else if (m_block.mode() != EnvPortBlock::kAtCommand) {
            serialReceived(bytes); // an AT port's own answers do not come back as commands
        }
    }

    void writeTerminal()
    {
        if (!m_toTerminal.isEmpty()) {
            const ssize_t n = ::write(m_pty.masterFd(), m_toTerminal.constData(), static_cast<size_t>(m_toTerminal.size()));
            if (n > 0)
                m_toTerminal.remove(0, n);
        }
        m_ptyWritable->setEnabled(!m_toTerminal.isEmpty());
    }

    void serialReceived(const QByteArray& bytes)
    {
        rx += static_cast<std::uint64_t>(bytes.size());
        toNetwork(bytes);
    }

    void sayOnce(const QString& text)
    {
        if (m_said.contains(text))
            return;
        m_said << text;
        m_owner.say(m_device, m_index, text);
    }

    SimSerial& m_owner;
    const int m_device;
    const int m_index;
    EnvPortBlock m_block;
    std::uint32_t m_address = 0;
    bool m_paced = true;
    bool m_accepting = true;
    qint64 m_byteNs = 0;
    Port* m_joined = nullptr;
    serial::Pty m_pty;
    std::unique_ptr<QSocketNotifier> m_ptyReadable;
    std::unique_ptr<QSocketNotifier> m_ptyWritable;
    QByteArray m_toTerminal;
    QTcpServer* m_server = nullptr;
    QTcpSocket* m_connection = nullptr;
    bool m_connected = false;
    QUdpSocket* m_udp = nullptr;
    std::optional<std::pair<QHostAddress, quint16>> m_sender;
    QTimer m_retry;
    QByteArray m_held;
    QByteArray m_command;
    QStringList m_said;
    // The serial line: bytes waiting to go out; the first of them started at m_lineStartNs.
    QElapsedTimer m_clock;
    QTimer m_lineTimer;
    QByteArray m_line;
    qint64 m_lineStartNs = 0;
};

SimSerial::SimSerial(TesselSim& sim, const SimSerialOptions& options, QObject* parent)
    : QObject(parent), m_sim(sim), m_options(options)
{
}

SimSerial::~SimSerial()
{
    stop();
}

bool SimSerial::start(QString* error)
{
    stop();
    for (int d = 0; d < m_sim.deviceCount(); ++d) {
        std::array<std::unique_ptr<Port>, 4> ports;
        for (int p = 0; p < 4; ++p)
            ports[static_cast<std::size_t>(p)] = std::make_unique<Port>(*this, d, p);
        for (const auto& [a, b] : m_options.joins) {
            ports[static_cast<std::size_t>(a)]->joinTo(ports[static_cast<std::size_t>(b)].get());
            ports[static_cast<std::size_t>(b)]->joinTo(ports[static_cast<std::size_t>(a)].get());
        }
        for (const int p : m_options.terminals) {
            QString problem;
            if (!ports[static_cast<std::size_t>(p)]->openTerminal(&problem)) {
                if (error)
                    *error = QStringLiteral("device %1 COM%2: no pseudo-terminal: %3").arg(d + 1).arg(p + 1).arg(problem);
                m_ports.clear();
                return false;
            }
        }
        m_ports.push_back(std::move(ports));
    }
    m_running = true;
    for (int d = 0; d < m_sim.deviceCount(); ++d)
        deviceChanged(d);
    connect(&m_sim, &TesselSim::recordChanged, this, &SimSerial::deviceChanged);
    m_sim.setSerialCounters([this](int device) {
        std::array<std::uint64_t, 8> counts{};
        if (device >= 0 && static_cast<std::size_t>(device) < m_ports.size())
            counts = carried(device);
        return counts;
    });
    return true;
}

void SimSerial::stop()
{
    if (!m_running)
        return;
    m_running = false;
    disconnect(&m_sim, &TesselSim::recordChanged, this, &SimSerial::deviceChanged);
    m_sim.setSerialCounters(nullptr);
    m_ports.clear();
}

void SimSerial::deviceChanged(int device)
{
    if (!m_running || device < 0 || static_cast<std::size_t>(device) >= m_ports.size())
        return;
    const SimDevice& sim = m_sim.device(device);
    const EnvRecord& record = sim.record;
    for (int p = 0; p < 4; ++p) {
        const EnvPortBlock block = record.port(p);
        std::uint32_t address = sim.address;
        // With multi IP each port has an address of its own; on this machine only a loopback one.
        if (record.multiIp() && block.localIp() != 0 &&
            (!m_sim.profile().loopback || (block.localIp() & kLoopbackMask) == kLoopbackNet))
            address = block.localIp();
        port(device, p)->configure(block, address, m_options.paced, false);
    }
}

SimSerial::Port* SimSerial::port(int device, int index) const
{
    return m_ports.at(static_cast<std::size_t>(device)).at(static_cast<std::size_t>(index)).get();
}

std::array<std::uint64_t, 8> SimSerial::carried(int device) const
{
    std::array<std::uint64_t, 8> counts{};
    for (int p = 0; p < 4; ++p) {
        counts[static_cast<std::size_t>(p)] = port(device, p)->rx;
        counts[static_cast<std::size_t>(p + 4)] = port(device, p)->tx;
    }
    return counts;
}

SerialPortState SimSerial::state(int device, int port) const
{
    return this->port(device, port)->state();
}

QString SimSerial::terminalPath(int device, int port) const
{
    return this->port(device, port)->terminalPath();
}

void SimSerial::dropConnection(int device, int port)
{
    this->port(device, port)->drop();
}

void SimSerial::setAccepting(int device, int port, bool accepting)
{
    this->port(device, port)->setAccepting(accepting);
}

void SimSerial::say(int device, int port, const QString& text)
{
    const QString line = QStringLiteral("device %1 COM%2: %3").arg(device + 1).arg(port + 1).arg(text);
    m_notes << line;
    emit note(line);
}
