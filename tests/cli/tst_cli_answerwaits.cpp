// An exchange ends as soon as the device's answer is in, and still: both copies of the request go out
// when the answer arrives between them, and a device answering late gets the whole longest wait and the
// no-response message. In-process against simulated devices on a loopback profile of this test's own
// (device port 52747); the devices that must answer between the two copies run on a thread of their own.
#include "CliTestSupport.h"
#include "device/DeviceRequests.h"
#include "SimExchange.h"
#include "SimThread.h"
#include "TesselSim.h"
#include "net/CNetEnv.h"
#include "protocol/Codec.h"

#include <QElapsedTimer>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52747;
constexpr std::uint32_t kDevice = 0x7F000002;
const QString kNoResponse = u"No response from the Tessel(s).\n"
                            u"Please check the LAN cable and the setting of the firewall on your PC.\n"_s;

NetworkProfile testProfile()
{
    return simtest::loopbackProfile(kDevicePort);
}

clitest::CliRun runCli(const QStringList& args)
{
    clitest::FakeConsole console;
    console.env[u"CORMAPMP_NEW_PASSWORD"_s] = u"next5678"_s;
    return clitest::runCli(QStringList{u"--loopback"_s, u"--device-port"_s, QString::number(kDevicePort)} + args,
                           console, testProfile());
}
} // namespace

class TestCliAnswerWaits : public QObject
{
    Q_OBJECT

private slots:
    void bothCopiesGoOutWhenTheAnswerComesBetweenThem_data();
    void bothCopiesGoOutWhenTheAnswerComesBetweenThem();
    void answeredExchangeDoesNotWaitForATick_data();
    void answeredExchangeDoesNotWaitForATick();
    void lateDeviceGetsTheWholeWaitAndTheNoResponseMessage_data();
    void lateDeviceGetsTheWholeWaitAndTheNoResponseMessage();
};

void TestCliAnswerWaits::bothCopiesGoOutWhenTheAnswerComesBetweenThem_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("copies"); // of `command`, over the whole run
    QTest::newRow("read by IP") << QStringList{u"read"_s, u"127.0.0.2"_s} << int{frame::kRead} << 2;
    QTest::newRow("read by MAC") << QStringList{u"read"_s, u"02:7e:55:00:00:01"_s} << int{frame::kRead} << 2;
    // A write reads first, and again just before it writes.
    QTest::newRow("write") << QStringList{u"write"_s, u"127.0.0.2"_s, u"comment=between"_s} << int{frame::kWrite} << 2;
    QTest::newRow("status") << QStringList{u"status"_s, u"127.0.0.2"_s} << int{frame::kStatus} << 2;
    QTest::newRow("passwd") << QStringList{u"passwd"_s, u"02:7e:55:00:00:01"_s} << int{frame::kChangePassword} << 2;
}

void TestCliAnswerWaits::bothCopiesGoOutWhenTheAnswerComesBetweenThem()
{
    QFETCH(QStringList, args);
    QFETCH(int, command);
    QFETCH(int, copies);
    SimThread sim;
    QString error;
    QVERIFY2(sim.start(testProfile(), 1, &error), qPrintable(error));
    const clitest::CliRun run = runCli(args);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    // The devices count a copy once they have answered it; the second may still be on its way.
    QTRY_COMPARE(sim.copies(command), copies);
    QTest::qWait(50);
    QCOMPARE(sim.copies(command), copies);
}

void TestCliAnswerWaits::answeredExchangeDoesNotWaitForATick_data()
{
    QTest::addColumn<int>("command");
    QTest::newRow("read") << int{frame::kRead};
    QTest::newRow("write") << int{frame::kWrite};
    QTest::newRow("status") << int{frame::kStatus};
}

void TestCliAnswerWaits::answeredExchangeDoesNotWaitForATick()
{
    // With ticks of a minute, the exchange can only end in time by ending with its answer.
    QFETCH(int, command);
    TesselSim sim(testProfile());
    sim.addDevices(1);
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));
    CNetEnv env(testProfile());
    QVERIFY(env.OpenRemote(kDevice));
    env.requestFrame().fill(0);
    env.setCount(0);
    env.setCommand(command);
    const EnvRecord record = sim.device(0).record;
    std::copy(record.raw().begin(), record.raw().end(), env.requestBody());
    env.SendUnicast(kDevice);
    QElapsedTimer clock;
    clock.start();
    device::waitForAnswer(env, 60000);
    QVERIFY2(clock.elapsed() < 30000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(env.answered());
    QVERIFY(!env.isOpen());
    QCOMPARE(env.count(), 1);
    QCOMPARE(env.record(0).mac(), record.mac());
}

void TestCliAnswerWaits::lateDeviceGetsTheWholeWaitAndTheNoResponseMessage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("leastMs"); // the waits the run must have sat through
    QTest::addColumn<QString>("err");
    // The read waits 2 s; the answer comes after it.
    QTest::newRow("read by IP, answer too late")
        << QStringList{u"read"_s, u"127.0.0.2"_s} << 2300 << 2000 << kNoResponse;
    QTest::newRow("read by MAC, answer too late")
        << QStringList{u"read"_s, u"02:7e:55:00:00:01"_s} << 2300 << 2000 << kNoResponse;
    // Every exchange of a write (the read, the read again, the write, the read back) is answered after
    // 1.3 s: the write waits as long as a read (2 s), so a slow device's answer is in time.
    QTest::newRow("write, answers late but in time")
        << QStringList{u"write"_s, u"127.0.0.2"_s, u"comment=late"_s} << 1300 << 4 * 1300 << QString();
    // Within each wait: every exchange is answered, however late.
    QTest::newRow("status, answer late but in time")
        << QStringList{u"status"_s, u"127.0.0.2"_s} << 1500 << 3000 << QString();
}

void TestCliAnswerWaits::lateDeviceGetsTheWholeWaitAndTheNoResponseMessage()
{
    QFETCH(QStringList, args);
    QFETCH(int, delayMs);
    QFETCH(int, leastMs);
    QFETCH(QString, err);
    TesselSim sim(testProfile());
    sim.addDevices(1);
    SimFaults late;
    late.delayMs = delayMs;
    sim.setFaults(late);
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));
    const std::string comment = sim.device(0).record.comment();
    const clitest::CliRun run = runCli(args);
    QCOMPARE(run.err, err);
    QCOMPARE(run.status, err.isEmpty() ? 0 : 1);
    QVERIFY2(run.elapsedMs >= leastMs, qPrintable(QString::number(run.elapsedMs)));
    if (args.constFirst() == u"status"_s)
        QVERIFY(run.out.contains(u"COM1"_s));
    // The write that got no answer in time went out: the late device still takes it (as a device does).
    if (args.constFirst() == u"write"_s)
        QTRY_COMPARE(sim.device(0).record.comment(), std::string("late"));
    else
        QCOMPARE(sim.device(0).record.comment(), comment);
}

QTEST_GUILESS_MAIN(TestCliAnswerWaits)
#include "tst_cli_answerwaits.moc"
