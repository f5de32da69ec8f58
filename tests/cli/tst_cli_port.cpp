// cormapmp-cli port against simulated devices whose ports carry data: payloads of every size and byte
// value through a TCP server port and a UDP port come back as sent, and the status counters grow by
// exactly what was carried; a port in AT command mode, a closed port, a device that does not answer, an
// answer that never comes and a TCP client port whose peer is elsewhere each end in a clear message
// within the wait, exit status 1; a TCP client port whose peer is this machine is waited for and carries
// data; and the simulator leaves a port whose peer is not a loopback address idle and says why, once.
#include "CliTestSupport.h"
#include "SimSerial.h"
#include "TesselSim.h"
#include "text/StringTable.h"

#include <QHostAddress>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52731; // this test's own device port on the loopback profile
constexpr std::uint32_t kFirstAddress = 0x7F001F02; // 127.0.31.2: addresses of this test's own
const QString kDevice = u"127.0.31.2"_s;
const QString kSecondDevice = u"127.0.31.3"_s;
constexpr std::uint16_t kTcpPort = 4702;
constexpr std::uint16_t kUdpPort = 4704;
constexpr std::uint16_t kCodPeerPort = 4799;
constexpr std::uint32_t kFastBaud = 921600;
constexpr std::uint32_t kElsewhere = 0xC0A8000A; // 192.168.0.10: only ever written into a record

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = kDevicePort;
    return p;
}

clitest::CliRun runCli(const QStringList& args)
{
    return clitest::runCli(testProfile(), args);
}

/** Bytes that are no simple repetition: position i holds (i * 7 + i / 256) mod 256. */
QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
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

void setPort(SimDevice& device, int port, std::uint8_t mode, std::uint16_t localPort, std::uint32_t peer = 0,
             std::uint16_t peerPort = 4000)
{
    EnvPortBlock block = device.record.port(port);
    block.setMode(mode);
    block.setBaudRate(kFastBaud);
    block.setLocalPort(localPort);
    block.setPeerIp(peer);
    block.setPeerPort(peerPort);
    device.record.setPort(port, block);
}
} // namespace

class TestCliPort : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void payloadComesBackAndIsCounted_data();
    void payloadComesBackAndIsCounted();
    void textWithExpect();
    void failsClearlyWithinTheWait_data();
    void failsClearlyWithinTheWait();
    void clientPortWithLocalPeerIsWaitedFor();
    void badInputIsAUsageError_data();
    void badInputIsAUsageError();
    void clientPortWithPeerElsewhereStaysIdle();

private:
    /** COM1..COM4 RX, then TX, as `status --json` reports them. */
    std::array<qint64, 8> counters(const QString& device);

    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<SimSerial> m_serial;
    StringTable m_texts;
};

void TestCliPort::initTestCase()
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    for (int i = 0; i < 2; ++i) {
        SimDevice device = TesselSim::makeDevice(i, kFirstAddress + static_cast<std::uint32_t>(i));
        setPort(device, 0, EnvPortBlock::kAtCommand, 4701);
        setPort(device, 1, EnvPortBlock::kTcpServer, kTcpPort);
        // Device 1's client port has a peer elsewhere; device 2's peer is this machine.
        setPort(device, 2, EnvPortBlock::kTcpClient, 4703, i == 0 ? kElsewhere : 0x7F000001, kCodPeerPort);
        setPort(device, 3, EnvPortBlock::kUdp, kUdpPort);
        m_sim->addDevice(device);
    }
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
    m_serial = std::make_unique<SimSerial>(*m_sim);
    QVERIFY2(m_serial->start(&error), qPrintable(error));
    QCOMPARE(m_serial->state(0, 1), SerialPortState::Listening);
    QCOMPARE(m_serial->state(0, 3), SerialPortState::Listening);
}

void TestCliPort::cleanupTestCase()
{
    m_serial.reset();
    m_sim.reset();
}

std::array<qint64, 8> TestCliPort::counters(const QString& device)
{
    const clitest::CliRun run = runCli({u"status"_s, device, u"--json"_s});
    std::array<qint64, 8> values{};
    values.fill(-1);
    if (run.status != 0) {
        qWarning("status failed: %s", qPrintable(run.err));
        return values;
    }
    const QJsonObject json = clitest::jsonObject(run.out);
    for (int port = 0; port < 4; ++port) {
        values[static_cast<std::size_t>(port)] = static_cast<qint64>(json.value(u"com%1Rx"_s.arg(port + 1)).toDouble(-1));
        values[static_cast<std::size_t>(port + 4)] =
            static_cast<qint64>(json.value(u"com%1Tx"_s.arg(port + 1)).toDouble(-1));
    }
    return values;
}

