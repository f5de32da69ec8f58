// Many devices at once: write, passwd, import and status serve up to --jobs devices side by side, each
// exchange on a socket of its own; the lines still come one per device in a stable order, each under its
// own device, and every device is changed exactly once. Also the search options for scripts (--wait,
// --expect). In-process against simulated devices on a loopback profile of this test's own (device port
// 52731).
#include "CliTestSupport.h"
#include "SimExchange.h"
#include "TesselSim.h"
#include "protocol/Codec.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using clitest::CliRun;
using clitest::FakeConsole;

namespace {
constexpr std::uint16_t kDevicePort = 52731;
constexpr int kFleet = 30;       // devices of the main simulator, 127.0.0.2 and up
constexpr int kRefusing = 7;     // its device with another password
constexpr int kSilentIndex = 40; // the device of a second simulator that falls silent after the search
constexpr std::uint32_t kSilentAddress = 0x7F00002A;
constexpr int kAnswerDelayMs = 200; // far longer than the jobs take to start side by side
const QByteArray kPassword = "pw12";
const QString kMismatch = u"Writing has failed. [password mismatch]"_s;
const QString kNoResponse =
    u"No response from the Tessel(s). Please check the LAN cable and the setting of the firewall on your PC."_s;
const QString kNoResponseLine = u"No response from the Tessel(s)."_s; // a device's line says the first part

NetworkProfile testProfile()
{
    return simtest::loopbackProfile(kDevicePort);
}

CliRun runCli(const QStringList& args)
{
    FakeConsole console;
    console.env[u"CORMAPMP_PASSWORD"_s] = QString::fromLatin1(kPassword);
    console.env[u"CORMAPMP_NEW_PASSWORD"_s] = u"next5678"_s;
    return clitest::runCli(QStringList{u"--loopback"_s, u"--device-port"_s, QString::number(kDevicePort)} + args,
                           console, testProfile());
}

/** The MAC text of simulated device `index` (02:7e:55 and index + 1, big-endian), written out by hand. */
QString macOf(int index)
{
    return u"02:7e:55:00:00:%1"_s.arg(index + 1, 2, 16, QLatin1Char('0'));
}

/** runCli with a search that holds at most `limit` devices, on the devices at `devicePort`. */
CliRun runCliWithLimit(const QStringList& args, int limit, std::uint16_t devicePort = kDevicePort)
{
    CliRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    CliTool tool(out, err, simtest::loopbackProfile(devicePort));
    FakeConsole console;
    console.env[u"CORMAPMP_PASSWORD"_s] = QString::fromLatin1(kPassword);
    tool.setConsole(std::make_unique<clitest::ConsoleView>(console));
    tool.setSearchLimit(limit);
    run.status = tool.run(QStringList{u"--loopback"_s, u"--device-port"_s, QString::number(devicePort)} + args);
    out.flush();
    err.flush();
    return run;
}

/** How many copies of `command` each device handled. */
QList<int> copiesPerDevice(const QSignalSpy& spy, int devices, int command)
{
    QList<int> copies(devices, 0);
    for (const QList<QVariant>& call : spy) {
        if (call.at(1).toInt() == command)
            ++copies[call.at(0).toInt()];
    }
    return copies;
}
} // namespace

class TestCliFleet : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void writeAllChangesEachDeviceOnceUnderItsOwnLine_data();
    void writeAllChangesEachDeviceOnceUnderItsOwnLine();
    void deviceNamedTwiceAmongManyIsServedOnce_data();
    void deviceNamedTwiceAmongManyIsServedOnce();
    void passwdAndStatusOnManyKeepTheNamedOrder_data();
    void passwdAndStatusOnManyKeepTheNamedOrder();
    void badCountsAreRefusedBeforeAnythingIsSent_data();
    void badCountsAreRefusedBeforeAnythingIsSent();
    void searchExpectStopsOnceEnoughDevicesAnswered();
    void searchWaitSetsHowLongNoAnswerTakes();
    void searchesBeyondTheirLimitSayHowManyWereLeftOutAndFail_data();
    void searchesBeyondTheirLimitSayHowManyWereLeftOutAndFail();
    void expectTakesUpToTheSearchLimit();
    void writeAllServesAThousandDevices();

