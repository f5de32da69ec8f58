// The firmware verb of the command-line tool, run in-process with its streams swapped for buffers,
// against simulated devices on loopback (127.0.12.2 and up; device port 52905, TFTP 52969, shell
// 52923, this test's own).

#include "CliTool.h"
#include "FirmwarePeers.h"
#include "SimFirmware.h"
#include "TesselSim.h"
#include "TftpServer.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <cerrno>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint32_t kFirstAddress = 0x7F000C02; // 127.0.12.2, then .3
constexpr int kShellProductDevice = 1;              // 127.0.12.3 reports product code 10

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = 52905;
    p.tftpPort = 52969;
    p.shellPort = 52923;
    return p;
}

const QString kCompleted = u"Downloading firmware has been successfully completed.\n"_s;

struct Run
{
    int status = -1;
    QString out;
    QString err;
};
} // namespace

class TestCliFirmware : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void uploadsTheFileTheWayTheDeviceTakes_data();
    void uploadsTheFileTheWayTheDeviceTakes();
    void failuresPrintTheDialogsMessageAndExitOne_data();
    void failuresPrintTheDialogsMessageAndExitOne();
    void badInputIsAUsageErrorAndSendsNothing_data();
    void badInputIsAUsageErrorAndSendsNothing();
    void largestImageOneUploadCarriesIsSent();
    void aTerminalGetsAProgressBarRedrawnInPlace();
    void severalDevicesEachGetTheImageWithOneLineEach();
    void severalDevicesNeedYesAndReportEachFailure();
    void jobsBoundTheUploadsOpenAtOnce_data();
    void jobsBoundTheUploadsOpenAtOnce();

private:
    Run run(const QStringList& args, bool terminal = false);
    QString writeFile(const QString& name, const QByteArray& bytes);
    void startFirmware(const SimFirmwareOptions& options);

    QTemporaryDir m_dir;
    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<SimFirmware> m_firmware;
};

void TestCliFirmware::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestCliFirmware::init()
{
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevices(2, kFirstAddress);
    EnvRecord& shellDevice = m_sim->device(kShellProductDevice).record;
    shellDevice.setProductId(static_cast<std::uint8_t>(10 << 3));
    QString problem;
    QVERIFY2(m_sim->start(&problem), qPrintable(problem));
    startFirmware({});
}

void TestCliFirmware::cleanup()
{
    m_firmware.reset();
    m_sim.reset();
}

void TestCliFirmware::startFirmware(const SimFirmwareOptions& options)
{
    SimFirmwareOptions o = options;
    o.flashMs = 10;
    m_firmware = std::make_unique<SimFirmware>(testProfile());
    QString problem;
    QVERIFY2(m_firmware->start({kFirstAddress, kFirstAddress + 1}, o, &problem), qPrintable(problem));
}

Run TestCliFirmware::run(const QStringList& args, bool terminal)
{
    Run result;
    QTextStream out(&result.out);
    QTextStream err(&result.err);
    CliTool tool(out, err, testProfile());
    tool.setTerminal(terminal);
    result.status = tool.run(args);
    out.flush();
    err.flush();
    return result;
}

QString TestCliFirmware::writeFile(const QString& name, const QByteArray& bytes)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestCliFirmware::uploadsTheFileTheWayTheDeviceTakes_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("shell");
    QTest::newRow("by address, directly") << u"127.0.12.2"_s << QStringList() << 0 << false;
    QTest::newRow("by address, --shell") << u"127.0.12.2"_s << QStringList{u"--shell"_s} << 0 << true;
    QTest::newRow("by MAC, product 8") << u"02:7E:55:00:00:01"_s << QStringList() << 0 << false;
    QTest::newRow("by MAC, product 10") << u"02:7e:55:00:00:02"_s << QStringList() << 1 << true;
    QTest::newRow("by MAC, product 10, --direct") << u"02:7e:55:00:00:02"_s << QStringList{u"--direct"_s} << 1 << false;
}

void TestCliFirmware::uploadsTheFileTheWayTheDeviceTakes()
{
    QFETCH(QString, device);
    QFETCH(QStringList, options);
    QFETCH(int, index);
    QFETCH(bool, shell);
    QSignalSpy received(m_firmware.get(), &SimFirmware::firmwareReceived);
    QSignalSpy typed(m_firmware->shell(index), &ShellServer::typed);
    const QByteArray image = fwtest::pattern(20000, 5);
    const QString path = writeFile(u"tessel.bin"_s, image);

    const Run r = run(QStringList{u"firmware"_s, path, device} + options);
    QCOMPARE(r.err, QString());
    QCOMPARE(r.status, 0);
    QVERIFY2(r.out.endsWith(kCompleted), qPrintable(r.out));
    QVERIFY(r.out.contains(u"progress 0% (0 of 20000 bytes)\n"_s));
    QVERIFY(r.out.contains(u"progress 100% (20000 of 20000 bytes)\n"_s));
    QCOMPARE(r.out.contains(u"Please wait while upgrading firmware.\n"_s), shell);
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.at(0).at(0).toInt(), index);
    QCOMPARE(received.at(0).at(1).toByteArray(), QByteArray("tessel.bin"));
    QCOMPARE(fwtest::sha256(received.at(0).at(2).toByteArray()), fwtest::sha256(image));
    QCOMPARE(typed.isEmpty(), !shell);
}

