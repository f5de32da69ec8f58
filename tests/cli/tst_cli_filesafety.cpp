// The command-line tool's files where they are hard to write or read: an export onto a full disk, past a
// file-size limit or to a full device keeps the old file and says why; firmware and settings files read
// from a pipe, a FIFO or a device are read once, within their limit, and never waited for forever.
// In-process against simulated devices on loopback (127.0.14.2; device port 53425, TFTP 53469, shell
// 53423, this test's own).
#include "CliTestSupport.h"
#include "FileFaults.h"
#include "FirmwarePeers.h"
#include "SimFirmware.h"
#include "TesselSim.h"
#include "TftpServer.h"
#include "record/SettingsFile.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint32_t kDeviceAddress = 0x7F000E02; // 127.0.14.2
const QString kDevice = u"127.0.14.2"_s;
const QString kCompleted = u"Downloading firmware has been successfully completed.\n"_s;

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = 53425;
    p.tftpPort = 53469;
    p.shellPort = 53423;
    return p;
}

QStringList profileArguments()
{
    const NetworkProfile p = testProfile();
    return {u"--loopback"_s,
            u"--device-port"_s,
            QString::number(p.devicePort),
            u"--tftp-port"_s,
            QString::number(p.tftpPort),
            u"--shell-port"_s,
            QString::number(p.shellPort)};
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QString systemText(int error)
{
    return u"[%1] %2"_s.arg(error).arg(QString::fromLocal8Bit(std::strerror(error)));
}

enum class Place
{
    FullTmpfs,
    SizeLimit,
    FullDevice,
};
} // namespace

class TestCliFileSafety : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void exportThatCannotBeWrittenWholeKeepsTheOldFile_data();
    void exportThatCannotBeWrittenWholeKeepsTheOldFile();
    void firmwareFromAFifoSendsExactlyWhatWasWritten();
    void firmwareFromStandardInputSendsExactlyWhatWasPiped();
    void firmwareFromADeviceOrASilentFifoIsRefused_data();
    void firmwareFromADeviceOrASilentFifoIsRefused();
    void showAndImportReadASettingsFileFromAFifo();
    void showOfASilentFifoGivesUp();
    void importOfAnEmptyOrEndlessStreamSaysWhy_data();
    void importOfAnEmptyOrEndlessStreamSaysWhy();

private:
    QByteArray settingsFile() const;

    QTemporaryDir m_dir;
    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<SimFirmware> m_firmware;
};

void TestCliFileSafety::init()
{
    QVERIFY(m_dir.isValid());
    m_sim = std::make_unique<TesselSim>(testProfile());
    m_sim->addDevices(1, kDeviceAddress);
    QString problem;
    QVERIFY2(m_sim->start(&problem), qPrintable(problem));
    SimFirmwareOptions options;
    options.flashMs = 10;
    m_firmware = std::make_unique<SimFirmware>(testProfile());
    QVERIFY2(m_firmware->start({kDeviceAddress}, options, &problem), qPrintable(problem));
}

void TestCliFileSafety::cleanup()
{
    m_firmware.reset();
    m_sim.reset();
}

QByteArray TestCliFileSafety::settingsFile() const
{
    EnvRecord record = settings_file::exportedRecord(m_sim->device(0).record);
    record.setComment("from the fifo");
    return settings_file::encode(QByteArrayView(reinterpret_cast<const char*>(record.data()), EnvRecord::kSize),
                                 settings_file::Product::of(record), QDateTime(QDate(2013, 6, 4), QTime(9, 5, 7)));
}

void TestCliFileSafety::exportThatCannotBeWrittenWholeKeepsTheOldFile_data()
{
    QTest::addColumn<int>("place");
    QTest::addColumn<int>("error");
    QTest::newRow("full file system") << int(Place::FullTmpfs) << ENOSPC;
    QTest::newRow("file-size limit") << int(Place::SizeLimit) << EFBIG;
    QTest::newRow("a full device") << int(Place::FullDevice) << ENOSPC;
}