private:
    std::unique_ptr<TesselSim> m_sim;
};

void TestCliFleet::init()
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevices(kFleet);
    for (int i = 0; i < kFleet; ++i)
        m_sim->device(i).setPassword(i == kRefusing ? QByteArray("other9") : kPassword);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
}

void TestCliFleet::cleanup()
{
    m_sim.reset();
}

void TestCliFleet::writeAllChangesEachDeviceOnceUnderItsOwnLine_data()
{
    QTest::addColumn<QString>("jobs");
    QTest::addColumn<int>("atOnce"); // the most devices with a request in hand at one time
    QTest::newRow("--jobs 4") << u"4"_s << 4;
    QTest::newRow("--jobs 16") << u"16"_s << 16;
    QTest::newRow("--jobs 32 (more than the devices)") << u"32"_s << kFleet;
}

void TestCliFleet::writeAllChangesEachDeviceOnceUnderItsOwnLine()
{
    QFETCH(QString, jobs);
    QFETCH(int, atOnce);
    // A further device answers the search and then nothing more.
    TesselSim silent(testProfile());
    SimDevice device = TesselSim::makeDevice(kSilentIndex, kSilentAddress);
    device.setPassword(kPassword);
    silent.addDevice(device);
    QString error;
    QVERIFY2(silent.start(&error), qPrintable(error));
    connect(&silent, &TesselSim::requestHandled, this, [&silent](int, int command) {
        if (command == frame::kSearch)
            silent.setFaults(SimFaults{1.0});
    });
    // Each device gets a comment of its own, so a line or a write that went to another device shows.
    for (int i = 0; i < kFleet; ++i)
        m_sim->device(i).record.setComment("before " + std::to_string(i));
    const std::string refusedBefore = m_sim->device(kRefusing).record.comment();
    // Once every device has answered both copies of the search, each answer waits a while, so that the
    // devices' requests overlap as long as their jobs run side by side; how many are in hand at once
    // shows how many jobs run.
    int searched = 0;
    connect(m_sim.get(), &TesselSim::requestHandled, this, [&](int, int command) {
        if (command == frame::kSearch && ++searched == 2 * kFleet)
            m_sim->setFaults(SimFaults{0.0, kAnswerDelayMs});
    });
    int most = 0;
    connect(m_sim.get(), &TesselSim::answersWaiting, this, [&](int waiting) { most = std::max(most, waiting); });
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);

    const CliRun run = runCli({u"write"_s, u"--all"_s, u"--yes"_s, u"--jobs"_s, jobs, u"comment=fleet"_s});
    disconnect(m_sim.get(), nullptr, this, nullptr);
    QCOMPARE(most, atOnce); // never more than --jobs, and as many once they all run

    QString expected;
    for (int i = 0; i < kFleet; ++i)
        expected += macOf(i) + u": "_s + (i == kRefusing ? kMismatch : u"written"_s) + u'\n';
    expected += macOf(kSilentIndex) + u": "_s + kNoResponseLine + u'\n';
    expected += u"%1 Tessel(s) written, 2 failed.\n"_s.arg(kFleet - 1);
    QCOMPARE(run.out, expected);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 1);
    // One write per device (a request goes out twice), none to another device's address.
    QCOMPARE(copiesPerDevice(handled, kFleet, frame::kWrite), QList<int>(kFleet, 2));
    for (int i = 0; i < kFleet; ++i)
        QCOMPARE(m_sim->device(i).record.comment(), i == kRefusing ? refusedBefore : std::string("fleet"));
    QCOMPARE(silent.device(0).record.comment(), device.record.comment());
}