void TestCliFirmware::failuresPrintTheDialogsMessageAndExitOne_data()
{
    QTest::addColumn<int>("ending");
    QTest::addColumn<int>("tftpError");
    QTest::addColumn<QString>("message");
    QTest::newRow("size rejected") << int(ShellEnding::SizeRejected) << -1 << u"Downloading has failed.[File size]\n"_s;
    QTest::newRow("timeout") << int(ShellEnding::Timeout) << -1 << u"Downloading has failed.[Memory error]\n"_s;
    QTest::newRow("TFTP error 2") << int(ShellEnding::Normal) << 2 << u"TFTP error: access violation\n"_s;
}

void TestCliFirmware::failuresPrintTheDialogsMessageAndExitOne()
{
    QFETCH(int, ending);
    QFETCH(int, tftpError);
    QFETCH(QString, message);
    SimFirmwareOptions options;
    options.ending = static_cast<ShellEnding>(ending);
    options.tftpError = tftpError;
    startFirmware(options);
    const Run r = run({u"firmware"_s, writeFile(u"fw.bin"_s, "image"), u"127.0.12.2"_s, u"--shell"_s});
    QCOMPARE(r.err, message);
    QCOMPARE(r.status, 1);
    QVERIFY(!r.out.contains(kCompleted));
}

void TestCliFirmware::badInputIsAUsageErrorAndSendsNothing_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("complaint");
    const QString file = m_dir.filePath(u"ok.bin"_s);
    const QString missing = m_dir.filePath(u"missing.bin"_s);
    QTest::newRow("no device") << QStringList{u"firmware"_s, file} << u"name the file and the device"_s;
    // Further arguments name more devices: one that names none is refused before anything is sent.
    QTest::newRow("a second device that is none")
        << QStringList{u"firmware"_s, file, u"127.0.12.2"_s, u"x"_s} << u"\"x\" is neither a MAC address"_s;
    QTest::newRow("missing file") << QStringList{u"firmware"_s, missing, u"127.0.12.2"_s}
                                  << u"%1: [%2] %3"_s.arg(missing).arg(ENOENT).arg(
                                         QString::fromLocal8Bit(std::strerror(ENOENT)));
    QTest::newRow("0.0.0.0") << QStringList{u"firmware"_s, file, u"0.0.0.0"_s} << u"0.0.0.0 is not a unicast"_s;
    QTest::newRow("not an address") << QStringList{u"firmware"_s, file, u"127.0.12"_s}
                                    << u"127.0.12 is not a valid IPv4 address."_s;
    QTest::newRow("both ways") << QStringList{u"firmware"_s, file, u"127.0.12.2"_s, u"--shell"_s, u"--direct"_s}
                               << u"--shell and --direct exclude each other"_s;
    QTest::newRow("too large") << QStringList{u"firmware"_s, m_dir.filePath(u"huge.bin"_s), u"127.0.12.2"_s}
                               << u"The firmware file huge.bin is too large"_s;
}

void TestCliFirmware::badInputIsAUsageErrorAndSendsNothing()
{
    QFETCH(QStringList, args);
    QFETCH(QString, complaint);
    writeFile(u"ok.bin"_s, "image");
    QFile huge(m_dir.filePath(u"huge.bin"_s));
    QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64{65535} * 512));
    huge.close();
    QSignalSpy started(m_firmware->tftp(0), &TftpServer::uploadStarted);
    const Run r = run(args);
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(complaint), qPrintable(r.err));
    QCOMPARE(r.out, QString());
    QVERIFY(!started.wait(200)); // nothing reached the device
}

void TestCliFirmware::largestImageOneUploadCarriesIsSent()
{
    // One byte under the size the 16-bit block numbers cannot carry: read and sent, not refused. The
    // device turns the write request down at once, which shows it arrived.
    constexpr qint64 kLargest = qint64{65535} * 512 - 1;
    SimFirmwareOptions options;
    options.tftpError = 3;
    startFirmware(options);
    const QString path = m_dir.filePath(u"largest.bin"_s);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(kLargest)); // sparse: zeros
    file.close();
    const Run r = run({u"firmware"_s, path, u"127.0.12.2"_s});
    QCOMPARE(r.err, u"TFTP error: disk full\n"_s);
    QCOMPARE(r.status, 1);
    const QString crc = QString::asprintf("%04X", qChecksum(QByteArray(kLargest, '\0'), Qt::ChecksumIso3309));
    QVERIFY2(r.out.startsWith(u"Sending largest.bin (33553919 bytes, CRC %1) to 127.0.12.2 by TFTP"_s.arg(crc)),
             qPrintable(r.out));
}