void TestCliFileSafety::exportThatCannotBeWrittenWholeKeepsTheOldFile()
{
    QFETCH(int, place);
    QFETCH(int, error);
    const QString folder = m_dir.filePath(u"export%1"_s.arg(place));
    QVERIFY(QDir().mkpath(folder));
    QString path = QDir(folder).filePath(u"good.kvx"_s);
    const QByteArray old = settingsFile();
    std::unique_ptr<filetest::FullTmpfs> disk;
    std::unique_ptr<filetest::FileSizeLimit> limit;
    if (place == int(Place::FullTmpfs)) {
        disk = std::make_unique<filetest::FullTmpfs>(folder);
        if (!disk->ready())
            QSKIP(qPrintable(disk->why()));
        QVERIFY(disk->place(u"good.kvx"_s, old));
        disk->fill();
    } else if (place == int(Place::SizeLimit)) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(old) == old.size());
        file.close();
        limit = std::make_unique<filetest::FileSizeLimit>(100);
    } else {
        // A node of the test's own that behaves as /dev/full, so a save that replaces it harms nothing.
        if (const QString why = filetest::makeFullDevice(path); !why.isEmpty())
            QSKIP(qPrintable(why));
    }
    const QStringList before = filetest::entries(folder);
    const clitest::CliRun run = clitest::runCli(testProfile(), {u"export"_s, kDevice, path});
    limit.reset();
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err, u"%1: %2\n"_s.arg(path, systemText(error)));
    QCOMPARE(run.status, 1);
    if (place != int(Place::FullDevice))
        QCOMPARE(contentOf(path), old);
    else
        QVERIFY(QFileInfo(path).exists() && !QFileInfo(path).isFile()); // written to, not replaced
    QCOMPARE(filetest::entries(folder), before);
}

void TestCliFileSafety::firmwareFromAFifoSendsExactlyWhatWasWritten()
{
    QSignalSpy received(m_firmware.get(), &SimFirmware::firmwareReceived);
    const QByteArray image = fwtest::pattern(100000, 3); // more than a pipe holds at once
    filetest::Fifo fifo(m_dir.filePath(u"fw.bin"_s));
    QVERIFY(fifo.made());
    fifo.write(image);
    const clitest::CliRun run = clitest::runCli(testProfile(), {u"firmware"_s, fifo.path(), kDevice});
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.contains(u"Sending fw.bin (100000 bytes, CRC "_s), qPrintable(run.out));
    QVERIFY(run.out.endsWith(kCompleted));
    QCOMPARE(received.size(), 1);
    QCOMPARE(fwtest::sha256(received.at(0).at(2).toByteArray()), fwtest::sha256(image));
}

void TestCliFileSafety::firmwareFromStandardInputSendsExactlyWhatWasPiped()
{
    // The executable with its standard input a pipe, as `cormapmp-cli firmware /dev/stdin … < fw.bin`
    // behind a pipe or `<(cat fw.bin)` have it.
    QSignalSpy received(m_firmware.get(), &SimFirmware::firmwareReceived);
    const QByteArray image = fwtest::pattern(70001, 8);
    QProcess cli;
    cli.start(QStringLiteral(CORMAPMP_CLI_PATH),
              QStringList{u"firmware"_s, u"/dev/stdin"_s, kDevice} + profileArguments());
    QVERIFY(cli.waitForStarted());
    cli.write(image);
    cli.closeWriteChannel();
    // The simulated device answers from this test's event loop, so wait by polling it.
    QTRY_VERIFY_WITH_TIMEOUT(cli.state() == QProcess::NotRunning, 20000);
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    QVERIFY2(cli.exitCode() == 0, qPrintable(QString::fromUtf8(cli.readAllStandardError())));
    QVERIFY2(out.contains(u"(70001 bytes, CRC "_s), qPrintable(out));
    QCOMPARE(received.size(), 1);
    QCOMPARE(fwtest::sha256(received.at(0).at(2).toByteArray()), fwtest::sha256(image));
}

