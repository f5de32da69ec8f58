// The firmware transfer engine's shell way: the conversation with the device's shell around the TFTP
// upload, against the simulated device (its shell and TFTP server) and against a plain-socket shell a
// test speaks for line by line. Addresses 127.0.9.x and ports 52769/52723 are this test's own.

#include "FirmwarePeers.h"
#include "SimFirmware.h"
#include "TftpServer.h"
#include "firmware/CQuickBurnWnd.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using fwtest::DroppingShellPeer;
using fwtest::Recorder;
using fwtest::ShellPeer;
using fwtest::UdpPeer;

namespace {
constexpr std::uint32_t kSimDevice = 0x7F000902;  // 127.0.9.2
constexpr std::uint32_t kFakeDevice = 0x7F000903; // 127.0.9.3
constexpr std::uint16_t kTftpPort = 52769;
constexpr std::uint16_t kShellPort = 52723;
constexpr int kTestFlashMs = 10;
const QByteArray kFlashCommand("pf\ry");

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.tftpPort = kTftpPort;
    p.shellPort = kShellPort;
    return p;
}

const std::uint8_t* bytes(const QByteArray& a)
{
    return reinterpret_cast<const std::uint8_t*>(a.constData());
}

QByteArray joined(const QSignalSpy& spy)
{
    QByteArray all;
    for (const QList<QVariant>& call : spy)
        all += call.at(0).toByteArray();
    return all;
}
} // namespace

class TestQuickBurnShell : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void imageArrivesIntactAndCompletesWhenTheShellCloses_data();
    void imageArrivesIntactAndCompletesWhenTheShellCloses();
    void eachDeviceEndingGivesOneFinalCode_data();
    void eachDeviceEndingGivesOneFinalCode();
    void promptWhilePleaseWaitIsShownTypesNothing();
    void refusedShellFallsBackToADirectUpload();
    void droppedShellConnectionFallsBackWhenTheWatchdogRunsOut();
    void waitsRunOnPreciseTimersAndTheWatchdogBoundsTheConnection();
    void watchdogMidUploadStopsTheUploadWithOneNoResponse();
    void chatterWithoutKeywordsIsCappedAndTheWatchdogEndsIt();
    void shellClosedBeforeTheUpdateIsNotASuccess_data();
    void shellClosedBeforeTheUpdateIsNotASuccess();

private:
    std::unique_ptr<SimFirmware> startSim(const SimFirmwareOptions& options);

    std::unique_ptr<CQuickBurnWnd> m_engine;
    std::unique_ptr<Recorder> m_recorder;
};

void TestQuickBurnShell::init()
{
    m_recorder = std::make_unique<Recorder>();
    m_engine = std::make_unique<CQuickBurnWnd>(testProfile(), m_recorder.get());
    m_recorder->attach(m_engine.get());
}

void TestQuickBurnShell::cleanup()
{
    m_engine.reset();
    m_recorder.reset();
}

std::unique_ptr<SimFirmware> TestQuickBurnShell::startSim(const SimFirmwareOptions& options)
{
    auto sim = std::make_unique<SimFirmware>(testProfile());
    QString problem;
    if (!sim->start({kSimDevice}, options, &problem))
        qWarning("%s", qPrintable(problem));
    return sim;
}

void TestQuickBurnShell::imageArrivesIntactAndCompletesWhenTheShellCloses_data()
{
    QTest::addColumn<int>("size");
    for (const int size : {0, 1, 511, 512, 513, 1048576})
        QTest::addRow("%d bytes", size) << size;
}

void TestQuickBurnShell::imageArrivesIntactAndCompletesWhenTheShellCloses()
{
    QFETCH(int, size);
    SimFirmwareOptions options;
    options.flashMs = kTestFlashMs;
    const std::unique_ptr<SimFirmware> sim = startSim(options);
    QVERIFY(sim->isRunning());
    QSignalSpy received(sim.get(), &SimFirmware::firmwareReceived);
    QSignalSpy typed(sim->shell(0), &ShellServer::typed);
    const QByteArray image = fwtest::pattern(size, 7);

    m_engine->StartShellUpload(kSimDevice, u"fw-%1.bin"_s.arg(size), bytes(image), image.size());
    QVERIFY(m_recorder->waitForFinal());

    QCOMPARE(m_recorder->finalCodes(), QList<int>{CQuickBurnWnd::kComplete});
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.at(0).at(1).toByteArray(), u"fw-%1.bin"_s.arg(size).toLatin1());
    QCOMPARE(fwtest::sha256(received.at(0).at(2).toByteArray()), fwtest::sha256(image));
    QCOMPARE(m_recorder->progress().first(), 0);
    QCOMPARE(m_recorder->progress().last(), size);
    // The flash command, then "y" to program the flash and "y" to reboot; nothing else.
    QCOMPARE(joined(typed), kFlashCommand + "yy");
    // The result came after the please-wait window was shown, and the window is hidden again.
    const QList<Recorder::Entry>& log = m_recorder->log();
    const auto shown = std::find_if(log.begin(), log.end(), [](const auto& e) { return e.code == Recorder::kShown; });
    QVERIFY(shown != log.end());
    QCOMPARE(shown->message, u"Please wait while upgrading firmware."_s);
    QCOMPARE(log.last().code, int(CQuickBurnWnd::kComplete));
    QVERIFY(!m_recorder->pleaseWaitShown());
    QVERIFY(!m_engine->isBusy());
    // The address cache is flushed for the conversation and again for the upload.
    QCOMPARE(m_recorder->flushed, (QList<std::uint32_t>{kSimDevice, kSimDevice}));
}