void TestCliFirmware::aTerminalGetsAProgressBarRedrawnInPlace()
{
    const Run r = run({u"firmware"_s, writeFile(u"fw.bin"_s, fwtest::pattern(4096)), u"127.0.12.2"_s}, true);
    QCOMPARE(r.status, 0);
    QVERIFY(r.out.contains(u"\r[........................................]   0% 0/4096 bytes"_s));
    QVERIFY(r.out.contains(u"\r[########################################] 100% 4096/4096 bytes\n"_s));
    QVERIFY(!r.out.contains(u"progress "_s));
    QVERIFY(r.out.endsWith(kCompleted));
}

void TestCliFirmware::severalDevicesEachGetTheImageWithOneLineEach()
{
    QSignalSpy received(m_firmware.get(), &SimFirmware::firmwareReceived);
    const QByteArray image = fwtest::pattern(3000, 9);
    const QString path = writeFile(u"many.bin"_s, image);
    // Both named by MAC; the second device (product 10) takes the shell way.
    const Run r =
        run({u"firmware"_s, path, u"02:7e:55:00:00:01"_s, u"02:7e:55:00:00:02"_s, u"--yes"_s, u"--jobs"_s, u"2"_s});
    QVERIFY2(r.status == 0, qPrintable(r.err + r.out));
    QVERIFY2(r.out.contains(u"02:7e:55:00:00:01: Downloading firmware has been successfully completed.\n"_s),
             qPrintable(r.out));
    QVERIFY(r.out.contains(u"02:7e:55:00:00:02: Downloading firmware has been successfully completed.\n"_s));
    QVERIFY(r.out.endsWith(u"2 Tessel(s) updated, 0 failed.\n"_s));
    QCOMPARE(received.size(), 2);
    for (const QList<QVariant>& arrived : received)
        QCOMPARE(fwtest::sha256(arrived.at(2).toByteArray()), fwtest::sha256(image));
}

void TestCliFirmware::severalDevicesNeedYesAndReportEachFailure()
{
    QSignalSpy received(m_firmware.get(), &SimFirmware::firmwareReceived);
    const QString path = writeFile(u"many.bin"_s, fwtest::pattern(1000, 3));
    const Run refused = run({u"firmware"_s, path, u"127.0.12.2"_s, u"127.0.12.3"_s});
    QCOMPARE(refused.status, 2);
    QVERIFY2(refused.err.contains(u"--yes"_s), qPrintable(refused.err));
    QCOMPARE(received.size(), 0);
    // 127.0.12.9 runs no TFTP server: its upload times out while the other one arrives.
    const Run r = run({u"firmware"_s, path, u"127.0.12.2"_s, u"127.0.12.9"_s, u"--yes"_s, u"--jobs"_s, u"4"_s});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.out.contains(u"127.0.12.2: Downloading firmware has been successfully completed.\n"_s),
             qPrintable(r.out));
    QVERIFY(r.out.contains(u"127.0.12.9: Downloading has failed.[Timeout]\n"_s));
    QVERIFY(r.out.endsWith(u"1 Tessel(s) updated, 1 failed.\n"_s));
    QCOMPARE(received.size(), 1);
    QCOMPARE(run({u"firmware"_s, path, u"127.0.12.2"_s, u"--jobs"_s, u"5"_s}).status, 2);
}

void TestCliFirmware::jobsBoundTheUploadsOpenAtOnce_data()
{
    QTest::addColumn<int>("jobs");
    QTest::newRow("--jobs 1") << 1;
    QTest::newRow("--jobs 2") << 2;
    QTest::newRow("--jobs 4") << 4;
}

void TestCliFirmware::jobsBoundTheUploadsOpenAtOnce()
{
    // Four devices; an upload is open at a device from its write request to its last block.
    QFETCH(int, jobs);
    constexpr int kDevices = 4;
    m_firmware = std::make_unique<SimFirmware>(testProfile());
    SimFirmwareOptions options;
    options.flashMs = 10;
    QString problem;
    QVERIFY2(
        m_firmware->start({kFirstAddress, kFirstAddress + 1, kFirstAddress + 2, kFirstAddress + 3}, options, &problem),
        qPrintable(problem));
    int open = 0;
    int most = 0;
    int done = 0;
    for (int i = 0; i < kDevices; ++i) {
        connect(m_firmware->tftp(i), &TftpServer::uploadStarted, this, [&] { most = std::max(most, ++open); });
        connect(m_firmware->tftp(i), &TftpServer::uploadReceived, this, [&] {
            --open;
            ++done;
        });
    }
    QStringList args{u"firmware"_s, writeFile(u"jobs.bin"_s, fwtest::pattern(64 * 1024, 4))};
    for (int i = 0; i < kDevices; ++i)
        args << u"127.0.12.%1"_s.arg(2 + i);
    const Run r = run(args + QStringList{u"--yes"_s, u"--jobs"_s, QString::number(jobs)});
    QVERIFY2(r.status == 0, qPrintable(r.err + r.out));
    QVERIFY(r.out.endsWith(u"4 Tessel(s) updated, 0 failed.\n"_s));
    QCOMPARE(done, kDevices);
    QCOMPARE(most, jobs);
}

QTEST_GUILESS_MAIN(TestCliFirmware)
#include "tst_cli_firmware.moc"
