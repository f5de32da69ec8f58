// cormapmp-cli tty as it runs for a user: a pseudo-terminal bridged to a simulated device's TCP server
// port. A program that opens the link (plain termios here, Debian's python3-serial too) reads back
// every byte value it wrote, flow-control and line-editing characters included, and the device counts
// exactly those bytes; a connection the device drops mid-transfer is made again with a growing pause,
// said on standard error, and nothing is lost, added or reordered across it; a TCP client port connects
// to the bridge, which listens for it, and connects again after a drop; SIGTERM ends the bridge
// and removes its link; a port in AT command mode and a path that is not a link are refused.
#include "SimSerial.h"
#include "TesselSim.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52741; // this test's own device port on the loopback profile
constexpr std::uint32_t kAddress = 0x7F002002; // 127.0.32.2
const QString kDevice = u"127.0.32.2"_s;
constexpr std::uint16_t kTcpPort = 4712;
constexpr std::uint32_t kClientPeer = 0x7F002001; // 127.0.32.1: where COM3 connects to
constexpr std::uint16_t kClientPeerPort = 4713;
constexpr int kWaitMs = 20000;

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = kDevicePort;
    return p;
}

QByteArray pattern(int size, int salt)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 256 + salt) & 0xFF);
    return bytes;
}

QByteArray everyByteValue(int rounds)
{
    QByteArray bytes;
    for (int r = 0; r < rounds; ++r)
        for (int v = 0; v < 256; ++v)
            bytes.append(static_cast<char>(v));
    return bytes;
}

/** cormapmp-cli tty running; its standard error read as it comes. */
class Bridge
{
public:
    explicit Bridge(const QStringList& args)
    {
        m_process.start(QStringLiteral(CORMAPMP_CLI_PATH),
                        QStringList{u"--loopback"_s, u"--device-port"_s, QString::number(kDevicePort), u"tty"_s} + args);
    }
    ~Bridge()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QString err()
    {
        m_err += QString::fromUtf8(m_process.readAllStandardError());
        return m_err;
    }
    /** Waits (running the event loop, so the simulated device answers) until standard error holds
     *  `text` `times` times. */
    bool waitFor(const QString& text, int times = 1)
    {
        return QTest::qWaitFor([&] { return err().count(text) >= times; }, kWaitMs);
    }
    bool waitForEnd()
    {
        return QTest::qWaitFor([&] { return m_process.state() == QProcess::NotRunning; }, kWaitMs);
    }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    QString m_err;
};

/** The link opened as a program opens a serial device. */
class Device
{
public:
    explicit Device(const QString& path) : m_fd(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~Device()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }
    /** Writes all of `bytes`, waiting (event loop running) while the terminal is full. */
    bool write(const QByteArray& bytes)
    {
        qsizetype at = 0;
        return QTest::qWaitFor(
            [&] {
                while (at < bytes.size()) {
                    const ssize_t n = ::write(m_fd, bytes.constData() + at, static_cast<size_t>(bytes.size() - at));
                    if (n <= 0)
                        return false;
                    at += n;
                }
                return true;
            },
            kWaitMs);
    }
    /** Reads until `size` bytes are in `got` (or the wait ends). */
    bool readUntil(QByteArray& got, qsizetype size)
    {
        return QTest::qWaitFor(
            [&] {
                char buffer[65536];
                ssize_t n = 0;
                while ((n = ::read(m_fd, buffer, sizeof buffer)) > 0)
                    got.append(buffer, n);
                return got.size() >= size;
            },
            kWaitMs);
    }

private:
    int m_fd;
};
} // namespace

class TestCliTty : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void bytesComeBackRaw_data();
    void bytesComeBackRaw();
    void pythonSerialReadsBackWhatItWrote();
    void udpPortThroughTheTerminal();
    void clientPortThroughTheTerminal();
    void droppedConnectionIsMadeAgainWithNothingLost();
    void sigtermStopsAndRemovesTheLink();
    void refused_data();
    void refused();

