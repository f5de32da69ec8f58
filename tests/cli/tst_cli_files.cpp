// The command-line tool's passwd, export, import and show verbs, in-process against simulated devices
// on a loopback profile of this test's own (device port 52516).
#include "CliTestSupport.h"
#include "SimExchange.h"
#include "TesselSim.h"
#include "record/SettingsFile.h"
#include "protocol/Codec.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using clitest::CliRun;
using clitest::FakeConsole;

namespace {
constexpr std::uint16_t kDevicePort = 52516;
constexpr std::uint32_t kFirstAddress = 0x7F000002;
const QByteArray kLockedPassword = "pw12";

NetworkProfile testProfile()
{
    return simtest::loopbackProfile(kDevicePort);
}

CliRun runCli(const QStringList& args, FakeConsole& console)
{
    return clitest::runCli(QStringList{u"--loopback"_s, u"--device-port"_s, QString::number(kDevicePort)} + args,
                           console, testProfile());
}

CliRun runCli(const QStringList& args)
{
    FakeConsole console;
    return runCli(args, console);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class TestCliFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void passwdChangesThePassword_data();
    void passwdChangesThePassword();
    void passwdRefusesBeforeSending_data();
    void passwdRefusesBeforeSending();
    void exportWritesTheSettingsFile();
    void showPrintsRecordAndTrailer();
    void importAppliesTheFileToEachDevice();
    void importToManyDevicesNeedsYes();
    void importReportsEachDevicesFailure();
    void importRefusesABadFileBeforeSending_data();
    void importRefusesABadFileBeforeSending();

private:
    int handled(const QSignalSpy& spy, int command) const;

    std::unique_ptr<TesselSim> m_sim;
    QTemporaryDir m_dir;
};

void TestCliFiles::init()
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevices(3, kFirstAddress);
    m_sim->device(1).setPassword(kLockedPassword);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
}

void TestCliFiles::cleanup()
{
    m_sim.reset();
}

int TestCliFiles::handled(const QSignalSpy& spy, int command) const
{
    int n = 0;
    for (const QList<QVariant>& call : spy)
        n += call.at(1).toInt() == command ? 1 : 0;
    return n;
}

void TestCliFiles::passwdChangesThePassword_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<QString>("envCurrent");
    QTest::addColumn<QString>("envNew");
    QTest::addColumn<QByteArray>("expected"); // the device's password afterwards, empty for none
    QTest::addColumn<QString>("said");
    QTest::newRow("from the environment") << QStringList{} << QStringList{} << u"pw12"_s << u"newpw123"_s
                                          << QByteArray("newpw123") << u"has been changed"_s;
    QTest::newRow("from standard input") << QStringList{u"--password-stdin"_s} << QStringList{u"pw12"_s, u"abcd"_s}
                                         << QString() << QString() << QByteArray("abcd") << u"has been changed"_s;
    QTest::newRow("cleared") << QStringList{u"--clear"_s} << QStringList{} << u"pw12"_s << QString() << QByteArray()
                             << u"has been removed"_s;
}

void TestCliFiles::passwdChangesThePassword()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, input);
    QFETCH(QString, envCurrent);
    QFETCH(QString, envNew);
    QFETCH(QByteArray, expected);
    QFETCH(QString, said);
    FakeConsole console;
    console.input = input;
    if (!envCurrent.isEmpty())
        console.env[u"CORMAPMP_PASSWORD"_s] = envCurrent;
    if (!envNew.isEmpty())
        console.env[u"CORMAPMP_NEW_PASSWORD"_s] = envNew;
    const CliRun run = runCli(QStringList{u"passwd"_s, u"02:7e:55:00:00:02"_s} + options, console);
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(run.out.contains(said), qPrintable(run.out));
    QCOMPARE(m_sim->device(1).passwordHash(), simtest::hashedPassword(expected));
    QVERIFY(!run.out.contains(u"pw12"_s) && !run.err.contains(u"pw12"_s));
}