void TestCliFleet::deviceNamedTwiceAmongManyIsServedOnce_data()
{
    QTest::addColumn<QString>("verb");
    QTest::newRow("write") << u"write"_s;
    QTest::newRow("passwd") << u"passwd"_s;
}

void TestCliFleet::deviceNamedTwiceAmongManyIsServedOnce()
{
    // Device 3 by its address first and by its MAC later, device 5 twice by its MAC: each is changed once,
    // under its first name, however the reads of its names interleave.
    QFETCH(QString, verb);
    const QStringList names{u"127.0.0.5"_s, macOf(4), macOf(3), macOf(5), macOf(6), macOf(5)};
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    QStringList args{verb};
    args << names << u"--yes"_s << u"--jobs"_s << u"8"_s;
    if (verb == u"write"_s)
        args << u"comment=twice"_s;
    const CliRun run = runCli(args);
    const QString done = verb == u"write"_s ? u"written"_s : u"password changed"_s;
    const QString same = u"the same Tessel as %1 (served once, not again)"_s;
    QCOMPARE(run.out,
             u"127.0.0.5: %1\n%2: %1\n%3: %4\n%5: %1\n%6: %1\n%5: %7\n%8\n"_s.arg(
                 done, macOf(4), macOf(3), same.arg(u"127.0.0.5"_s), macOf(5), macOf(6), same.arg(macOf(5)),
                 verb == u"write"_s ? u"4 Tessel(s) written, 0 failed."_s : u"4 password(s) changed, 0 failed."_s));
    QCOMPARE(run.status, 0);
    const int command = verb == u"write"_s ? frame::kWrite : frame::kChangePassword;
    QList<int> expected(kFleet, 0);
    for (const int i : {3, 4, 5, 6})
        expected[i] = 2;
    QCOMPARE(copiesPerDevice(handled, kFleet, command), expected);
}

void TestCliFleet::passwdAndStatusOnManyKeepTheNamedOrder_data()
{
    QTest::addColumn<QString>("verb");
    QTest::newRow("passwd") << u"passwd"_s;
    QTest::newRow("status") << u"status"_s;
}

void TestCliFleet::passwdAndStatusOnManyKeepTheNamedOrder()
{
    // Named against MAC order, with the refusing device among them and an address where nothing answers.
    QFETCH(QString, verb);
    const QStringList names{macOf(9), macOf(kRefusing), u"127.0.0.99"_s, macOf(2), u"127.0.0.2"_s};
    const CliRun run = runCli(QStringList{verb} + names + QStringList{u"--yes"_s, u"--jobs"_s, u"5"_s});
    const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), names.size() + 1);
    for (int i = 0; i < names.size(); ++i)
        QVERIFY2(lines.at(i).startsWith(names.at(i) + u": "_s), qPrintable(lines.at(i)));
    QCOMPARE(lines.at(2), u"127.0.0.99: "_s + kNoResponseLine);
    QCOMPARE(run.status, 1);
    if (verb == u"passwd"_s) {
        QCOMPARE(lines.at(1), macOf(kRefusing) + u": "_s + kMismatch);
        QCOMPARE(lines.at(5), u"3 password(s) changed, 2 failed."_s);
        QCOMPARE(m_sim->device(9).passwordHash(), simtest::hashedPassword("next5678"));
        QCOMPARE(m_sim->device(kRefusing).passwordHash(), simtest::hashedPassword("other9"));
        return;
    }
    // Status asks no password: the refusing device answers too. Each line carries its device's report.
    QCOMPARE(lines.at(5), u"4 Tessel(s) answered, 1 failed."_s);
    for (const int i : {0, 1, 3, 4}) {
        QVERIFY2(lines.at(i).contains(u"  COM1 RX "_s), qPrintable(lines.at(i)));
        QVERIFY2(lines.at(i).contains(u"version "_s), qPrintable(lines.at(i)));
    }
}