private:
    std::uint64_t rx() const { return m_serial->carried(0)[1]; }
    std::uint64_t tx() const { return m_serial->carried(0)[5]; }
    QString linkPath(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<SimSerial> m_serial;
    std::unique_ptr<Bridge> m_bridge; // shared by the rows of bytesComeBackRaw and the Python test
};

void TestCliTty::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_sim = std::make_unique<TesselSim>(testProfile());
    SimDevice device = TesselSim::makeDevice(0, kAddress);
    EnvPortBlock block = device.record.port(1);
    block.setMode(EnvPortBlock::kTcpServer);
    block.setLocalPort(kTcpPort);
    block.setBaudRate(921600);
    device.record.setPort(1, block);
    // COM3 connects to this machine, where the bridge listens for it.
    EnvPortBlock client = device.record.port(2);
    client.setMode(EnvPortBlock::kTcpClient);
    client.setPeerIp(kClientPeer);
    client.setPeerPort(kClientPeerPort);
    client.setBaudRate(921600);
    device.record.setPort(2, client);
    EnvPortBlock udp = device.record.port(3);
    udp.setMode(EnvPortBlock::kUdp);
    udp.setLocalPort(4714);
    udp.setBaudRate(921600);
    device.record.setPort(3, udp);
    m_sim->addDevice(device);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
    m_serial = std::make_unique<SimSerial>(*m_sim);
    QVERIFY2(m_serial->start(&error), qPrintable(error));

    m_bridge = std::make_unique<Bridge>(QStringList{kDevice, u"COM2"_s, u"--link"_s, linkPath(u"ttyTessel"_s)});
    QVERIFY2(m_bridge->waitFor(u"Connected to COM2 of 127.0.32.2 at TCP 127.0.32.2:4712."_s), qPrintable(m_bridge->err()));
    QVERIFY(m_bridge->err().contains(u"COM2 of 127.0.32.2 (TCP 127.0.32.2:4712) is on /dev/pts/"_s));
    QVERIFY(QFileInfo(linkPath(u"ttyTessel"_s)).isSymLink());
}

void TestCliTty::cleanupTestCase()
{
    m_bridge.reset();
    m_serial.reset();
    m_sim.reset();
}

void TestCliTty::bytesComeBackRaw_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("one byte") << QByteArray(1, '\x13'); // XOFF
    QTest::newRow("control characters") << QByteArray("\x11\x13\x03\x1a\x04\x7f\r\n\x00\x1b", 10);
    QTest::newRow("every byte value") << everyByteValue(4);
    QTest::newRow("1400 bytes") << pattern(1400, 0);
    QTest::newRow("64 KiB") << pattern(64 * 1024, 3);
}

void TestCliTty::bytesComeBackRaw()
{
    QFETCH(QByteArray, payload);
    const std::uint64_t rxBefore = rx();
    const std::uint64_t txBefore = tx();
    Device device(linkPath(u"ttyTessel"_s));
    QVERIFY(device.isOpen());
    QVERIFY(device.write(payload));
    QByteArray got;
    QVERIFY2(device.readUntil(got, payload.size()), qPrintable(u"%1 of %2 bytes"_s.arg(got.size()).arg(payload.size())));
    QCOMPARE(got.size(), payload.size());
    QCOMPARE(got, payload);
    QCOMPARE(rx() - rxBefore, std::uint64_t(payload.size()));
    QCOMPARE(tx() - txBefore, std::uint64_t(payload.size()));
    // Nothing more followed (no echo of the terminal, no translated line ends): the next byte read is
    // a marker written after.
    QVERIFY(device.write("#"));
    QByteArray more;
    QVERIFY(device.readUntil(more, 1));
    QCOMPARE(more, QByteArray("#"));
}

