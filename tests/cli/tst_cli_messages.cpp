// One message for one kind of failure, whatever the verb: an endpoint that cannot be opened names the
// address and port tried and the system's reason; a folder or a file that cannot be read, given where a
// file is expected, is bad input (exit 2) said before anything is sent. In-process against simulated
// devices on a loopback profile of this test's own (device port 52518).
#include "CliTestSupport.h"
#include "TesselSim.h"
#include "record/SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <memory>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52518;
constexpr std::uint32_t kFirstAddress = 0x7F000002;
const QString kMac1 = u"02:7e:55:00:00:01"_s;
const QString kMac2 = u"02:7e:55:00:00:02"_s;
// 192.0.2.1 (TEST-NET-1) is never a local address: binding a broadcast to it fails.
const QString kNoSuchLocalAddress = u"192.0.2.1"_s;

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = kDevicePort;
    return p;
}

clitest::CliRun runCli(const QStringList& args)
{
    clitest::FakeConsole console;
    console.env[u"CORMAPMP_NEW_PASSWORD"_s] = u"newpw123"_s;
    return clitest::runCli(args, console, testProfile());
}

QString bindReason()
{
    return u": [%1] %2"_s.arg(EADDRNOTAVAIL).arg(QString::fromLocal8Bit(std::strerror(EADDRNOTAVAIL)));
}
} // namespace

class TestCliMessages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void everyVerbNamesTheAddressAndReasonOfABindFailure_data();
    void everyVerbNamesTheAddressAndReasonOfABindFailure();
    void severalDevicesNameTheBindFailureOnEachLine();
    void foldersAndUnreadableFilesAreBadInput_data();
    void foldersAndUnreadableFilesAreBadInput();

private:
    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<QSignalSpy> m_handled;
    QTemporaryDir m_dir;
};

void TestCliMessages::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QFile firmware(m_dir.filePath(u"fw.bin"_s));
    QVERIFY(firmware.open(QIODevice::WriteOnly) && firmware.write(QByteArray(600, 'f')) == 600);
    QFile settings(m_dir.filePath(u"good.kvx"_s));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write(settings_file::encode(QByteArray(512, '\0'), {}, QDateTime::currentDateTime()));
    QVERIFY(QDir(m_dir.path()).mkdir(u"folder.kvx"_s));
}

void TestCliMessages::init()
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevices(2, kFirstAddress);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
    m_handled = std::make_unique<QSignalSpy>(m_sim.get(), &TesselSim::requestHandled);
}

void TestCliMessages::cleanup()
{
    m_handled.reset();
    m_sim.reset();
}

void TestCliMessages::everyVerbNamesTheAddressAndReasonOfABindFailure_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("search") << QStringList{u"search"_s};
    QTest::newRow("read") << QStringList{u"read"_s, kMac1};
    QTest::newRow("status") << QStringList{u"status"_s, kMac1};
    QTest::newRow("write") << QStringList{u"write"_s, kMac1, u"arp=no"_s};
    QTest::newRow("passwd") << QStringList{u"passwd"_s, kMac1};
    QTest::newRow("export") << QStringList{u"export"_s, kMac1, m_dir.filePath(u"never.kvx"_s)};
    QTest::newRow("firmware") << QStringList{u"firmware"_s, m_dir.filePath(u"fw.bin"_s), kMac1};
}

void TestCliMessages::everyVerbNamesTheAddressAndReasonOfABindFailure()
{
    QFETCH(QStringList, args);
    const clitest::CliRun run = runCli(args + QStringList{u"--bind"_s, kNoSuchLocalAddress});
    QCOMPARE(run.status, 1);
    const QStringList lines = run.err.split(u'\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], u"SOCK_DGRAM: can't open socket"_s);
    QVERIFY2(lines[1].startsWith(u"bind %1:%2"_s.arg(kNoSuchLocalAddress).arg(kDevicePort)) ||
                 lines[1].startsWith(u"bind %1"_s.arg(kNoSuchLocalAddress)),
             qPrintable(lines[1]));
    QVERIFY2(lines[1].endsWith(bindReason()), qPrintable(lines[1]));
    QVERIFY(!QFile::exists(m_dir.filePath(u"never.kvx"_s)));
    QCOMPARE(m_handled->count(), 0);
}

void TestCliMessages::severalDevicesNameTheBindFailureOnEachLine()
{
    for (const QStringList& verb :
         {QStringList{u"write"_s, kMac1, kMac2, u"arp=no"_s}, QStringList{u"passwd"_s, kMac1, kMac2},
          QStringList{u"import"_s, m_dir.filePath(u"good.kvx"_s), kMac1, kMac2}}) {
        const clitest::CliRun run = runCli(verb + QStringList{u"--yes"_s, u"--bind"_s, kNoSuchLocalAddress});
        QCOMPARE(run.status, 1);
        for (const QString& mac : {kMac1, kMac2}) {
            const QString line = run.out.section(u'\n', mac == kMac1 ? 0 : 1, mac == kMac1 ? 0 : 1);
            QVERIFY2(line.startsWith(mac + u": SOCK_DGRAM: can't open socket (bind "_s + kNoSuchLocalAddress),
                     qPrintable(run.out));
            QVERIFY2(line.endsWith(bindReason() + u')'), qPrintable(line));
        }
        QVERIFY2(!run.out.contains(u"No response"_s), qPrintable(run.out));
    }
    QCOMPARE(m_handled->count(), 0);
}

void TestCliMessages::foldersAndUnreadableFilesAreBadInput_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("said");
    const QString folder = m_dir.filePath(u"folder.kvx"_s);
    const QString missing = m_dir.filePath(u"missing.kvx"_s);
    QTest::newRow("export to a folder") << QStringList{u"export"_s, u"127.0.0.2"_s, folder}
                                        << folder + u" is a folder, not a file."_s;
    QTest::newRow("import of a folder") << QStringList{u"import"_s, folder, u"127.0.0.2"_s}
                                        << folder + u" is a folder, not a file."_s;
    QTest::newRow("show of a folder") << QStringList{u"show"_s, folder} << folder + u" is a folder, not a file."_s;
    QTest::newRow("import of a missing file")
        << QStringList{u"import"_s, missing, u"127.0.0.2"_s}
        << u"%1: [%2] %3"_s.arg(missing).arg(ENOENT).arg(QString::fromLocal8Bit(std::strerror(ENOENT)));
    QTest::newRow("show of a missing file")
        << QStringList{u"show"_s, missing}
        << u"%1: [%2] %3"_s.arg(missing).arg(ENOENT).arg(QString::fromLocal8Bit(std::strerror(ENOENT)));
    QTest::newRow("firmware from a folder")
        << QStringList{u"firmware"_s, folder, u"127.0.0.2"_s} << folder + u" is a folder, not a file."_s;
}

void TestCliMessages::foldersAndUnreadableFilesAreBadInput()
{
    QFETCH(QStringList, args);
    QFETCH(QString, said);
    const clitest::CliRun run = runCli(args);
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains(said), qPrintable(run.err));
    QCOMPARE(m_handled->count(), 0);
}

QTEST_GUILESS_MAIN(TestCliMessages)
#include "tst_cli_messages.moc"
