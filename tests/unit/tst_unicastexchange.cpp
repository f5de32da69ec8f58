// The local port of a unicast exchange: every exchange has one of its own, never the device port and
// never shared, so a device's late answer to one exchange cannot be taken by the next.
#include "net/CNetEnv.h"
#include "protocol/SocketOptions.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <set>

namespace {
constexpr std::uint16_t kTestPort = 53445;
constexpr std::uint32_t kDeviceAddress = 0x7F00000A; // 127.0.0.10, the fake device

NetworkProfile profileFor(bool loopback)
{
    NetworkProfile p = loopback ? NetworkProfile::loopbackProfile() : NetworkProfile::real();
    p.devicePort = kTestPort;
    return p;
}

/** A device made of one plain socket at the test's device port: takes requests and answers them with
 *  frames the test builds, to whatever address and port it is told. */
class FakeDevice
{
public:
    FakeDevice() { QVERIFY(bindShared(m_socket, QHostAddress(kDeviceAddress), kTestPort)); }

    /** The next request for `command` (copies of earlier requests are passed over): its bytes and the
     *  port it came from. */
    std::pair<QByteArray, std::uint16_t> awaitRequest(int command)
    {
        while (m_socket.hasPendingDatagrams() || m_socket.waitForReadyRead(2000)) {
            const QNetworkDatagram d = m_socket.receiveDatagram();
            if (d.data().size() == static_cast<qsizetype>(frame::kFrameSize) &&
                d.data().at(frame::kOffCommand) == command)
                return {d.data(), static_cast<std::uint16_t>(d.senderPort())};
        }
        return {};
    }

    /** The answer to `request` with `result`, carrying the device's record, sent to `port`. */
    void answer(const QByteArray& request, std::uint8_t result, std::uint16_t port)
    {
        frame::Frame f{};
        std::copy_n(request.constData(), frame::kOffBody, reinterpret_cast<char*>(f.data()));
        f[frame::kOffFlags] = frame::kFlagReply | frame::kFlagScrambled | frame::kFlagUnicast;
        f[frame::kOffResult] = result;
        EnvRecord record = EnvRecord::defaultRecord();
        record.setIpAddress(kDeviceAddress);
        std::copy(record.raw().begin(), record.raw().end(), f.begin() + frame::kOffBody);
        frame::Seal(f);
        m_socket.writeDatagram(QByteArray(reinterpret_cast<const char*>(f.data()), frame::kFrameSize),
                               QHostAddress(QHostAddress::LocalHost), port);
    }

private:
    QUdpSocket m_socket;
};

void send(CNetEnv& env, int command)
{
    env.requestFrame().fill(0);
    env.setCount(0);
    env.setCommand(command);
    env.SendUnicast(kDeviceAddress);
}
} // namespace

class TestUnicastExchange : public QObject
{
    Q_OBJECT

private slots:
    void eachExchangeHasAPortOfItsOwn_data();
    void eachExchangeHasAPortOfItsOwn();
    void aProgramHoldingTheDevicePortDoesNotStopAnExchange_data();
    void aProgramHoldingTheDevicePortDoesNotStopAnExchange();
    void lateAnswerToAReadNeverAnswersTheWriteAfterIt();
};

void TestUnicastExchange::eachExchangeHasAPortOfItsOwn_data()
{
    QTest::addColumn<bool>("loopback");
    QTest::newRow("real profile") << false;
    QTest::newRow("loopback profile") << true;
}

void TestUnicastExchange::eachExchangeHasAPortOfItsOwn()
{
    QFETCH(bool, loopback);
    CNetEnv env(profileFor(loopback));
    std::vector<std::uint16_t> ports;
    for (int exchange = 0; exchange < 40; ++exchange) {
        QVERIFY2(env.OpenRemote(kDeviceAddress), qPrintable(env.openError()));
        const std::uint16_t port = env.localPort();
        QVERIFY(port != kTestPort);
        QVERIFY2(port >= 1024, qPrintable(QString::number(port)));
        // Nobody else can bind the exchange's port, not even a socket that asks to share it.
        QUdpSocket other;
        QVERIFY(!bindShared(other, QHostAddress(QHostAddress::AnyIPv4), port));
        QVERIFY(!bindShared(other, QHostAddress(QHostAddress::LocalHost), port));
        env.Close();
        ports.push_back(port);
    }
    // Any sixteen exchanges in a row ran on sixteen different ports.
    for (std::size_t first = 0; first + 16 <= ports.size(); ++first) {
        const std::set<std::uint16_t> window(ports.begin() + static_cast<std::ptrdiff_t>(first),
                                             ports.begin() + static_cast<std::ptrdiff_t>(first + 16));
        QCOMPARE(window.size(), std::size_t{16});
    }
}

void TestUnicastExchange::aProgramHoldingTheDevicePortDoesNotStopAnExchange_data()
{
    eachExchangeHasAPortOfItsOwn_data();
}

void TestUnicastExchange::aProgramHoldingTheDevicePortDoesNotStopAnExchange()
{
    QFETCH(bool, loopback);
    QUdpSocket holder;
    QVERIFY(holder.bind(QHostAddress(QHostAddress::AnyIPv4), kTestPort, QUdpSocket::DontShareAddress));
    CNetEnv env(profileFor(loopback));
    QVERIFY2(env.OpenRemote(kDeviceAddress), qPrintable(env.openError()));
    QVERIFY(env.localPort() != kTestPort);
}

void TestUnicastExchange::lateAnswerToAReadNeverAnswersTheWriteAfterIt()
{
    // A read whose answer comes after its wait has ended, then a write: the read's answer (result 0, as
    // every read answer has) reaches the read's port, never the write's, and the write is judged by the
    // device's own answer to it.
    FakeDevice device;
    CNetEnv env(profileFor(true));
    QVERIFY(env.OpenRemote(kDeviceAddress));
    send(env, frame::kRead);
    const auto [read, readPort] = device.awaitRequest(frame::kRead);
    QCOMPARE(readPort, env.localPort());
    env.Close();

    QVERIFY(env.OpenRemote(kDeviceAddress));
    send(env, frame::kWrite);
    const auto [write, writePort] = device.awaitRequest(frame::kWrite);
    QVERIFY(writePort != readPort);
    QSignalSpy accepted(&env, &CNetEnv::replyAccepted);
    device.answer(read, frame::kResultOk, readPort);
    QVERIFY(!accepted.wait(300));
    QCOMPARE(env.answered(), 0);

    device.answer(write, frame::kResultWrongPassword, writePort);
    QVERIFY(accepted.wait(2000));
    QCOMPARE(env.answered(), 1);
    QCOMPARE(env.replyResult(), frame::kResultWrongPassword);
    env.Close();
}

QTEST_GUILESS_MAIN(TestUnicastExchange)
#include "tst_unicastexchange.moc"