void TestCliPort::payloadComesBackAndIsCounted_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("payload");
    const std::pair<const char*, QByteArray> payloads[] = {
        {"empty", QByteArray()},
        {"one byte", QByteArray(1, '\x11')}, // XON
        {"1400 bytes", pattern(1400)},
        {"64 KiB", pattern(64 * 1024)},
        {"every byte value", everyByteValue(2)},
        {"XON XOFF DEL NUL CR LF", QByteArray("\x11\x13\x7f\x00\r\n\x03\x1a", 8)},
    };
    for (const auto& [name, bytes] : payloads) {
        QTest::addRow("T2S %s", name) << u"COM2"_s << 1 << bytes;
        QTest::addRow("U2S %s", name) << u"com4"_s << 3 << bytes;
    }
}

void TestCliPort::payloadComesBackAndIsCounted()
{
    QFETCH(QString, port);
    QFETCH(int, index);
    QFETCH(QByteArray, payload);
    const std::array<qint64, 8> before = counters(kDevice);
    QVERIFY(before[0] >= 0);

    const clitest::CliRun run = runCli({u"port"_s, kDevice, port, u"--hex"_s, QString::fromLatin1(payload.toHex()),
                                        u"--wait"_s, u"20000"_s});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
    // Printed in hex, one line: exactly the bytes sent, none lost, added or out of order.
    QCOMPARE(run.out, QString::fromLatin1(payload.toHex()) + u'\n');

    const std::array<qint64, 8> after = counters(kDevice);
    for (int i = 0; i < 8; ++i) {
        const bool carried = i % 4 == index;
        QCOMPARE(after[static_cast<std::size_t>(i)] - before[static_cast<std::size_t>(i)],
                 carried ? qint64(payload.size()) : 0);
    }
}

void TestCliPort::textWithExpect()
{
    const clitest::CliRun run =
        runCli({u"port"_s, kDevice, u"COM2"_s, u"--send"_s, u"hello"_s, u"--expect"_s, u"hello"_s});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(run.out, u"hello\n"_s);
}

void TestCliPort::failsClearlyWithinTheWait_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("closePort");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("printed");
    const StringTable texts;
    QTest::newRow("AT command mode") << QStringList{kDevice, u"COM1"_s, u"--send"_s, u"AT"_s} << false
                                     << u"COM1 of 127.0.31.2 is in AT command mode: it takes no network connection."_s
                                     << QString();
    QTest::newRow("closed port") << QStringList{kDevice, u"COM2"_s, u"--send"_s, u"x"_s} << true
                                 << u"The device did not accept the connection to COM2 of 127.0.31.2 at TCP "
                                    u"127.0.31.2:4702: Connection refused"_s
                                 << QString();
    QTest::newRow("device does not answer")
        << QStringList{u"127.0.31.99"_s, u"COM2"_s, u"--send"_s, u"x"_s} << false
        << texts.text(166).replace(u"\r\n"_s, u"\n"_s).section(u'\n', 0, 0) << QString();
    QTest::newRow("answer does not come")
        << QStringList{kDevice, u"COM2"_s, u"--send"_s, u"hello"_s, u"--expect"_s, u"bye"_s, u"--wait"_s, u"600"_s}
        << false << u"\"bye\" did not come back from COM2 of 127.0.31.2 within 600 ms."_s << u"hello\n"_s;
    QTest::newRow("peer elsewhere")
        << QStringList{kDevice, u"COM3"_s, u"--send"_s, u"x"_s} << false
        << u"COM3 of 127.0.31.2 is a TCP client of 192.168.0.10:4799, which is not an address of this machine: it "
           u"cannot connect here."_s
        << QString();
}

void TestCliPort::failsClearlyWithinTheWait()
{
    QFETCH(QStringList, args);
    QFETCH(bool, closePort);
    QFETCH(QString, message);
    QFETCH(QString, printed);
    if (closePort)
        m_serial->setAccepting(0, 1, false);
    const clitest::CliRun run = runCli(QStringList{u"port"_s} + args);
    if (closePort)
        m_serial->setAccepting(0, 1, true);
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(run.out, printed);
    // Within the default wait of 3 s (the device's read waits its 2 s), with room for a slow machine.
    QVERIFY2(run.elapsedMs < 3000 + 1500, qPrintable(QString::number(run.elapsedMs)));
}

