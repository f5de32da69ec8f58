// The tessel-sim executable, run as a child process so that its devices answer while the test blocks.

#include "SimExchange.h"
#include "SimProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <csignal>

namespace {
constexpr std::uint16_t kPort = 52106; // this test's own device port
constexpr int kManyDevices = 256;
constexpr int kSearchWaitMs = 3000; // what the search window waits (10 ticks of 300 ms)

QStringList loopbackArgs(int devices)
{
    return {QStringLiteral("--loopback"), QStringLiteral("--device-port"), QString::number(kPort),
            QStringLiteral("--devices"), QString::number(devices)};
}

QString macText(const EnvRecord& record)
{
    return QString::fromStdString(record.macText());
}
} // namespace

class TestTesselSimProcess : public QObject
{
    Q_OBJECT

private slots:
    void searchListsAll256DevicesOfAChildProcess();
    void printsOneLinePerDevice();
    void endsCleanlyOnSignal_data();
    void endsCleanlyOnSignal();
    void badOptionExitsWithStatus2_data();
    void badOptionExitsWithStatus2();
    void damagedStateFileExitsWithStatus1();
    void passwordOptionProtectsEveryDevice();
    void resultOptionForcesTheResult();
};

void TestTesselSimProcess::searchListsAll256DevicesOfAChildProcess()
{
    SimProcess sim;
    QVERIFY2(sim.start(loopbackArgs(kManyDevices), kManyDevices), qPrintable(sim.errorText()));
    CNetEnv env(simtest::loopbackProfile(kPort));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(simtest::search(env, kManyDevices, kSearchWaitMs), kManyDevices);
    qInfo("256 devices listed in %lld ms", clock.elapsed());

    env.sortByMac();
    QStringList listed;
    for (int i = 0; i < env.count(); ++i)
        listed << macText(env.record(i));
    QStringList printed;
    for (const QString& line : sim.deviceLines())
        printed << line.section(QLatin1Char(' '), 0, 0);
    printed.sort();
    QCOMPARE(listed, printed);
    QVERIFY(sim.stop());
}

void TestTesselSimProcess::printsOneLinePerDevice()
{
    SimProcess sim;
    QVERIFY2(sim.start(loopbackArgs(3), 3), qPrintable(sim.errorText()));
    const QStringList expected = {QStringLiteral("02:7e:55:00:00:01 127.0.0.2"),
                                  QStringLiteral("02:7e:55:00:00:02 127.0.0.3"),
                                  QStringLiteral("02:7e:55:00:00:03 127.0.0.4")};
    QCOMPARE(sim.deviceLines(), expected);
    QVERIFY(sim.stop());
}

void TestTesselSimProcess::endsCleanlyOnSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void TestTesselSimProcess::endsCleanlyOnSignal()
{
    QFETCH(int, signal);
    SimProcess sim;
    QVERIFY2(sim.start(loopbackArgs(2), 2), qPrintable(sim.errorText()));
    QCOMPARE(::kill(static_cast<pid_t>(sim.process().processId()), signal), 0);
    QVERIFY(sim.process().waitForFinished(5000));
    QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process().exitCode(), 0);
}

void TestTesselSimProcess::badOptionExitsWithStatus2_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("named");
    QTest::newRow("unknown") << QStringList{QStringLiteral("--loopback"), QStringLiteral("--frobnicate")}
                             << QStringLiteral("--frobnicate");
    QTest::newRow("devices") << QStringList{QStringLiteral("--loopback"), QStringLiteral("--devices"),
                                            QStringLiteral("1001")}
                             << QStringLiteral("--devices");
    QTest::newRow("device port") << QStringList{QStringLiteral("--device-port"), QStringLiteral("x")}
                                 << QStringLiteral("--device-port");
    QTest::newRow("drop") << QStringList{QStringLiteral("--drop")} << QStringLiteral("--drop");
}

void TestTesselSimProcess::badOptionExitsWithStatus2()
{
    QFETCH(QStringList, args);
    QFETCH(QString, named);
    QProcess process;
    process.start(SimProcess::executable(), args);
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 2);
    const QString error = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(error.contains(named), qPrintable(error));
    QVERIFY(process.readAllStandardOutput().isEmpty());
}

void TestTesselSimProcess::damagedStateFileExitsWithStatus1()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("{ not json");
    file.close();
    QProcess process;
    process.start(SimProcess::executable(), loopbackArgs(1) << QStringLiteral("--state") << path);
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(QString::fromLocal8Bit(process.readAllStandardError()).contains(path));
}

void TestTesselSimProcess::passwordOptionProtectsEveryDevice()
{
    SimProcess sim;
    QVERIFY2(sim.start(loopbackArgs(2) << QStringLiteral("--password") << QStringLiteral("secret"), 2),
             qPrintable(sim.errorText()));
    CNetEnv env(simtest::loopbackProfile(kPort));
    QCOMPARE(simtest::search(env, 2), 2);
    const std::vector<EnvRecord> found = {env.record(0), env.record(1)};
    for (const EnvRecord& record : found) {
        QVERIFY(record.hasPassword());
        EnvRecord written = record;
        simtest::setHashedPassword(written, "wrong");
        QCOMPARE(simtest::exchange(env, simtest::request(frame::kWrite, written)), 2);
        QCOMPARE(int(env.replyResult()), 2);
        simtest::setHashedPassword(written, "secret");
        QCOMPARE(simtest::exchange(env, simtest::request(frame::kWrite, written)), 2);
        QCOMPARE(int(env.replyResult()), 0);
    }
}

void TestTesselSimProcess::resultOptionForcesTheResult()
{
    SimProcess sim;
    QVERIFY2(sim.start(loopbackArgs(1) << QStringLiteral("--result") << QStringLiteral("9"), 1),
             qPrintable(sim.errorText()));
    CNetEnv env(simtest::loopbackProfile(kPort));
    QCOMPARE(simtest::search(env, 1), 1);
    QCOMPARE(simtest::exchange(env, simtest::request(frame::kWrite, env.record(0), simtest::deviceAddress(0))), 2);
    QCOMPARE(int(env.replyResult()), 9);
}

QTEST_GUILESS_MAIN(TestTesselSimProcess)
#include "tst_tesselsimprocess.moc"
