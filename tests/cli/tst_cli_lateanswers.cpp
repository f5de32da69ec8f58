// A device that answers late: its answer to one exchange must never be taken as the answer to the next,
// whether the next is a write after a read, a password change after a write that got no answer in time,
// or a status report after a request that got no answer in time. In-process against a simulated device whose every
// reply comes 1.2 s after the request (longer than a write waits, shorter than a read or status waits).
#include "CliTestSupport.h"
#include "TesselSim.h"

#include <QJsonObject>
#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 53405; // this test's own device port on the loopback profile
constexpr std::uint32_t kDeviceAddress = 0x7F000002;
constexpr int kLateMs = 1200;
constexpr std::uint16_t kTimeoutBefore = 60;
const QByteArray kPassword = "secret1";
const QString kWritten = u"The environment variables of the Tessel have been written."_s;
const QString kNoResponse = u"No response from the Tessel(s).\n"
                            u"Please check the LAN cable and the setting of the firewall on your PC.\n"_s;
const QString kMismatch = u"Writing has failed. [password mismatch]\n"_s;

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = kDevicePort;
    return p;
}

clitest::CliRun runWithPassword(const QString& password, const QStringList& args, const QString& newPassword = {})
{
    clitest::FakeConsole console;
    console.env[u"CORMAPMP_PASSWORD"_s] = password;
    if (!newPassword.isEmpty())
        console.env[u"CORMAPMP_NEW_PASSWORD"_s] = newPassword;
    return clitest::runCli(args, console, testProfile());
}
} // namespace

class TestCliLateAnswers : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void wrongPasswordNeverWritesWhenAnswersComeLate();
    void passwordChangeAfterALateAnsweredWriteIsJudgedByItsOwnAnswer();
    void statusAfterAnUnansweredRequestShowsTheDevicesReport();
    void twoRunsAtOnceEachGetTheirOwnDevicesAnswer();

private:
    void checkDeviceUnchanged();

    std::unique_ptr<TesselSim> m_sim;
    std::array<std::uint8_t, 8> m_hashBefore{};
};

void TestCliLateAnswers::init()
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    SimDevice device = TesselSim::makeDevice(0, kDeviceAddress);
    device.setPassword(kPassword);
    EnvPortBlock com1 = device.record.port(0);
    com1.setTimeout(kTimeoutBefore);
    device.record.setPort(0, com1);
    m_sim->addDevice(device);
    m_sim->addDevices(1, kDeviceAddress + 1);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
    SimFaults late;
    late.delayMs = kLateMs;
    m_sim->setFaults(late);
    m_hashBefore = m_sim->device(0).passwordHash();
}

void TestCliLateAnswers::cleanup()
{
    m_sim.reset();
}

void TestCliLateAnswers::checkDeviceUnchanged()
{
    QCOMPARE(m_sim->device(0).record.port(0).timeout(), kTimeoutBefore);
    QVERIFY(m_sim->device(0).passwordHash() == m_hashBefore);
}

void TestCliLateAnswers::wrongPasswordNeverWritesWhenAnswersComeLate()
{
    // Each write reads first; every answer comes 1.2 s late, the write's own refusal too, which is still
    // within the write's wait (as long as a read's). Several runs in a row, as a script would.
    for (int run = 0; run < 4; ++run) {
        const clitest::CliRun r = runWithPassword(u"WRONG"_s, {u"write"_s, u"127.0.0.2"_s, u"com1.timeout=21"_s});
        QVERIFY2(r.status == 1, qPrintable(QStringLiteral("run %1: %2 %3").arg(run).arg(r.out, r.err)));
        QVERIFY2(!r.out.contains(kWritten), qPrintable(r.out));
        QCOMPARE(r.err, kMismatch);
        checkDeviceUnchanged();
    }
}

void TestCliLateAnswers::passwordChangeAfterALateAnsweredWriteIsJudgedByItsOwnAnswer()
{
    // The right password: the device takes the write and answers 1.2 s later, within the write's wait.
    const clitest::CliRun write =
        runWithPassword(QString::fromLatin1(kPassword), {u"write"_s, u"127.0.0.2"_s, u"comment=late"_s});
    QCOMPARE(write.err, QString());
    QCOMPARE(write.status, 0);
    QCOMPARE(m_sim->device(0).record.comment(), std::string("late"));
    // At once a password change with a wrong current password: the device refuses it.
    const clitest::CliRun passwd = runWithPassword(u"WRONG"_s, {u"passwd"_s, u"127.0.0.2"_s}, u"newpass1"_s);
    QVERIFY2(!passwd.out.contains(u"has been changed"_s), qPrintable(passwd.out));
    QCOMPARE(passwd.status, 1);
    QCOMPARE(passwd.err, kMismatch);
    checkDeviceUnchanged();
}

void TestCliLateAnswers::statusAfterAnUnansweredRequestShowsTheDevicesReport()
{
    // A write whose answer comes after its wait, then status reports, each right after the other: each
    // report is the device's own, never made of an earlier exchange's answer.
    const clitest::CliRun write = runWithPassword(u"WRONG"_s, {u"write"_s, u"127.0.0.2"_s, u"comment=x"_s});
    QCOMPARE(write.status, 1);
    for (int run = 0; run < 2; ++run) {
        const clitest::CliRun status = clitest::runCli(testProfile(), {u"status"_s, u"--json"_s, u"127.0.0.2"_s});
        QCOMPARE(status.err, QString());
        QCOMPARE(status.status, 0);
        const QJsonObject report = clitest::jsonObject(status.out);
        QCOMPARE(report.value(u"mac"_s).toString(), u"02:7E:55:00:00:01"_s.toLower());
        QCOMPARE(report.value(u"localIp"_s).toString(), u"127.0.0.2"_s);
        QVERIFY2(!report.value(u"version"_s).toString().isEmpty(), qPrintable(status.out));
    }
}

void TestCliLateAnswers::twoRunsAtOnceEachGetTheirOwnDevicesAnswer()
{
    // Two programs writing two devices at the same moment, each on exchanges of its own: both get the
    // answer of the device they wrote, and both devices hold what was written.
    m_sim->setFaults(SimFaults{});
    m_sim->device(0).setPassword({});
    const QString program = QStringLiteral(CORMAPMP_CLI_PATH);
    for (int round = 0; round < 3; ++round) {
        std::array<QProcess, 2> runs;
        const std::array<QString, 2> addresses = {u"127.0.0.2"_s, u"127.0.0.3"_s};
        for (std::size_t i = 0; i < runs.size(); ++i) {
            runs[i].start(program, {u"write"_s, addresses[i], u"comment=round%1"_s.arg(round), u"--loopback"_s,
                                    u"--device-port"_s, QString::number(kDevicePort)});
        }
        // The simulated devices answer from this test's event loop, so wait by polling it.
        QTRY_VERIFY_WITH_TIMEOUT(runs[0].state() == QProcess::NotRunning && runs[1].state() == QProcess::NotRunning,
                                 15000);
        for (std::size_t i = 0; i < runs.size(); ++i) {
            const QString err = QString::fromUtf8(runs[i].readAllStandardError());
            QVERIFY2(runs[i].exitCode() == 0,
                     qPrintable(QStringLiteral("round %1, %2: %3").arg(round).arg(i).arg(err)));
            QCOMPARE(m_sim->device(static_cast<int>(i)).record.comment(), u"round%1"_s.arg(round).toStdString());
        }
    }
}

QTEST_GUILESS_MAIN(TestCliLateAnswers)
#include "tst_cli_lateanswers.moc"