void TestQuickBurnShell::eachDeviceEndingGivesOneFinalCode_data()
{
    QTest::addColumn<int>("ending");
    QTest::addColumn<int>("tftpError");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("uploaded");
    QTest::newRow("size rejected") << int(ShellEnding::SizeRejected) << -1 << int(CQuickBurnWnd::kSizeRejected)
                                   << QString() << true;
    QTest::newRow("timeout") << int(ShellEnding::Timeout) << -1 << int(CQuickBurnWnd::kDeviceTimeout) << QString()
                             << true;
    QTest::newRow("closed after the flash command")
        << int(ShellEnding::CloseEarly) << -1 << int(CQuickBurnWnd::kNoResponse) << QString() << false;
    QTest::newRow("TFTP error") << int(ShellEnding::Normal) << 2 << int(CQuickBurnWnd::kTftpError)
                                << u"TFTP error: access violation"_s << false;
    QTest::newRow("never says anything") << int(ShellEnding::Silent) << -1 << int(CQuickBurnWnd::kNoResponse)
                                         << QString() << false;
}

void TestQuickBurnShell::eachDeviceEndingGivesOneFinalCode()
{
    QFETCH(int, ending);
    QFETCH(int, tftpError);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(bool, uploaded);
    SimFirmwareOptions options;
    options.ending = static_cast<ShellEnding>(ending);
    options.tftpError = tftpError;
    options.flashMs = kTestFlashMs;
    const std::unique_ptr<SimFirmware> sim = startSim(options);
    QVERIFY(sim->isRunning());
    QSignalSpy received(sim.get(), &SimFirmware::firmwareReceived);
    QSignalSpy ended(sim->shell(0), &ShellServer::conversationEnded);
    m_engine->setTimings(CQuickBurnWnd::kRetransmitMs, 1000);
    const QByteArray image = fwtest::pattern(1500);

    m_engine->StartShellUpload(kSimDevice, u"fw.bin"_s, bytes(image), image.size());
    QVERIFY(m_recorder->waitForFinal());

    QCOMPARE(m_recorder->finalCodes(), QList<int>{code});
    QCOMPARE(m_recorder->lastFinal().message, message);
    QCOMPARE(received.size(), uploaded ? 1 : 0);
    QVERIFY(!m_engine->isBusy());
    QVERIFY(!m_recorder->pleaseWaitShown());
    // The engine has closed its side of the conversation.
    QVERIFY(ended.size() == 1 || ended.wait(3000));
}

void TestQuickBurnShell::promptWhilePleaseWaitIsShownTypesNothing()
{
    ShellPeer shell(kFakeDevice, kShellPort);
    TftpServer tftp;
    QVERIFY(tftp.listen(kFakeDevice, kTftpPort));
    QSignalSpy received(&tftp, &TftpServer::uploadReceived);
    const QByteArray image = fwtest::pattern(2000);

    m_engine->StartShellUpload(kFakeDevice, u"fw.bin"_s, bytes(image), image.size());
    QVERIFY(shell.waitForConnection());
    shell.say("msh>"); // the prompt at the very first position of the shell text
    QVERIFY(shell.waitForTyped(kFlashCommand));
    shell.say("TFTP");
    QVERIFY(received.wait(5000) || received.size() == 1);
    QTRY_VERIFY(!m_engine->uploadActive());
    QCOMPARE(m_recorder->progress().last(), 2000);
    QVERIFY(m_recorder->finalCodes().isEmpty()); // a completed upload reports nothing on this way

    shell.say("\r\nprogram flash now? ");
    QVERIFY(shell.waitForTyped(kFlashCommand + "y"));
    QVERIFY(m_recorder->pleaseWaitShown());
    // The prompt while the please-wait window is shown; then the reboot question. The next thing typed
    // must be the single "y" for the reboot (the shell keeps the order of what is typed).
    shell.say("\r\nmsh>");
    shell.say("\r\nreboot now? ");
    QVERIFY(shell.waitForTyped(kFlashCommand + "yy"));
    QVERIFY(m_recorder->finalCodes().isEmpty());
    shell.hangUp();
    QVERIFY(m_recorder->waitForFinal());
    QCOMPARE(m_recorder->finalCodes(), QList<int>{CQuickBurnWnd::kComplete});
    QCOMPARE(fwtest::sha256(received.at(0).at(1).toByteArray()), fwtest::sha256(image));
    QVERIFY(!m_engine->isBusy());
}