void TestCliFileSafety::firmwareFromADeviceOrASilentFifoIsRefused_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("complaint");
    QTest::newRow("endless device") << u"/dev/zero"_s << u"The firmware read from zero is too large (more than "_s;
    QTest::newRow("empty device") << u"/dev/null"_s << u"Nothing could be read from null: it delivered no bytes."_s;
    QTest::newRow("FIFO nobody writes to")
        << u"fifo"_s << u"Nothing came from fifo.bin for 10 seconds; it was not read."_s;
}

void TestCliFileSafety::firmwareFromADeviceOrASilentFifoIsRefused()
{
    QFETCH(QString, path);
    QFETCH(QString, complaint);
    std::unique_ptr<filetest::Fifo> fifo;
    if (path == u"fifo"_s) {
        fifo = std::make_unique<filetest::Fifo>(m_dir.filePath(u"fifo.bin"_s));
        QVERIFY(fifo->made());
        path = fifo->path();
    }
    QSignalSpy started(m_firmware->tftp(0), &TftpServer::uploadStarted);
    const clitest::CliRun run = clitest::runCli(testProfile(), {u"firmware"_s, path, kDevice});
    QCOMPARE(run.status, 2);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.startsWith(u"cormapmp-cli: "_s + complaint), qPrintable(run.err));
    QVERIFY(!started.wait(200)); // nothing reached the device
}

void TestCliFileSafety::showAndImportReadASettingsFileFromAFifo()
{
    filetest::Fifo fifo(m_dir.filePath(u"settings.kvx"_s));
    QVERIFY(fifo.made());
    fifo.write(settingsFile());
    const clitest::CliRun show = clitest::runCli(testProfile(), {u"show"_s, fifo.path()});
    QCOMPARE(show.err, QString());
    QCOMPARE(show.status, 0);
    QVERIFY2(show.out.contains(u"from the fifo"_s), qPrintable(show.out));

    filetest::Fifo again(m_dir.filePath(u"again.kvx"_s));
    QVERIFY(again.made());
    again.write(settingsFile());
    const clitest::CliRun import = clitest::runCli(testProfile(), {u"import"_s, again.path(), kDevice});
    QCOMPARE(import.err, QString());
    QCOMPARE(import.status, 0);
    QCOMPARE(m_sim->device(0).record.comment(), std::string("from the fifo"));
}

void TestCliFileSafety::showOfASilentFifoGivesUp()
{
    filetest::Fifo fifo(m_dir.filePath(u"silent.kvx"_s));
    QVERIFY(fifo.made());
    const clitest::CliRun show = clitest::runCli(testProfile(), {u"show"_s, fifo.path()});
    QCOMPARE(show.status, 2); // a stream that never delivers is unusable input
    QCOMPARE(show.out, QString());
    QCOMPARE(show.err, u"Nothing came from %1 for 10 seconds; it was not read.\n"_s.arg(fifo.path()));
}

void TestCliFileSafety::importOfAnEmptyOrEndlessStreamSaysWhy_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("complaint");
    QTest::newRow("empty device") << u"/dev/null"_s
                                  << u"Nothing could be read from /dev/null: it delivered no bytes.\n"_s;
    QTest::newRow("endless device")
        << u"/dev/zero"_s
        << u"The file is damaged.\n/dev/zero is longer than any settings file (more than 65576 bytes); it was not "
           u"read to its end.\n"_s;
}

void TestCliFileSafety::importOfAnEmptyOrEndlessStreamSaysWhy()
{
    QFETCH(QString, path);
    QFETCH(QString, complaint);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    for (const QString& verb : {u"import"_s, u"show"_s}) {
        const QStringList args = verb == u"show"_s ? QStringList{verb, path} : QStringList{verb, path, kDevice};
        const clitest::CliRun run = clitest::runCli(testProfile(), args);
        QCOMPARE(run.status, 2);
        QCOMPARE(run.err, complaint);
    }
    QCOMPARE(handled.count(), 0); // nothing was asked of the device
}

QTEST_GUILESS_MAIN(TestCliFileSafety)
#include "tst_cli_filesafety.moc"
