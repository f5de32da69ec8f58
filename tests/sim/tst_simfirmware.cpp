// The simulated devices' firmware side: the TFTP server against Debian's tftp-hpa client (a client no one
// here wrote), the shell's conversation as a plain TCP client sees it, the tessel-sim command line and the
// line the executable prints for an image. Addresses 127.0.15.x and ports 53269/53223 are this test's own.

#include "FirmwarePeers.h"
#include "SimFirmware.h"
#include "SimOptions.h"
#include "SimProcess.h"
#include "TftpServer.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint32_t kDevice = 0x7F000F02; // 127.0.15.2
constexpr std::uint16_t kTftpPort = 53269;
constexpr std::uint16_t kShellPort = 53223;
const char* const kTftpClient = "/usr/bin/tftp";

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.tftpPort = kTftpPort;
    p.shellPort = kShellPort;
    return p;
}

/** Reads from the shell into `seen` until `text` has come; false when it did not within 5 s. */
bool readUntil(QTcpSocket& socket, QByteArray& seen, const QByteArray& text)
{
    return QTest::qWaitFor(
        [&] {
            seen += socket.readAll();
            return seen.contains(text);
        },
        5000);
}
} // namespace

class TestSimFirmware : public QObject
{
    Q_OBJECT

private slots:
    void tftpHpaClientUploadArrivesIntact_data();
    void tftpHpaClientUploadArrivesIntact();
    void shellConversationAsAClientSeesIt();
    void commandLineReadsTheFirmwareOptions_data();
    void commandLineReadsTheFirmwareOptions();
    void executablePrintsEveryImageItReceives();

private:
    QTemporaryDir m_dir;
};

void TestSimFirmware::tftpHpaClientUploadArrivesIntact_data()
{
    QTest::addColumn<int>("size");
    for (const int size : {0, 512, 70000})
        QTest::addRow("%d bytes", size) << size;
}

void TestSimFirmware::tftpHpaClientUploadArrivesIntact()
{
    QFETCH(int, size);
    if (!QFile::exists(QString::fromLatin1(kTftpClient)))
        QSKIP("tftp-hpa is not installed (scripts/deps.sh installs it)");
    SimFirmware sim(testProfile());
    QVERIFY(sim.start({kDevice}, {}));
    QSignalSpy received(&sim, &SimFirmware::firmwareReceived);
    const QByteArray image = fwtest::pattern(size, 21);
    const QString path = m_dir.filePath(u"client-%1.bin"_s.arg(size));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
    file.close();

    QProcess client;
    client.start(QString::fromLatin1(kTftpClient), {u"-m"_s, u"binary"_s, u"127.0.15.2"_s, QString::number(kTftpPort),
                                                    u"-c"_s, u"put"_s, path, u"up.bin"_s});
    QVERIFY(received.wait(10000) || received.size() == 1);
    QVERIFY(client.waitForFinished(10000));
    QCOMPARE(client.exitCode(), 0);
    QCOMPARE(received.at(0).at(1).toByteArray(), QByteArray("up.bin"));
    QCOMPARE(fwtest::sha256(received.at(0).at(2).toByteArray()), fwtest::sha256(image));
}

void TestSimFirmware::shellConversationAsAClientSeesIt()
{
    SimFirmwareOptions options;
    options.flashMs = 10;
    SimFirmware sim(testProfile());
    QVERIFY(sim.start({kDevice}, options));
    QTcpSocket shell;
    shell.connectToHost(QHostAddress(kDevice), kShellPort);
    QVERIFY(shell.waitForConnected(5000));
    QByteArray seen;
    QVERIFY(readUntil(shell, seen, "msh>"));
    QVERIFY(seen.endsWith("msh>"));
    shell.write("pf\ry");
    QVERIFY(readUntil(shell, seen, "TFTP"));
    QVERIFY(seen.contains("Waiting for the TFTP upload"));
    QVERIFY(sim.shell(0)->waitingForUpload());
    // Nothing the device said before the upload names a later step.
    for (const char* later : {"program flash now", "reboot now", "timeout", "firmware size is not"})
        QVERIFY2(!seen.contains(later), later);
    sim.shell(0)->uploadReceived("image");
    QVERIFY(readUntil(shell, seen, "program flash now"));
    shell.write("y");
    QVERIFY(readUntil(shell, seen, "reboot now"));
    QVERIFY(!seen.contains("timeout"));
    shell.write("y");
    // The device restarts: the connection closes.
    QTRY_COMPARE_WITH_TIMEOUT(shell.state(), QAbstractSocket::UnconnectedState, 5000);
}

