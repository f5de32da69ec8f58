// The serial side of simulated devices, seen from plain sockets and a terminal: the line takes the time
// its rate and framing take; a port in AT command mode answers AT with OK (and other commands with
// ERROR) on its serial side, played here through its pseudo-terminal; two joined ports carry each
// other's bytes; a write that turns a port into a TCP server opens it at once.
#include "SimSerial.h"
#include "TesselSim.h"
#include "protocol/Codec.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>

#include <memory>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52751;
constexpr std::uint32_t kAddress = 0x7F002102; // 127.0.33.2
const QHostAddress kDevice(kAddress);

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = kDevicePort;
    return p;
}

void setPort(SimDevice& device, int port, std::uint8_t mode, std::uint16_t localPort, std::uint32_t baud,
             std::uint8_t format = 3) // 8N1
{
    EnvPortBlock block = device.record.port(port);
    block.setSerialFormat(format);
    block.setMode(mode);
    block.setLocalPort(localPort);
    block.setBaudRate(baud);
    device.record.setPort(port, block);
}

/** Reads from `socket` until `size` bytes came; empty when they did not within 10 s. */
QByteArray readFrom(QTcpSocket& socket, qsizetype size)
{
    QByteArray got;
    static_cast<void>(QTest::qWaitFor(
        [&] {
            got += socket.readAll();
            return got.size() >= size;
        },
        10000));
    return got;
}
} // namespace

class TestSimSerial : public QObject
{
    Q_OBJECT

private slots:
    void lineTakesItsTime_data();
    void lineTakesItsTime();
    void atCommandsOnTheTerminal();
    void joinedPortsCarryEachOthersBytes();
    void writtenModeOpensAtOnce();
};

void TestSimSerial::lineTakesItsTime_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("bitsPerByte");
    // format: bits 0-1 data bits - 5, bit 2 two stop bits, bits 3-4 parity
    QTest::newRow("8N1 at 9600") << 9600 << 0x03 << 96 << 10;
    QTest::newRow("7E2 at 9600") << 9600 << (0x02 | 0x04 | (3 << 3)) << 96 << 11;
    QTest::newRow("8N1 at 115200") << 115200 << 0x03 << 1440 << 10;
}

void TestSimSerial::lineTakesItsTime()
{
    QFETCH(int, baud);
    QFETCH(int, format);
    QFETCH(int, bytes);
    QFETCH(int, bitsPerByte);
    TesselSim sim(testProfile());
    SimDevice device = TesselSim::makeDevice(0, kAddress);
    setPort(device, 1, EnvPortBlock::kTcpServer, 4722, static_cast<std::uint32_t>(baud), static_cast<std::uint8_t>(format));
    sim.addDevice(device);
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));
    SimSerial serial(sim);
    QVERIFY2(serial.start(&error), qPrintable(error));

    QTcpSocket socket;
    socket.connectToHost(kDevice, 4722);
    QVERIFY(socket.waitForConnected(5000));
    QTRY_COMPARE(serial.state(0, 1), SerialPortState::Connected);
    QByteArray payload(bytes, Qt::Uninitialized);
    for (int i = 0; i < bytes; ++i)
        payload[i] = static_cast<char>(i * 13);
    QElapsedTimer clock;
    clock.start();
    socket.write(payload);
    const QByteArray got = readFrom(socket, payload.size());
    const qint64 elapsedMs = clock.elapsed();
    QCOMPARE(got, payload);
    // Never faster than the line: start, data, parity and stop bits of every byte at the rate.
    const qint64 lineMs = qint64(bytes) * bitsPerByte * 1000 / baud;
    QVERIFY2(elapsedMs >= lineMs, qPrintable(u"%1 ms for a line of %2 ms"_s.arg(elapsedMs).arg(lineMs)));
    QCOMPARE(serial.carried(0)[1], std::uint64_t(bytes));
    QCOMPARE(serial.carried(0)[5], std::uint64_t(bytes));
}