void TestQuickBurnShell::refusedShellFallsBackToADirectUpload()
{
    SimFirmwareOptions options;
    options.shell = false;
    const std::unique_ptr<SimFirmware> sim = startSim(options);
    QVERIFY(sim->isRunning());
    QSignalSpy received(sim.get(), &SimFirmware::firmwareReceived);
    const QByteArray image = fwtest::pattern(5000);

    m_engine->StartShellUpload(kSimDevice, u"direct.bin"_s, bytes(image), image.size());
    QVERIFY(m_recorder->waitForFinal());
    QCOMPARE(m_recorder->finalCodes(), QList<int>{CQuickBurnWnd::kComplete});
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.at(0).at(1).toByteArray(), QByteArray("direct.bin"));
    QCOMPARE(fwtest::sha256(received.at(0).at(2).toByteArray()), fwtest::sha256(image));
    QCOMPARE(m_recorder->flushed, (QList<std::uint32_t>{kSimDevice, kSimDevice}));
    QVERIFY(!m_engine->isBusy());
}

void TestQuickBurnShell::droppedShellConnectionFallsBackWhenTheWatchdogRunsOut()
{
    SimFirmwareOptions options;
    options.shell = false; // the device's TFTP server answers; its shell port drops every attempt
    const std::unique_ptr<SimFirmware> sim = startSim(options);
    QVERIFY(sim->isRunning());
    DroppingShellPeer shell(kSimDevice, kShellPort);
    QVERIFY(shell.isDropping());
    QSignalSpy received(sim.get(), &SimFirmware::firmwareReceived);
    constexpr int kWatchdogMs = 600;
    m_engine->setTimings(CQuickBurnWnd::kRetransmitMs, kWatchdogMs);
    const QByteArray image = fwtest::pattern(3000);

    m_engine->StartShellUpload(kSimDevice, u"dropped.bin"_s, bytes(image), image.size());
    // Still waiting for the shell: the attempt was neither answered nor refused.
    QTest::qWait(kWatchdogMs / 3);
    QVERIFY(m_recorder->finalCodes().isEmpty());
    QVERIFY(!m_engine->uploadActive());
    QCOMPARE(received.size(), 0);
    // Then the direct upload, long before the system would give up on the connection.
    QVERIFY(m_recorder->waitForFinal(8000));
    QCOMPARE(m_recorder->finalCodes(), QList<int>{CQuickBurnWnd::kComplete});
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.at(0).at(1).toByteArray(), QByteArray("dropped.bin"));
    QCOMPARE(fwtest::sha256(received.at(0).at(2).toByteArray()), fwtest::sha256(image));
    QCOMPARE(m_recorder->flushed, (QList<std::uint32_t>{kSimDevice, kSimDevice}));
    QCOMPARE(shell.queued(), 1); // the engine's attempt never got in
    QVERIFY(!m_engine->isBusy());
}

void TestQuickBurnShell::waitsRunOnPreciseTimersAndTheWatchdogBoundsTheConnection()
{
    // A 10 s wait is 10 s: a coarse timer may fire half a second early or late.
    auto* retransmit = m_engine->findChild<QTimer*>(u"retransmitTimer"_s);
    auto* watchdog = m_engine->findChild<QTimer*>(u"shellWatchdog"_s);
    QVERIFY(retransmit && watchdog);
    QCOMPARE(retransmit->timerType(), Qt::PreciseTimer);
    QCOMPARE(watchdog->timerType(), Qt::PreciseTimer);
    QCOMPARE(retransmit->interval(), 500);
    QVERIFY(!retransmit->isSingleShot());
    QCOMPARE(watchdog->interval(), 10000);
    QVERIFY(watchdog->isSingleShot());

    DroppingShellPeer shell(kFakeDevice, kShellPort);
    QVERIFY(shell.isDropping());
    const QByteArray image = fwtest::pattern(10);
    m_engine->StartShellUpload(kFakeDevice, u"fw.bin"_s, bytes(image), image.size());
    // The connection attempt runs under the shell watchdog's full 10 s.
    QVERIFY(watchdog->isActive());
    QVERIFY(watchdog->remainingTime() > 9000);
    QCOMPARE(watchdog->timerType(), Qt::PreciseTimer);
    QVERIFY(!m_engine->shellConnected());
}

