// cormapmp-cli acting on several devices in one call (write, passwd) and the search list as CSV,
// in-process against simulated devices on a loopback profile of this test's own (device port 52717).
#include "CliTestSupport.h"
#include "SimExchange.h"
#include "SimFirmware.h"
#include "TesselSim.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using clitest::CliRun;
using clitest::FakeConsole;

namespace {
constexpr std::uint16_t kDevicePort = 52717;
const QByteArray kSharedPassword = "pw12";
const QByteArray kOtherPassword = "other9"; // device 2's: it refuses the shared one
const QString kMismatch = u"Writing has failed. [password mismatch]"_s;
const QStringList kMacs = {u"02:7e:55:00:00:01"_s, u"02:7e:55:00:00:02"_s, u"02:7e:55:00:00:03"_s};
// A comment with a comma, a quote and the byte 0xE9, which the program shows as "é".
const std::string kAwkwardComment = "Lab, \"north\" caf\xE9";
const QString kAwkwardShown = u"Lab, \"north\" café"_s;

NetworkProfile testProfile()
{
    return simtest::loopbackProfile(kDevicePort);
}

CliRun runCli(const QStringList& args, FakeConsole& console)
{
    return clitest::runCli(QStringList{u"--loopback"_s, u"--device-port"_s, QString::number(kDevicePort)} + args,
                           console, testProfile());
}

FakeConsole sharedPasswordConsole()
{
    FakeConsole console;
    console.env[u"CORMAPMP_PASSWORD"_s] = QString::fromLatin1(kSharedPassword);
    return console;
}

int handled(const QSignalSpy& spy, int command)
{
    int n = 0;
    for (const QList<QVariant>& call : spy)
        n += call.at(1).toInt() == command ? 1 : 0;
    return n;
}
} // namespace

class TestCliMany : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void writeToEveryDeviceReportsTheOneThatRefused_data();
    void writeToEveryDeviceReportsTheOneThatRefused();
    void passwdToThreeDevicesReportsTheOneThatRefused();
    void unknownResultAmongSeveralCountsAsAFailure();
    void allFindingOneDeviceNeedsNoYes_data();
    void allFindingOneDeviceNeedsNoYes();
    void severalDevicesNeedYesAndNothingIsSentWithout_data();
    void severalDevicesNeedYesAndNothingIsSentWithout();
    void dryRunOnSeveralDevicesSendsNoWrite();
    void oneDeviceKeepsItsFullReport();
    void badDeviceAmongSeveralIsRefusedBeforeSending();
    void csvSurvivesPythonsCsvReader();
    void csvQuotesOnlyWhereNeeded_data();
    void csvQuotesOnlyWhereNeeded();

private:
    std::unique_ptr<TesselSim> m_sim;
};

void TestCliMany::init()
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevices(3);
    m_sim->device(0).setPassword(kSharedPassword);
    m_sim->device(1).setPassword(kOtherPassword);
    m_sim->device(2).setPassword(kSharedPassword);
    m_sim->device(0).record.setComment(kAwkwardComment);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
}

void TestCliMany::cleanup()
{
    m_sim.reset();
}

void TestCliMany::writeToEveryDeviceReportsTheOneThatRefused_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("names"); // as the result lines name them
    QTest::newRow("--all") << QStringList{u"--all"_s} << kMacs;
    QTest::newRow("MACs and an address") << QStringList{kMacs.at(0), kMacs.at(1), u"127.0.0.4"_s}
                                         << QStringList{kMacs.at(0), kMacs.at(1), u"127.0.0.4"_s};
}

void TestCliMany::writeToEveryDeviceReportsTheOneThatRefused()
{
    QFETCH(QStringList, devices);
    QFETCH(QStringList, names);
    const std::string before = m_sim->device(1).record.comment();
    FakeConsole console = sharedPasswordConsole();
    const CliRun run = runCli(QStringList{u"write"_s} + devices + QStringList{u"comment=Many"_s, u"--yes"_s}, console);
    QCOMPARE(run.status, 1);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.out, u"%1: written\n%2: %4\n%3: written\n2 Tessel(s) written, 1 failed.\n"_s.arg(
                          names.at(0), names.at(1), names.at(2), kMismatch));
    QCOMPARE(m_sim->device(0).record.comment(), std::string("Many"));
    QCOMPARE(m_sim->device(1).record.comment(), before);
    QCOMPARE(m_sim->device(2).record.comment(), std::string("Many"));
}

void TestCliMany::passwdToThreeDevicesReportsTheOneThatRefused()
{
    FakeConsole console = sharedPasswordConsole();
    console.env[u"CORMAPMP_NEW_PASSWORD"_s] = u"next5678"_s;
    const CliRun run = runCli(QStringList{u"passwd"_s} + kMacs + QStringList{u"--yes"_s}, console);
    QCOMPARE(run.status, 1);
    QCOMPARE(run.out, u"%1: password changed\n%2: %4\n%3: password changed\n2 password(s) changed, 1 failed.\n"_s.arg(
                          kMacs.at(0), kMacs.at(1), kMacs.at(2), kMismatch));
    QCOMPARE(m_sim->device(0).passwordHash(), simtest::hashedPassword("next5678"));
    QCOMPARE(m_sim->device(1).passwordHash(), simtest::hashedPassword(kOtherPassword));
    QCOMPARE(m_sim->device(2).passwordHash(), simtest::hashedPassword("next5678"));
}

