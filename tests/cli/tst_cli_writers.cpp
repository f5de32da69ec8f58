// The command-line tool when one device is named twice, or written by two writers at once: each device
// is served once, and no writer silently undoes another's change. In-process against simulated devices
// on loopback (127.0.15.2 and up; device port 53415, TFTP 53479, shell 53433, this test's own).
#include "CliTestSupport.h"
#include "FirmwarePeers.h"
#include "SimFirmware.h"
#include "TesselSim.h"
#include "config/SettingsFile.h"
#include "protocol/Codec.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint32_t kFirstAddress = 0x7F000F02; // 127.0.15.2
const QString kDevice = u"127.0.15.2"_s;
const QString kDeviceMac = u"02:7e:55:00:00:01"_s;

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = 53415;
    p.tftpPort = 53479;
    p.shellPort = 53433;
    return p;
}

/** How many requests (not copies) with `command` the device handled, from a spy on requestHandled. */
int requestsOf(const QSignalSpy& handled, int command)
{
    int copies = 0;
    for (const QList<QVariant>& h : handled)
        copies += h.at(0).toInt() == 0 && h.at(1).toInt() == command ? 1 : 0;
    return copies / 2; // every request comes twice
}
} // namespace

class TestCliWriters : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void oneDeviceNamedTwiceIsServedOnce_data();
    void oneDeviceNamedTwiceIsServedOnce();
    void firmwareToOneDeviceNamedTwiceIsUploadedOnce();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<TesselSim> m_sim;
};

void TestCliWriters::init()
{
    QVERIFY(m_dir.isValid());
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevices(2, kFirstAddress);
    QString problem;
    QVERIFY2(m_sim->start(&problem), qPrintable(problem));
}

void TestCliWriters::cleanup()
{
    m_sim.reset();
}

void TestCliWriters::oneDeviceNamedTwiceIsServedOnce_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("secondName");
    const QString file = m_dir.filePath(u"settings.kvx"_s);
    QTest::newRow("write, one address twice")
        << QStringList{u"write"_s, kDevice, kDevice, u"comment=once"_s} << int(frame::kWrite) << kDevice;
    QTest::newRow("write, address and MAC")
        << QStringList{u"write"_s, kDevice, kDeviceMac, u"comment=once"_s} << int(frame::kWrite) << kDeviceMac;
    QTest::newRow("write, MAC and address, with another device between")
        << QStringList{u"write"_s, kDeviceMac, u"127.0.15.3"_s, kDevice, u"comment=once"_s} << int(frame::kWrite)
        << kDevice;
    QTest::newRow("passwd, address and MAC")
        << QStringList{u"passwd"_s, kDevice, kDeviceMac} << int(frame::kChangePassword) << kDeviceMac;
    QTest::newRow("import, MAC and address")
        << QStringList{u"import"_s, file, kDeviceMac, kDevice} << int(frame::kWrite) << kDevice;
}

void TestCliWriters::oneDeviceNamedTwiceIsServedOnce()
{
    QFETCH(QStringList, args);
    QFETCH(int, command);
    QFETCH(QString, secondName);
    EnvRecord saved = settings_file::exportedRecord(m_sim->device(0).record);
    saved.setComment("once");
    QFile file(m_dir.filePath(u"settings.kvx"_s));
    const QByteArray bytes =
        settings_file::encode(QByteArrayView(reinterpret_cast<const char*>(saved.data()), EnvRecord::kSize),
                              settings_file::Product::of(saved), QDateTime::currentDateTime());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    clitest::FakeConsole console;
    console.env[u"CORMAPMP_NEW_PASSWORD"_s] = u"newpass1"_s;
    const clitest::CliRun run = clitest::runCli(args + QStringList{u"--yes"_s}, console, testProfile());
    QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
    QCOMPARE(requestsOf(handled, command), 1);
    const QString firstName = args.at(args.at(0) == u"import"_s ? 2 : 1);
    QVERIFY2(run.out.contains(u"%1: the same Tessel as %2 (served once, not again)\n"_s.arg(secondName, firstName)),
             qPrintable(run.out));
    if (command == frame::kWrite)
        QCOMPARE(m_sim->device(0).record.comment(), std::string("once"));
}

void TestCliWriters::firmwareToOneDeviceNamedTwiceIsUploadedOnce()
{
    SimFirmwareOptions options;
    options.flashMs = 10;
    SimFirmware firmware(testProfile());
    QString problem;
    QVERIFY2(firmware.start({kFirstAddress}, options, &problem), qPrintable(problem));
    QSignalSpy received(&firmware, &SimFirmware::firmwareReceived);
    QFile image(m_dir.filePath(u"fw.bin"_s));
    QVERIFY(image.open(QIODevice::WriteOnly) && image.write(fwtest::pattern(5000)) == 5000);
    image.close();
    const clitest::CliRun run = clitest::runCli(
        testProfile(), {u"firmware"_s, image.fileName(), kDevice, kDeviceMac, u"--yes"_s, u"--jobs"_s, u"2"_s});
    QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
    QVERIFY2(run.out.contains(u"%1: Downloading firmware has been successfully completed.\n"_s.arg(kDevice)),
             qPrintable(run.out));
    QVERIFY(run.out.contains(u"%1: the same Tessel as %2 (served once, not again)\n"_s.arg(kDeviceMac, kDevice)));
    QTest::qWait(300); // a second upload, were there one, would arrive meanwhile
    QCOMPARE(received.size(), 1);
}

QTEST_GUILESS_MAIN(TestCliWriters)
#include "tst_cli_writers.moc"