void TestQuickBurnShell::watchdogMidUploadStopsTheUploadWithOneNoResponse()
{
    ShellPeer shell(kFakeDevice, kShellPort);
    UdpPeer tftp(kFakeDevice, kTftpPort);
    m_engine->setTimings(60000, 300); // the watchdog runs out long before the retries would
    const QByteArray image = fwtest::pattern(3000);

    m_engine->StartShellUpload(kFakeDevice, u"fw.bin"_s, bytes(image), image.size());
    QVERIFY(shell.waitForConnection());
    shell.say("Tessel\r\nmsh>");
    QVERIFY(shell.waitForTyped(kFlashCommand));
    shell.say("Waiting for the TFTP upload\r\n");
    QVERIFY(tftp.waitFor(1));
    tftp.replyTo(0, QByteArray::fromHex("00040000")); // acknowledgement 0, then the device goes silent
    QVERIFY(tftp.waitFor(2));
    QVERIFY(m_engine->uploadActive());

    QVERIFY(m_recorder->waitForFinal());
    QCOMPARE(m_recorder->finalCodes(), QList<int>{CQuickBurnWnd::kNoResponse});
    QVERIFY(!m_engine->isBusy());
    QVERIFY(!m_engine->uploadActive());
    QTRY_VERIFY(shell.engineClosed());
    QCOMPARE(tftp.received().size(), 2);
}

void TestQuickBurnShell::chatterWithoutKeywordsIsCappedAndTheWatchdogEndsIt()
{
    ShellPeer shell(kFakeDevice, kShellPort);
    m_engine->setTimings(CQuickBurnWnd::kRetransmitMs, 1500);
    const QByteArray image = fwtest::pattern(10);
    m_engine->StartShellUpload(kFakeDevice, u"fw.bin"_s, bytes(image), image.size());
    QVERIFY(shell.waitForConnection());
    shell.say("msh>");
    QVERIFY(shell.waitForTyped(kFlashCommand));
    QByteArray chatter;
    for (int i = 0; chatter.size() < 64 * 1024; ++i)
        chatter += "line " + QByteArray::number(i) + " of the device's log\r\n";
    shell.say(chatter);
    QTRY_VERIFY(m_engine->shellText().endsWith(QString::fromLatin1(chatter.right(100))));
    QCOMPARE(m_engine->shellText(), QString::fromLatin1(chatter.right(CQuickBurnWnd::kShellTextCap)));
    QVERIFY(m_recorder->waitForFinal());
    QCOMPARE(m_recorder->finalCodes(), QList<int>{CQuickBurnWnd::kNoResponse});
    QCOMPARE(shell.typed(), kFlashCommand);
}

void TestQuickBurnShell::shellClosedBeforeTheUpdateIsNotASuccess_data()
{
    QTest::addColumn<QByteArray>("said");
    QTest::addColumn<QByteArray>("typed");
    QTest::newRow("closed before the prompt") << QByteArray("Tessel\r\n") << QByteArray();
    QTest::newRow("closed with the flash command pending") << QByteArray("msh>") << kFlashCommand;
}

void TestQuickBurnShell::shellClosedBeforeTheUpdateIsNotASuccess()
{
    QFETCH(QByteArray, said);
    QFETCH(QByteArray, typed);
    ShellPeer shell(kFakeDevice, kShellPort);
    const QByteArray image = fwtest::pattern(10);
    m_engine->StartShellUpload(kFakeDevice, u"fw.bin"_s, bytes(image), image.size());
    QVERIFY(shell.waitForConnection());
    shell.say(said);
    if (!typed.isEmpty())
        QVERIFY(shell.waitForTyped(typed));
    QTRY_COMPARE(m_engine->shellText().isEmpty(), !typed.isEmpty() || said.isEmpty());
    shell.hangUp();
    QVERIFY(m_recorder->waitForFinal());
    QCOMPARE(m_recorder->finalCodes(), QList<int>{CQuickBurnWnd::kNoResponse});
    QVERIFY(!m_engine->isBusy());
}

QTEST_GUILESS_MAIN(TestQuickBurnShell)
#include "tst_quickburnshell.moc"