void TestCliMany::unknownResultAmongSeveralCountsAsAFailure()
{
    // A fourth device, run by a simulator of its own, answers every write with result 7: neither taken
    // nor refused for the password.
    TesselSim odd(testProfile());
    SimDevice device = TesselSim::makeDevice(3, 0x7F000005);
    device.setPassword(kSharedPassword);
    odd.addDevice(device);
    SimFaults faults;
    faults.forcedResult = 7;
    odd.setFaults(faults);
    QString error;
    QVERIFY2(odd.start(&error), qPrintable(error));
    const std::string before = odd.device(0).record.comment();
    FakeConsole console = sharedPasswordConsole();
    const CliRun run =
        runCli({u"write"_s, kMacs.at(0), u"127.0.0.5"_s, kMacs.at(2), u"comment=Many"_s, u"--yes"_s}, console);
    QCOMPARE(run.err, QString());
    // The device that answered with an unknown result is read back: it still holds its old settings.
    QCOMPARE(run.out, u"%1: written\n127.0.0.5: Unknown response from the Tessel(s). The Tessel 127.0.0.5 did not "
                      u"take the write: read back, it still holds its settings from before; nothing was written.\n"
                      u"%2: written\n2 Tessel(s) written, 1 failed.\n"_s.arg(kMacs.at(0), kMacs.at(2)));
    QCOMPARE(run.status, 1);
    QCOMPARE(odd.device(0).record.comment(), before);
    QCOMPARE(m_sim->device(0).record.comment(), std::string("Many"));
    QCOMPARE(m_sim->device(2).record.comment(), std::string("Many"));
}

void TestCliMany::allFindingOneDeviceNeedsNoYes_data()
{
    QTest::addColumn<QString>("verb");
    for (const char* verb : {"write", "passwd", "import", "firmware"})
        QTest::newRow(verb) << QString::fromLatin1(verb);
}

void TestCliMany::allFindingOneDeviceNeedsNoYes()
{
    // One device on the LAN: --all names exactly one, which asks for no confirmation.
    QFETCH(QString, verb);
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevices(1);
    m_sim->device(0).setPassword(kSharedPassword);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
    NetworkProfile firmwareProfile = testProfile();
    firmwareProfile.tftpPort = kDevicePort + 1;
    firmwareProfile.shellPort = kDevicePort + 2;
    SimFirmware firmware(firmwareProfile);
    QVERIFY2(firmware.start({0x7F000002}, SimFirmwareOptions{}, &error), qPrintable(error));
    QSignalSpy received(&firmware, &SimFirmware::firmwareReceived);
    QTemporaryDir dir;
    const QString file = dir.filePath(u"one.kvx"_s);
    FakeConsole console = sharedPasswordConsole();
    QStringList args{verb};
    if (verb == u"write"_s) {
        args << u"--all"_s << u"comment=Alone"_s;
    } else if (verb == u"passwd"_s) {
        args << u"--all"_s << u"--clear"_s;
    } else if (verb == u"import"_s) {
        // The device's settings saved with the comment "Saved", then changed: the import brings it back.
        m_sim->device(0).record.setComment("Saved");
        QCOMPARE(runCli({u"export"_s, u"127.0.0.2"_s, file}, console).status, 0);
        m_sim->device(0).record.setComment("Changed");
        args << file << u"--all"_s;
    } else {
        QFile image(dir.filePath(u"one.bin"_s));
        QVERIFY(image.open(QIODevice::WriteOnly) && image.write(QByteArray(2000, 'f')) == 2000);
        image.close();
        args << image.fileName() << u"--all"_s << u"--tftp-port"_s << QString::number(firmwareProfile.tftpPort)
             << u"--shell-port"_s << QString::number(firmwareProfile.shellPort);
    }
    const CliRun run = runCli(args, console);
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    const SimDevice& device = m_sim->device(0);
    if (verb == u"write"_s)
        QCOMPARE(device.record.comment(), std::string("Alone"));
    else if (verb == u"passwd"_s)
        QCOMPARE(device.passwordHash(), (std::array<std::uint8_t, 8>{}));
    else if (verb == u"import"_s)
        QCOMPARE(device.record.comment(), std::string("Saved"));
    else
        QCOMPARE(received.size(), 1);
}

void TestCliMany::severalDevicesNeedYesAndNothingIsSentWithout_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("write --all") << QStringList{u"write"_s, u"--all"_s, u"comment=x"_s};
    QTest::newRow("write, two named") << QStringList{u"write"_s, kMacs.at(0), kMacs.at(2), u"comment=x"_s};
    QTest::newRow("passwd --all") << QStringList{u"passwd"_s, u"--all"_s, u"--clear"_s};
}