void TestCliFleet::badCountsAreRefusedBeforeAnythingIsSent_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("--jobs 0") << QStringList{u"write"_s, u"--all"_s, u"--yes"_s, u"--jobs"_s, u"0"_s, u"comment=x"_s}
                              << u"--jobs: \"0\" is not a number from 1 to 32"_s;
    QTest::newRow("--jobs 33") << QStringList{u"status"_s, u"--all"_s, u"--jobs"_s, u"33"_s}
                               << u"--jobs: \"33\" is not a number from 1 to 32"_s;
    QTest::newRow("firmware --jobs 5") << QStringList{u"firmware"_s, u"/dev/null"_s, u"--all"_s,
                                                      u"--yes"_s,    u"--jobs"_s,    u"5"_s}
                                       << u"--jobs: \"5\" is not a number from 1 to 4"_s;
    QTest::newRow("--wait 0") << QStringList{u"search"_s, u"--wait"_s, u"0"_s}
                              << u"--wait: \"0\" is not a number from 10 to 600000"_s;
    QTest::newRow("--wait 600001") << QStringList{u"search"_s, u"--wait"_s, u"600001"_s}
                                   << u"--wait: \"600001\" is not a number from 10 to 600000"_s;
    QTest::newRow("--expect 4097") << QStringList{u"search"_s, u"--expect"_s, u"4097"_s}
                                   << u"--expect: \"4097\" is not a number from 1 to 4096"_s;
    QTest::newRow("--expect x") << QStringList{u"search"_s, u"--expect"_s, u"x"_s}
                                << u"--expect: \"x\" is not a number from 1 to 4096"_s;
    QTest::newRow("--wait without a search")
        << QStringList{u"write"_s, u"127.0.0.2"_s, u"--wait"_s, u"100"_s, u"comment=x"_s}
        << u"--wait and --expect go with search and with --all"_s;
    QTest::newRow("status --json of several") << QStringList{u"status"_s, u"127.0.0.2"_s, u"127.0.0.3"_s, u"--json"_s}
                                              << u"status: --json reports on one device; name one"_s;
}

void TestCliFleet::badCountsAreRefusedBeforeAnythingIsSent()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    const CliRun run = runCli(args);
    QCOMPARE(run.status, 2);
    QCOMPARE(run.err.section(u'\n', 0, 0), u"cormapmp-cli: "_s + message);
    QVERIFY(simtest::drain(*m_sim));
    QCOMPARE(handled.count(), 0);
}

void TestCliFleet::searchExpectStopsOnceEnoughDevicesAnswered()
{
    // A wait of a minute that --expect cuts short: the run would outlast the test's timeout otherwise.
    const CliRun run = runCli({u"search"_s, u"--wait"_s, u"60000"_s, u"--expect"_s, QString::number(kFleet)});
    QCOMPARE(run.status, 0);
    const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), kFleet);
    for (int i = 0; i < kFleet; ++i)
        QVERIFY2(lines.at(i).startsWith(macOf(i)), qPrintable(lines.at(i)));
    QVERIFY2(run.elapsedMs < 30000, qPrintable(QString::number(run.elapsedMs)));
}

void TestCliFleet::searchWaitSetsHowLongNoAnswerTakes()
{
    m_sim->setFaults(SimFaults{1.0});
    const CliRun run = runCli({u"search"_s, u"--wait"_s, u"700"_s});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.err.trimmed().replace(u'\n', u' '), kNoResponse);
    // The whole wait asked for, and not the 3 s of the default.
    QVERIFY2(run.elapsedMs >= 700 && run.elapsedMs < 2500, qPrintable(QString::number(run.elapsedMs)));
}

