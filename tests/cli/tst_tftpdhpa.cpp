// The direct upload against a TFTP server no one here wrote: Debian's tftpd-hpa, started by the test
// on 127.0.13.2 at port 53069 (its own) with a temporary folder, and stopped after it. The file that
// arrives is compared byte for byte. Skipped when tftpd-hpa is not installed.

#include "CliTool.h"
#include "FirmwarePeers.h"
#include "TftpdProcess.h"
#include "firmware/CQuickBurnWnd.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint32_t kServer = 0x7F000D02; // 127.0.13.2
constexpr std::uint16_t kTftpPort = 53069;

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.tftpPort = kTftpPort;
    return p;
}
} // namespace

class TestTftpdHpa : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void engineUploadArrivesByteForByte_data();
    void engineUploadArrivesByteForByte();
    void cliUploadArrivesByteForByte();
    void serverRefusalIsItsTftpError();

private:
    QTemporaryDir m_dir;
};

void TestTftpdHpa::initTestCase()
{
    if (!TftpdProcess::available())
        QSKIP("tftpd-hpa is not installed (scripts/deps.sh installs it)");
}

void TestTftpdHpa::engineUploadArrivesByteForByte_data()
{
    QTest::addColumn<int>("size");
    for (const int size : {0, 1, 511, 512, 513, 1048576})
        QTest::addRow("%d bytes", size) << size;
}

void TestTftpdHpa::engineUploadArrivesByteForByte()
{
    QFETCH(int, size);
    TftpdProcess server;
    QVERIFY2(server.start(kServer, kTftpPort), qPrintable(server.errorText()));
    fwtest::Recorder recorder;
    CQuickBurnWnd engine(testProfile(), &recorder);
    recorder.attach(&engine);
    const QByteArray image = fwtest::pattern(size, 11);
    const QString name = u"tessel-%1.bin"_s.arg(size);

    engine.StartTftpUpload(kServer, name, reinterpret_cast<const std::uint8_t*>(image.constData()), image.size());
    QVERIFY(recorder.waitForFinal(20000));
    QCOMPARE(recorder.finalCodes(), QList<int>{CQuickBurnWnd::kComplete});
    QCOMPARE(recorder.progress().last(), size);
    QVERIFY(server.exists(name));
    QCOMPARE(server.file(name), image);
    QVERIFY(!engine.isBusy());
}

void TestTftpdHpa::cliUploadArrivesByteForByte()
{
    TftpdProcess server;
    QVERIFY2(server.start(kServer, kTftpPort), qPrintable(server.errorText()));
    const QByteArray image = fwtest::pattern(300000, 12);
    const QString path = m_dir.filePath(u"cli.bin"_s);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
    file.close();

    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    CliTool tool(outStream, errStream, NetworkProfile::real());
    const int status =
        tool.run({u"firmware"_s, path, u"127.0.13.2"_s, u"--direct"_s, u"--tftp-port"_s, QString::number(kTftpPort)});
    outStream.flush();
    errStream.flush();
    QCOMPARE(err, QString());
    QCOMPARE(status, 0);
    QVERIFY(out.endsWith(u"Downloading firmware has been successfully completed.\n"_s));
    QCOMPARE(server.file(u"cli.bin"_s), image);
}

void TestTftpdHpa::serverRefusalIsItsTftpError()
{
    TftpdProcess server;
    QVERIFY2(server.start(kServer, kTftpPort, false), qPrintable(server.errorText())); // no new files
    fwtest::Recorder recorder;
    CQuickBurnWnd engine(testProfile(), &recorder);
    recorder.attach(&engine);
    const QByteArray image = fwtest::pattern(1000);
    engine.StartTftpUpload(kServer, u"new.bin"_s, reinterpret_cast<const std::uint8_t*>(image.constData()),
                           image.size());
    QVERIFY(recorder.waitForFinal());
    QCOMPARE(recorder.finalCodes(), QList<int>{CQuickBurnWnd::kTftpError});
    QCOMPARE(recorder.lastFinal().message, u"TFTP error: file not found"_s);
    QVERIFY(!server.exists(u"new.bin"_s));
}

QTEST_GUILESS_MAIN(TestTftpdHpa)
#include "tst_tftpdhpa.moc"