void TestSimFirmware::commandLineReadsTheFirmwareOptions_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("ending");
    QTest::addColumn<int>("tftpError");
    QTest::addColumn<bool>("shell");
    QTest::addColumn<bool>("firmware");
    QTest::newRow("defaults") << u""_s << int(ShellEnding::Normal) << -1 << true << true;
    QTest::newRow("size") << u"--shell-ending size"_s << int(ShellEnding::SizeRejected) << -1 << true << true;
    QTest::newRow("silent, error 3") << u"--shell-ending silent --tftp-error 3"_s << int(ShellEnding::Silent) << 3
                                     << true << true;
    QTest::newRow("no shell") << u"--no-shell"_s << int(ShellEnding::Normal) << -1 << false << true;
    QTest::newRow("no firmware") << u"--no-firmware"_s << int(ShellEnding::Normal) << -1 << true << false;
}

void TestSimFirmware::commandLineReadsTheFirmwareOptions()
{
    QFETCH(QString, args);
    QFETCH(int, ending);
    QFETCH(int, tftpError);
    QFETCH(bool, shell);
    QFETCH(bool, firmware);
    const auto parsed = parseSimOptions(args.split(u' ', Qt::SkipEmptyParts));
    QVERIFY(std::holds_alternative<SimOptions>(parsed));
    const SimOptions& o = std::get<SimOptions>(parsed);
    QCOMPARE(int(o.firmwareOptions.ending), ending);
    QCOMPARE(o.firmwareOptions.tftpError, tftpError);
    QCOMPARE(o.firmwareOptions.shell, shell);
    QCOMPARE(o.firmware, firmware);
    const auto bad = parseSimOptions({u"--shell-ending"_s, u"later"_s});
    QVERIFY(std::get<QString>(bad).contains(u"--shell-ending"_s));
}

void TestSimFirmware::executablePrintsEveryImageItReceives()
{
    SimProcess sim;
    QVERIFY2(sim.start({u"--loopback"_s, u"--devices"_s, u"1"_s, u"--first-address"_s, u"127.0.15.3"_s,
                        u"--device-port"_s, u"53205"_s, u"--tftp-port"_s, QString::number(kTftpPort), u"--shell-port"_s,
                        QString::number(kShellPort)},
                       1),
             qPrintable(sim.errorText()));
    fwtest::Recorder recorder;
    CQuickBurnWnd engine(testProfile(), &recorder);
    recorder.attach(&engine);
    const QByteArray image = fwtest::pattern(1234, 4);
    engine.StartShellUpload(0x7F000F03, u"printed.bin"_s, reinterpret_cast<const std::uint8_t*>(image.constData()),
                            image.size());
    QVERIFY(recorder.waitForFinal());
    QCOMPARE(recorder.finalCodes(), QList<int>{CQuickBurnWnd::kComplete});
    const QString expected = u"firmware %1 printed.bin 1234 %2"_s.arg(sim.deviceLines().at(0).section(u' ', 0, 0),
                                                                      QString::fromLatin1(fwtest::sha256(image)));
    QString printed;
    QVERIFY(QTest::qWaitFor(
        [&] {
            printed += QString::fromLocal8Bit(sim.process().readAllStandardOutput());
            return printed.contains(u'\n');
        },
        5000));
    QCOMPARE(printed.trimmed(), expected);
}

QTEST_GUILESS_MAIN(TestSimFirmware)
#include "tst_simfirmware.moc"