void TestCliFleet::searchesBeyondTheirLimitSayHowManyWereLeftOutAndFail_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("writes");
    const QStringList search{u"search"_s, u"--wait"_s, u"800"_s};
    const QStringList status{u"status"_s, u"--all"_s, u"--wait"_s, u"800"_s};
    const QStringList write{u"write"_s, u"--all"_s, u"--yes"_s, u"--wait"_s, u"800"_s, u"comment=fleet"_s};
    QTest::newRow("search, 10 left out") << search << 20 << false;
    QTest::newRow("search, exactly full") << search << kFleet << false;
    QTest::newRow("search, 1 left out") << search << kFleet - 1 << false;
    QTest::newRow("status --all, 10 left out") << status << 20 << false;
    QTest::newRow("write --all, 10 left out") << write << 20 << true;
    QTest::newRow("write --all, exactly full") << write << kFleet << true;
}

void TestCliFleet::searchesBeyondTheirLimitSayHowManyWereLeftOutAndFail()
{
    QFETCH(QStringList, args);
    QFETCH(int, limit);
    QFETCH(bool, writes);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    const CliRun run = runCliWithLimit(args, limit);
    const int leftOut = kFleet - limit;
    // One line per device held, none for the others.
    const QStringList deviceLines = run.out.split(u'\n').filter(QRegularExpression(u"^02:7e:55:"_s));
    QCOMPARE(deviceLines.size(), limit);
    const QString said =
        u"%1 more Tessel(s) answered than a search holds (%2): they were not served."_s.arg(leftOut).arg(limit);
    QCOMPARE(run.err.contains(said), leftOut > 0);
    if (leftOut == 0 && !writes)
        QCOMPARE(run.err, QString());
    // The refusing device fails a write, so only a run without it held and nothing left out ends with 0.
    const bool refusedAmongHeld = writes && deviceLines.filter(macOf(kRefusing)).size() == 1;
    QCOMPARE(run.status, leftOut > 0 || refusedAmongHeld ? 1 : 0);
    if (writes) {
        // Each device held is written once (two copies), the ones left out never.
        const QList<int> copies = copiesPerDevice(handled, kFleet, frame::kWrite);
        QCOMPARE(copies.count(2), limit);
        QCOMPARE(copies.count(0), leftOut);
    }
}

void TestCliFleet::expectTakesUpToTheSearchLimit()
{
    const CliRun refused = runCliWithLimit({u"search"_s, u"--expect"_s, u"21"_s}, 20);
    QCOMPARE(refused.status, 2);
    QCOMPARE(refused.err.section(u'\n', 0, 0), u"cormapmp-cli: --expect: \"21\" is not a number from 1 to 20"_s);
    const CliRun taken = runCliWithLimit({u"search"_s, u"--wait"_s, u"60000"_s, u"--expect"_s, u"20"_s}, 20);
    QCOMPARE(taken.out.split(u'\n', Qt::SkipEmptyParts).size(), 20);
}

void TestCliFleet::writeAllServesAThousandDevices()
{
    // A thousand devices of a simulator of their own (another device port): far more than the 256 rows
    // of the search window, every one found, written once and named in the summary.
    constexpr std::uint16_t kThousandPort = 52735;
    constexpr int kThousand = 1000;
    TesselSim thousand(simtest::loopbackProfile(kThousandPort));
    thousand.addDevices(kThousand);
    QString error;
    QVERIFY2(thousand.start(&error), qPrintable(error));
    QSignalSpy handled(&thousand, &TesselSim::requestHandled);
    const CliRun run = runCliWithLimit(
        {u"write"_s, u"--all"_s, u"--yes"_s, u"--expect"_s, QString::number(kThousand), u"comment=thousand"_s},
        cli::kSearchLimit, kThousandPort);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.endsWith(u"1000 Tessel(s) written, 0 failed.\n"_s), qPrintable(run.out.right(300)));
    QCOMPARE(run.out.count(u": written\n"_s), kThousand);
    const QList<int> copies = copiesPerDevice(handled, kThousand, frame::kWrite);
    QCOMPARE(copies.count(2), kThousand);
    for (int i = 0; i < kThousand; ++i)
        QCOMPARE(thousand.device(i).record.comment(), std::string("thousand"));
}

QTEST_GUILESS_MAIN(TestCliFleet)
#include "tst_cli_fleet.moc"