void TestCliTty::pythonSerialReadsBackWhatItWrote()
{
    const QString python = u"/usr/bin/python3"_s;
    QProcess probe;
    probe.start(python, {u"-c"_s, u"import serial"_s});
    if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
        QSKIP("Debian's python3-serial is not installed");
    const QString script = uR"(import serial, sys
port = serial.Serial(sys.argv[1], 115200, timeout=10)
data = bytes(range(256)) * 4
port.write(data)
got = b''
while len(got) < len(data):
    chunk = port.read(len(data) - len(got))
    if not chunk:
        break
    got += chunk
print(len(got), got == data)
sys.exit(0 if got == data else 1)
)"_s;
    QProcess program;
    program.start(python, {u"-c"_s, script, linkPath(u"ttyTessel"_s)});
    // The device answers on this thread: wait with the event loop running, never blocked.
    QVERIFY(QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, kWaitMs));
    const QString said = QString::fromUtf8(program.readAllStandardOutput() + program.readAllStandardError());
    QVERIFY2(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0, qPrintable(said));
    QCOMPARE(said.trimmed(), u"1024 True"_s);
}

void TestCliTty::udpPortThroughTheTerminal()
{
    const QString link = linkPath(u"ttyUdp"_s);
    Bridge bridge({kDevice, u"COM4"_s, u"--link"_s, link});
    QVERIFY2(bridge.waitFor(u"Connected to COM4 of 127.0.32.2 at UDP 127.0.32.2:4714."_s), qPrintable(bridge.err()));
    const std::array<std::uint64_t, 8> before = m_serial->carried(0);
    Device device(link);
    QVERIFY(device.isOpen());
    // Sent in datagrams of at most 1400 bytes, answered in datagrams: every byte back, in order.
    const QByteArray payload = everyByteValue(8);
    QVERIFY(device.write(payload));
    QByteArray got;
    QVERIFY2(device.readUntil(got, payload.size()), qPrintable(u"%1 of %2 bytes"_s.arg(got.size()).arg(payload.size())));
    QVERIFY(got == payload);
    const std::array<std::uint64_t, 8> after = m_serial->carried(0);
    QCOMPARE(after[3] - before[3], std::uint64_t(payload.size()));
    QCOMPARE(after[7] - before[7], std::uint64_t(payload.size()));
}

void TestCliTty::clientPortThroughTheTerminal()
{
    // The bridge listens where COM3 connects to; the device connects, drops, and connects again.
    const QString link = linkPath(u"ttyClient"_s);
    Bridge bridge({kDevice, u"COM3"_s, u"--link"_s, link});
    QVERIFY2(bridge.waitFor(u"Connected to COM3 of 127.0.32.2"_s), qPrintable(bridge.err()));
    Device device(link);
    QVERIFY(device.isOpen());
    const std::array<std::uint64_t, 8> before = m_serial->carried(0);
    const QByteArray first = everyByteValue(16);
    QVERIFY(device.write(first));
    QByteArray got;
    QVERIFY2(device.readUntil(got, first.size()), qPrintable(u"%1 of %2 bytes"_s.arg(got.size()).arg(first.size())));
    QVERIFY(got == first);
    const std::array<std::uint64_t, 8> after = m_serial->carried(0);
    QCOMPARE(after[2] - before[2], std::uint64_t(first.size()));
    QCOMPARE(after[6] - before[6], std::uint64_t(first.size()));

    m_serial->dropConnection(0, 2);
    QVERIFY2(bridge.waitFor(u"Connected again to COM3 of 127.0.32.2"_s), qPrintable(bridge.err()));
    const QByteArray second = pattern(4096, 3);
    QVERIFY(device.write(second));
    got.clear();
    QVERIFY2(device.readUntil(got, second.size()), qPrintable(u"%1 of %2 bytes"_s.arg(got.size()).arg(second.size())));
    QVERIFY(got == second);
}