void TestCliFiles::passwdRefusesBeforeSending_data()
{
    QTest::addColumn<QStringList>("typed"); // at the terminal's prompts: current, new, retype
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("changesSent");
    QTest::newRow("retype differs") << QStringList{u"pw12"_s, u"newpass9"_s, u"newpass8"_s} << 2
                                    << u"Please check your password.[password mismatch]"_s << 0;
    QTest::newRow("three characters") << QStringList{u"pw12"_s, u"abc"_s, u"abc"_s} << 2
                                      << u"The password is too short.[4 ~ 8 characters]"_s << 0;
    QTest::newRow("empty") << QStringList{u"pw12"_s, QString(), QString()} << 2 << u"The password is empty."_s << 0;
    QTest::newRow("wrong current password") << QStringList{u"nope"_s, u"abcd1234"_s, u"abcd1234"_s} << 1
                                            << u"Writing has failed. [password mismatch]"_s << 2;
}

void TestCliFiles::passwdRefusesBeforeSending()
{
    QFETCH(QStringList, typed);
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(int, changesSent);
    QSignalSpy spy(m_sim.get(), &TesselSim::requestHandled);
    FakeConsole console;
    console.terminal = true;
    console.typed = typed;
    const CliRun run = runCli({u"passwd"_s, u"127.0.0.3"_s}, console);
    QCOMPARE(run.status, status);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(console.prompts.size(), 3);
    QCOMPARE(handled(spy, frame::kChangePassword), changesSent);
    QCOMPARE(m_sim->device(1).passwordHash(), simtest::hashedPassword(kLockedPassword));
}

void TestCliFiles::exportWritesTheSettingsFile()
{
    const QString path = m_dir.filePath(u"saved.kvx"_s);
    const CliRun run = runCli({u"export"_s, u"127.0.0.3"_s, path});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY(run.out.contains(path));
    const QByteArray file = readFile(path);
    QCOMPARE(file.size(), 552);
    QCOMPARE(file.mid(0, 4).toHex(), QByteArray("00020000"));
    QCOMPARE(file.mid(4, 6), QByteArray(6, '\0'));        // no MAC
    QCOMPARE(file.mid(4 + 76, 12), QByteArray(12, '\0')); // no password
    QCOMPARE(file.mid(4 + 20, 4).toHex(), QByteArray("7f000003"));
    QCOMPARE(file.mid(522, 4).toHex(), QByteArray("32040105"));
    QCOMPARE(int(settings_file::decode(file).outcome), int(settings_file::kRead));
}

void TestCliFiles::showPrintsRecordAndTrailer()
{
    const QString path = m_dir.filePath(u"shown.kvx"_s);
    QCOMPARE(runCli({u"export"_s, u"127.0.0.2"_s, path}).status, 0);
    const CliRun text = runCli({u"show"_s, path});
    QCOMPARE(text.status, 0);
    QVERIFY2(text.out.contains(u"writerTag             04 01 05"_s), qPrintable(text.out));
    QVERIFY(text.out.contains(u"127.0.0.2"_s));
    const CliRun json = runCli({u"show"_s, path, u"--json"_s});
    QCOMPARE(json.status, 0);
    const QJsonObject doc = QJsonDocument::fromJson(json.out.toUtf8()).object();
    QCOMPARE(doc[u"record"_s].toObject()[u"ipAddress"_s].toString(), u"127.0.0.2"_s);
    QCOMPARE(doc[u"trailer"_s].toObject()[u"productCode"_s].toInt(), m_sim->device(0).record.productCode());
    QCOMPARE(doc[u"trailer"_s].toObject()[u"savedAt"_s].toString().size(), 19);
}