void TestCliPort::clientPortWithLocalPeerIsWaitedFor()
{
    const std::array<qint64, 8> before = counters(kSecondDevice);
    const QByteArray payload = everyByteValue(1);
    const clitest::CliRun run = runCli({u"port"_s, kSecondDevice, u"COM3"_s, u"--hex"_s,
                                        QString::fromLatin1(payload.toHex()), u"--wait"_s, u"5000"_s});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(run.out, QString::fromLatin1(payload.toHex()) + u'\n');
    const std::array<qint64, 8> after = counters(kSecondDevice);
    QCOMPARE(after[2] - before[2], qint64(payload.size()));
    QCOMPARE(after[6] - before[6], qint64(payload.size()));
}

void TestCliPort::badInputIsAUsageError_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("said");
    QTest::newRow("no port") << QStringList{u"port"_s, kDevice, u"--send"_s, u"x"_s} << u"name the device"_s;
    QTest::newRow("COM5") << QStringList{u"port"_s, kDevice, u"COM5"_s, u"--send"_s, u"x"_s}
                          << u"\"COM5\" is not a port (COM1 to COM4)"_s;
    QTest::newRow("nothing to send") << QStringList{u"port"_s, kDevice, u"COM2"_s} << u"--send TEXT or --hex HEX"_s;
    QTest::newRow("both forms") << QStringList{u"port"_s, kDevice, u"COM2"_s, u"--send"_s, u"x"_s, u"--hex"_s, u"41"_s}
                                << u"--send TEXT or --hex HEX"_s;
    QTest::newRow("odd hex") << QStringList{u"port"_s, kDevice, u"COM2"_s, u"--hex"_s, u"414"_s}
                             << u"is not bytes in hex digits"_s;
    QTest::newRow("not hex") << QStringList{u"port"_s, kDevice, u"COM2"_s, u"--hex"_s, u"4g"_s}
                             << u"is not bytes in hex digits"_s;
    QTest::newRow("wait too short") << QStringList{u"port"_s, kDevice, u"COM2"_s, u"--send"_s, u"x"_s, u"--wait"_s, u"5"_s}
                                    << u"--wait: \"5\" is not a number from 10 to 600000"_s;
    QTest::newRow("json") << QStringList{u"port"_s, kDevice, u"COM2"_s, u"--send"_s, u"x"_s, u"--json"_s}
                          << u"--json is not an option of port"_s;
    QTest::newRow("send to another verb") << QStringList{u"read"_s, kDevice, u"--send"_s, u"x"_s}
                                          << u"--send is not an option of read"_s;
    QTest::newRow("tty without link") << QStringList{u"tty"_s, kDevice, u"COM2"_s} << u"--link PATH"_s;
    QTest::newRow("link to port") << QStringList{u"port"_s, kDevice, u"COM2"_s, u"--send"_s, u"x"_s, u"--link"_s, u"/x"_s}
                                  << u"--link is not an option of port"_s;
}

void TestCliPort::badInputIsAUsageError()
{
    QFETCH(QStringList, args);
    QFETCH(QString, said);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    const clitest::CliRun run = runCli(args);
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(said), qPrintable(run.err));
    QCOMPARE(run.out, QString());
    QCOMPARE(handled.count(), 0); // refused before anything was sent
}

void TestCliPort::clientPortWithPeerElsewhereStaysIdle()
{
    QCOMPARE(m_serial->state(0, 2), SerialPortState::Idle);
    const QStringList said = m_serial->notes().filter(u"device 1 COM3:"_s);
    QCOMPARE(said.size(), 1); // once, however often the port was looked at since
    QVERIFY2(said.constFirst().contains(u"peer 192.168.0.10 is not a loopback address"_s), qPrintable(said.join(u'\n')));
    QVERIFY(said.constFirst().contains(u"stays idle"_s));
    // A write of the device's settings that leaves the port as it was says nothing again.
    const clitest::CliRun write = runCli({u"write"_s, kDevice, u"comment=again"_s});
    QVERIFY2(write.status == 0, qPrintable(write.err));
    QCOMPARE(m_serial->state(0, 2), SerialPortState::Idle);
    QCOMPARE(m_serial->notes().filter(u"device 1 COM3:"_s).size(), 1);
}

QTEST_GUILESS_MAIN(TestCliPort)
#include "tst_cli_port.moc"