void TestCliTty::droppedConnectionIsMadeAgainWithNothingLost()
{
    m_bridge.reset(); // the port takes one connection at a time
    const QString link = linkPath(u"ttyDrop"_s);
    Bridge bridge({kDevice, u"COM2"_s, u"--link"_s, link});
    QVERIFY2(bridge.waitFor(u"Connected to COM2"_s), qPrintable(bridge.err()));
    Device device(link);
    QVERIFY(device.isOpen());

    // Mid-transfer: a quarter of the first part is back when the device drops the connection and,
    // for a while, takes no new one.
    const QByteArray first = pattern(16 * 1024, 1);
    const QByteArray second = pattern(4 * 1024, 2);
    QVERIFY(device.write(first));
    QByteArray got;
    QVERIFY(device.readUntil(got, first.size() / 4));
    QVERIFY(got.size() < first.size());
    m_serial->setAccepting(0, 1, false);
    m_serial->dropConnection(0, 1);
    QVERIFY2(bridge.waitFor(u"The connection to COM2 of 127.0.32.2 at TCP 127.0.32.2:4712 was closed"_s),
             qPrintable(bridge.err()));
    // Written while there is no connection: it waits in the terminal.
    QVERIFY(device.write(second));
    // Refused again and again, each pause twice the one before.
    QVERIFY2(bridge.waitFor(u"Trying again in 200 ms."_s), qPrintable(bridge.err()));
    QVERIFY(bridge.err().contains(u"Trying again in 100 ms."_s));
    QVERIFY(bridge.err().contains(u"The device did not accept the connection to COM2 of 127.0.32.2"_s));
    QVERIFY(bridge.err().indexOf(u"100 ms"_s) < bridge.err().indexOf(u"200 ms"_s));
    m_serial->setAccepting(0, 1, true);
    QVERIFY2(bridge.waitFor(u"Connected again to COM2 of 127.0.32.2 at TCP 127.0.32.2:4712."_s), qPrintable(bridge.err()));

    QVERIFY2(device.readUntil(got, first.size() + second.size()),
             qPrintable(u"%1 of %2 bytes"_s.arg(got.size()).arg(first.size() + second.size())));
    QCOMPARE(got.size(), first.size() + second.size());
    QVERIFY(got == first + second);
}

void TestCliTty::sigtermStopsAndRemovesTheLink()
{
    const QString link = linkPath(u"ttyStop"_s);
    Bridge bridge({kDevice, u"COM2"_s, u"--link"_s, link});
    QVERIFY2(bridge.waitFor(u"Connected to COM2"_s), qPrintable(bridge.err()));
    {
        Device device(link);
        QVERIFY(device.write("abc"));
        QByteArray got;
        QVERIFY(device.readUntil(got, 3));
        QCOMPARE(got, QByteArray("abc"));
    }
    ::kill(static_cast<pid_t>(bridge.process().processId()), SIGTERM);
    QVERIFY(bridge.waitForEnd());
    QCOMPARE(bridge.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(bridge.process().exitCode(), 0);
    QVERIFY2(bridge.err().contains(u"Stopped: 3 bytes to COM2 of 127.0.32.2, 3 bytes from it."_s), qPrintable(bridge.err()));
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(!QFileInfo::exists(link));
}

void TestCliTty::refused_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("fileThere");
    QTest::addColumn<QString>("message");
    QTest::newRow("AT command mode") << u"COM1"_s << false
                                     << u"COM1 of 127.0.32.2 is in AT command mode: it takes no network connection."_s;
    QTest::newRow("a file at the link path") << u"COM2"_s << true << u"exists and is not a symbolic link"_s;
}

void TestCliTty::refused()
{
    QFETCH(QString, port);
    QFETCH(bool, fileThere);
    QFETCH(QString, message);
    const QString link = linkPath(u"ttyRefused-"_s + QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-'));
    if (fileThere) {
        QFile file(link);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("mine");
    }
    Bridge bridge({kDevice, port, u"--link"_s, link});
    QVERIFY(bridge.waitForEnd());
    QCOMPARE(bridge.process().exitCode(), 1);
    QVERIFY2(bridge.err().contains(message), qPrintable(bridge.err()));
    if (fileThere) {
        QFile file(link);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("mine")); // left as it was
    } else {
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
    }
}

QTEST_GUILESS_MAIN(TestCliTty)
#include "tst_cli_tty.moc"