void TestSimSerial::atCommandsOnTheTerminal()
{
    TesselSim sim(testProfile());
    SimDevice device = TesselSim::makeDevice(0, kAddress);
    setPort(device, 0, EnvPortBlock::kAtCommand, 4721, 115200);
    sim.addDevice(device);
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));
    SimSerialOptions options;
    options.terminals = {0};
    SimSerial serial(sim, options);
    QVERIFY2(serial.start(&error), qPrintable(error));
    QCOMPARE(serial.state(0, 0), SerialPortState::Idle); // no network side in AT command mode
    const QString path = serial.terminalPath(0, 0);
    QVERIFY(path.startsWith(u"/dev/pts/"_s));

    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    const auto exchange = [&](const QByteArray& command, const QByteArray& answer) {
        if (::write(fd, command.constData(), static_cast<size_t>(command.size())) != command.size())
            return QByteArray("write failed");
        QByteArray got;
        static_cast<void>(QTest::qWaitFor(
            [&] {
                char buffer[256];
                ssize_t n = 0;
                while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
                    got.append(buffer, n);
                return got.size() >= answer.size();
            },
            5000));
        return got;
    };
    QCOMPARE(exchange("AT\r", "\r\nOK\r\n"), QByteArray("\r\nOK\r\n"));
    QCOMPARE(exchange("at\r\n", "\r\nOK\r\n"), QByteArray("\r\nOK\r\n"));
    QCOMPARE(exchange("ATZ9\r", "\r\nERROR\r\n"), QByteArray("\r\nERROR\r\n"));
    ::close(fd);
    // Received on the serial line: the three commands; sent: the three answers.
    QCOMPARE(serial.carried(0)[0], std::uint64_t(3 + 4 + 5));
    QCOMPARE(serial.carried(0)[4], std::uint64_t(6 + 6 + 9));
}

void TestSimSerial::joinedPortsCarryEachOthersBytes()
{
    TesselSim sim(testProfile());
    SimDevice device = TesselSim::makeDevice(0, kAddress);
    setPort(device, 1, EnvPortBlock::kTcpServer, 4732, 921600);
    setPort(device, 2, EnvPortBlock::kTcpServer, 4733, 921600);
    sim.addDevice(device);
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));
    SimSerialOptions options;
    options.joins = {{1, 2}};
    SimSerial serial(sim, options);
    QVERIFY2(serial.start(&error), qPrintable(error));

    QTcpSocket a;
    QTcpSocket b;
    a.connectToHost(kDevice, 4732);
    b.connectToHost(kDevice, 4733);
    QVERIFY(a.waitForConnected(5000) && b.waitForConnected(5000));
    QTRY_COMPARE(serial.state(0, 2), SerialPortState::Connected);
    a.write("from COM2");
    QCOMPARE(readFrom(b, 9), QByteArray("from COM2"));
    b.write("from COM3!");
    QCOMPARE(readFrom(a, 10), QByteArray("from COM3!"));
    // COM2 sent 9 and received 10; COM3 the other way round.
    const std::array<std::uint64_t, 8> carried = serial.carried(0);
    QCOMPARE(carried[1], std::uint64_t(10));
    QCOMPARE(carried[5], std::uint64_t(9));
    QCOMPARE(carried[2], std::uint64_t(9));
    QCOMPARE(carried[6], std::uint64_t(10));
}

void TestSimSerial::writtenModeOpensAtOnce()
{
    TesselSim sim(testProfile());
    SimDevice device = TesselSim::makeDevice(0, kAddress);
    setPort(device, 0, EnvPortBlock::kAtCommand, 4741, 921600);
    sim.addDevice(device);
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));
    SimSerial serial(sim);
    QVERIFY2(serial.start(&error), qPrintable(error));
    QCOMPARE(serial.state(0, 0), SerialPortState::Idle);

    // As a write the device accepted: the record changes, the device says so.
    EnvPortBlock block = sim.device(0).record.port(0);
    block.setMode(EnvPortBlock::kTcpServer);
    sim.device(0).record.setPort(0, block);
    emit sim.recordChanged(0);
    QCOMPARE(serial.state(0, 0), SerialPortState::Listening);
    QTcpSocket socket;
    socket.connectToHost(kDevice, 4741);
    QVERIFY(socket.waitForConnected(5000));
    socket.write("ping");
    QCOMPARE(readFrom(socket, 4), QByteArray("ping"));
}

QTEST_GUILESS_MAIN(TestSimSerial)
#include "tst_simserial.moc"