void TestCliMany::severalDevicesNeedYesAndNothingIsSentWithout()
{
    QFETCH(QStringList, args);
    QSignalSpy spy(m_sim.get(), &TesselSim::requestHandled);
    FakeConsole console = sharedPasswordConsole();
    const CliRun run = runCli(args, console);
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(u"would be changed: add --yes"_s), qPrintable(run.err));
    QCOMPARE(handled(spy, frame::kWrite) + handled(spy, frame::kChangePassword), 0);
}

void TestCliMany::dryRunOnSeveralDevicesSendsNoWrite()
{
    QSignalSpy spy(m_sim.get(), &TesselSim::requestHandled);
    FakeConsole console = sharedPasswordConsole();
    const CliRun run = runCli(
        {u"write"_s, kMacs.at(0), kMacs.at(1), u"comment=x"_s, u"arp=no"_s, u"--yes"_s, u"--dry-run"_s}, console);
    QCOMPARE(run.status, 0);
    // arp and comment, as the report of one device lists them (the flags word only for bits no field names).
    QCOMPARE(run.out, u"%1: 2 change(s), nothing sent (--dry-run)\n%2: 2 change(s), nothing sent (--dry-run)\n"_s.arg(
                          kMacs.at(0), kMacs.at(1)));
    QCOMPARE(handled(spy, frame::kWrite), 0);
}

void TestCliMany::oneDeviceKeepsItsFullReport()
{
    FakeConsole console = sharedPasswordConsole();
    const CliRun run = runCli({u"write"_s, kMacs.at(2), u"comment=Solo"_s}, console);
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.startsWith(u"Changes to the Tessel %1:\n"_s.arg(kMacs.at(2))), qPrintable(run.out));
    QVERIFY2(run.out.endsWith(u"The environment variables of the Tessel have been written.\n"_s), qPrintable(run.out));
    QVERIFY(!run.out.contains(u"failed."_s));
}

void TestCliMany::badDeviceAmongSeveralIsRefusedBeforeSending()
{
    QSignalSpy spy(m_sim.get(), &TesselSim::requestHandled);
    FakeConsole console = sharedPasswordConsole();
    const CliRun run = runCli({u"write"_s, kMacs.at(0), u"02:7e:55:00:00"_s, u"comment=x"_s, u"--yes"_s}, console);
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(u"\"02:7e:55:00:00\" is not a MAC address"_s), qPrintable(run.err));
    QCOMPARE(spy.count(), 0);
}

void TestCliMany::csvSurvivesPythonsCsvReader()
{
    const QString python = QStandardPaths::findExecutable(u"python3"_s);
    if (python.isEmpty())
        QSKIP("python3 is not installed");
    FakeConsole console;
    const CliRun run = runCli({u"search"_s, u"--csv"_s}, console);
    QCOMPARE(run.status, 0);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"list.csv"_s);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(run.out.toUtf8());
    file.close();
    QProcess reader;
    reader.start(python, {u"-c"_s,
                          u"import csv, json, sys\n"
                          "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                          "    print(json.dumps(list(csv.reader(f))))\n"_s,
                          path});
    QVERIFY(reader.waitForFinished(10000));
    QCOMPARE(reader.exitCode(), 0);
    const QJsonArray rows = QJsonDocument::fromJson(reader.readAllStandardOutput()).array();
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows.at(0).toVariant().toStringList(),
             (QStringList{u"MAC"_s, u"IP address"_s, u"Product"_s, u"Comment"_s, u"Source address"_s, u"Adapter"_s}));
    QCOMPARE(rows.at(1).toVariant().toStringList(),
             (QStringList{kMacs.at(0), u"127.0.0.2"_s, u"8"_s, kAwkwardShown, u"127.0.0.2"_s, u"lo"_s}));
    QCOMPARE(rows.at(3).toVariant().toStringList().at(3), u"Tessel sim 3"_s);
}

void TestCliMany::csvQuotesOnlyWhereNeeded_data()
{
    QTest::addColumn<std::string>("comment");
    QTest::addColumn<QString>("field"); // as it stands in the row
    QTest::newRow("plain") << std::string("Lab") << u"Lab"_s;
    QTest::newRow("comma, quote, 0xE9") << kAwkwardComment << u"\"Lab, \"\"north\"\" café\""_s;
    QTest::newRow("control byte") << std::string("a\x1b[2Jb") << u"a\\x1b[2Jb"_s;
    QTest::newRow("trailing space") << std::string("Lab ") << u"\"Lab \""_s;
}

void TestCliMany::csvQuotesOnlyWhereNeeded()
{
    QFETCH(std::string, comment);
    QFETCH(QString, field);
    m_sim->device(1).record.setComment(comment);
    FakeConsole console;
    const CliRun run = runCli({u"search"_s, u"--csv"_s}, console);
    QCOMPARE(run.status, 0);
    const QString row = run.out.split(u"\r\n"_s).at(2);
    QCOMPARE(row, u"%1,127.0.0.3,8,%2,127.0.0.3,lo"_s.arg(kMacs.at(1), field));
}

QTEST_GUILESS_MAIN(TestCliMany)
#include "tst_cli_many.moc"