void TestCliFiles::importAppliesTheFileToEachDevice()
{
    const QString path = m_dir.filePath(u"template.kvx"_s);
    m_sim->device(0).record.setComment("bench template");
    QCOMPARE(runCli({u"export"_s, u"127.0.0.2"_s, path}).status, 0);
    FakeConsole console;
    console.env[u"CORMAPMP_PASSWORD"_s] = u"pw12"_s;
    const CliRun run = runCli({u"import"_s, path, u"127.0.0.3"_s, u"02:7e:55:00:00:03"_s, u"--yes"_s}, console);
    QVERIFY2(run.status == 0, qPrintable(run.err + run.out));
    QVERIFY2(run.out.contains(u"127.0.0.3: written"_s), qPrintable(run.out));
    QVERIFY(run.out.contains(u"02:7e:55:00:00:03: written"_s));
    QVERIFY(run.out.contains(u"2 Tessel(s) written, 0 failed."_s));
    for (int i : {1, 2}) {
        const EnvRecord& r = m_sim->device(i).record;
        QCOMPARE(r.comment(), std::string("bench template"));
        QCOMPARE(int(r.data()[5]), i + 1); // each keeps its own MAC
    }
    QCOMPARE(m_sim->device(1).passwordHash(), simtest::hashedPassword(kLockedPassword));
}

void TestCliFiles::importToManyDevicesNeedsYes()
{
    const QString path = m_dir.filePath(u"template.kvx"_s);
    QCOMPARE(runCli({u"export"_s, u"127.0.0.2"_s, path}).status, 0);
    QSignalSpy spy(m_sim.get(), &TesselSim::requestHandled);
    const CliRun run = runCli({u"import"_s, path, u"--all"_s});
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(u"3 Tessels would be changed"_s), qPrintable(run.err));
    QCOMPARE(handled(spy, frame::kWrite), 0);
}

void TestCliFiles::importReportsEachDevicesFailure()
{
    const QString path = m_dir.filePath(u"template.kvx"_s);
    QCOMPARE(runCli({u"export"_s, u"127.0.0.2"_s, path}).status, 0);
    m_sim->device(2).record.setProductId(static_cast<std::uint8_t>(m_sim->device(2).record.productId() + 8));
    FakeConsole console;
    console.env[u"CORMAPMP_PASSWORD"_s] = u"wrong"_s;
    const CliRun run = runCli({u"import"_s, path, u"--all"_s, u"--yes"_s}, console);
    QCOMPARE(run.status, 1);
    QVERIFY2(run.out.contains(u"02:7e:55:00:00:01: written"_s), qPrintable(run.out));
    QVERIFY(run.out.contains(u"02:7e:55:00:00:02: Writing has failed. [password mismatch]"_s));
    QVERIFY(run.out.contains(u"02:7e:55:00:00:03: The product (Tessel) ID does not match."_s));
    QVERIFY(run.out.contains(u"1 Tessel(s) written, 2 failed."_s));
}

void TestCliFiles::importRefusesABadFileBeforeSending_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("message");
    QByteArray good = settings_file::encode(QByteArray(512, '\x01'), {}, QDateTime::currentDateTime());
    QByteArray flipped = good;
    flipped[40] = static_cast<char>(flipped[40] ^ 1);
    QByteArray marker = good;
    marker[522] = 'x';
    QTest::newRow("a record byte changed") << flipped << u"The file is damaged."_s;
    QTest::newRow("marker") << marker << u"This is not a CormapMP settings file."_s;
    QTest::newRow("record of 100 bytes") << settings_file::encode(QByteArray(100, '\x01'), {},
                                                                  QDateTime::currentDateTime())
                                         << u"The file is damaged."_s;
    // An empty file is said to be one: the cause, not only the verdict.
    QTest::newRow("empty file") << QByteArray() << u"it delivered no bytes."_s;
}

void TestCliFiles::importRefusesABadFileBeforeSending()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, message);
    const QString path = m_dir.filePath(u"bad.kvx"_s);
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(file);
    out.close();
    QSignalSpy spy(m_sim.get(), &TesselSim::requestHandled);
    const CliRun run = runCli({u"import"_s, path, u"127.0.0.2"_s});
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(spy.count(), 0);
    const CliRun shown = runCli({u"show"_s, path});
    QCOMPARE(shown.status, 2);
    QVERIFY(shown.err.contains(message));
}

QTEST_MAIN(TestCliFiles)
#include "tst_cli_files.moc"
