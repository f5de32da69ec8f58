// The firmware transfer engine's direct way (TFTP write request and data blocks in lock step) against
// real sockets on loopback: the simulated device's TFTP server, and a plain socket that a test answers
// datagram by datagram. Addresses 127.0.8.x and ports 52669/52623 are this test's own.

#include "FirmwarePeers.h"
#include "SimFirmware.h"
#include "TftpServer.h"
#include "firmware/CQuickBurnWnd.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using fwtest::Recorder;
using fwtest::UdpPeer;

namespace {
constexpr std::uint32_t kSimDevice = 0x7F000802;  // 127.0.8.2
constexpr std::uint32_t kFakeDevice = 0x7F000803; // 127.0.8.3
constexpr std::uint16_t kTftpPort = 52669;
constexpr std::uint16_t kShellPort = 52623;

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.tftpPort = kTftpPort;
    p.shellPort = kShellPort;
    return p;
}

QByteArray be16(int value)
{
    return QByteArray(1, static_cast<char>(value >> 8)) + QByteArray(1, static_cast<char>(value & 0xFF));
}

// Packets written out field by field, independently of the engine's own packet code.
QByteArray wrq(const QByteArray& name)
{
    return be16(2) + name + QByteArray(1, '\0') + QByteArray("OCTET") + QByteArray(1, '\0');
}
QByteArray data(int block, const QByteArray& payload)
{
    return be16(3) + be16(block) + payload;
}
QByteArray ack(int block)
{
    return be16(4) + be16(block);
}
QByteArray error(int code, const QByteArray& message, bool terminated = true)
{
    return be16(5) + be16(code) + message + (terminated ? QByteArray(1, '\0') : QByteArray());
}

const std::uint8_t* bytes(const QByteArray& a)
{
    return reinterpret_cast<const std::uint8_t*>(a.constData());
}
} // namespace

class TestQuickBurnTftp : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void imagesArriveIntactWithProgressFromZeroToTheFullLength_data();
    void imagesArriveIntactWithProgressFromZeroToTheFullLength();
    void largestImageOneUploadCarriesCompletes();
    void packetsOnTheWireFollowTheAcknowledgementsNewPort();
    void strayDatagramsAreDroppedWithoutARetransmission_data();
    void strayDatagramsAreDroppedWithoutARetransmission();
    void tenSilentTicksEndWithNoResponseAndNothingMore_data();
    void tenSilentTicksEndWithNoResponseAndNothingMore();
    void aBlockJustSentIsNotSentAgainAtTheNextTick();
    void errorPacketEndsWithItsText_data();
    void errorPacketEndsWithItsText();
    void destroyingTheEngineAbandonsTheUploadWithoutAReport();

private:
    std::unique_ptr<CQuickBurnWnd> m_engine;
    std::unique_ptr<Recorder> m_recorder;
};

void TestQuickBurnTftp::init()
{
    m_recorder = std::make_unique<Recorder>();
    m_engine = std::make_unique<CQuickBurnWnd>(testProfile(), m_recorder.get());
    m_recorder->attach(m_engine.get());
}

void TestQuickBurnTftp::cleanup()
{
    m_engine.reset();
    m_recorder.reset();
}

void TestQuickBurnTftp::imagesArriveIntactWithProgressFromZeroToTheFullLength_data()
{
    QTest::addColumn<int>("size");
    for (const int size : {0, 1, 511, 512, 513, 1024, 1048576})
        QTest::addRow("%d bytes", size) << size;
}

void TestQuickBurnTftp::imagesArriveIntactWithProgressFromZeroToTheFullLength()
{
    QFETCH(int, size);
    SimFirmware device(testProfile());
    QString problem;
    QVERIFY2(device.start({kSimDevice}, SimFirmwareOptions{}, &problem), qPrintable(problem));
    QSignalSpy received(&device, &SimFirmware::firmwareReceived);
    const QByteArray image = fwtest::pattern(size, static_cast<std::uint32_t>(size));

    m_engine->StartTftpUpload(kSimDevice, QStringLiteral("tessel 4.1.bin"), bytes(image), image.size());
    QVERIFY(m_recorder->waitForFinal());

    QCOMPARE(m_recorder->finalCodes(), QList<int>{CQuickBurnWnd::kComplete});
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.at(0).at(1).toByteArray(), QByteArray("tessel 4.1.bin"));
    QCOMPARE(fwtest::sha256(received.at(0).at(2).toByteArray()), fwtest::sha256(image));
    // One report per acknowledgement: the write request's (0), then one per block, the empty block
    // after a full last block included.
    const int blocks = size / 512 + 1;
    const QList<qint64> progress = m_recorder->progress();
    QCOMPARE(progress.size(), blocks + 1);
    QCOMPARE(progress.first(), 0);
    QCOMPARE(progress.last(), size);
    QVERIFY(std::is_sorted(progress.begin(), progress.end()));
    QVERIFY(!m_engine->isBusy());
    QVERIFY(!m_engine->uploadActive());
    QCOMPARE(m_recorder->flushed, QList<std::uint32_t>{kSimDevice});
}

void TestQuickBurnTftp::largestImageOneUploadCarriesCompletes()
{
    // 65,535 blocks, the last one 511 bytes: block numbers on the wire are 16 bits, and one byte more
    // would need a 65,536th block.
    constexpr int kLargest = 65535 * 512 - 1;
    SimFirmware device(testProfile());
    QString problem;
    QVERIFY2(device.start({kSimDevice}, SimFirmwareOptions{}, &problem), qPrintable(problem));
    QSignalSpy received(&device, &SimFirmware::firmwareReceived);
    const QByteArray image = fwtest::pattern(kLargest, 3);

    m_engine->StartTftpUpload(kSimDevice, QStringLiteral("largest.bin"), bytes(image), image.size());
    QVERIFY(m_recorder->waitForFinal(120000));

    QCOMPARE(m_recorder->finalCodes(), QList<int>{CQuickBurnWnd::kComplete});
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.at(0).at(2).toByteArray().size(), kLargest);
    QCOMPARE(fwtest::sha256(received.at(0).at(2).toByteArray()), fwtest::sha256(image));
    QCOMPARE(m_recorder->progress().size(), 65535 + 1);
    QCOMPARE(m_recorder->progress().last(), kLargest);
}

void TestQuickBurnTftp::packetsOnTheWireFollowTheAcknowledgementsNewPort()
{
    UdpPeer listener(kFakeDevice, kTftpPort); // the device's TFTP port
    UdpPeer transfer(kFakeDevice, 0);         // the port the device answers from
    QVERIFY(listener.isBound() && transfer.isBound());
    m_engine->setTimings(60000, 60000); // no retransmission in this test
    const QByteArray image = fwtest::pattern(600);

    m_engine->StartTftpUpload(kFakeDevice, QStringLiteral("fw.bin"), bytes(image), image.size());
    // A second start while the upload is active is ignored.
    m_engine->StartTftpUpload(kFakeDevice, QStringLiteral("other.bin"), bytes(image), 1);
    QVERIFY(listener.waitFor(1));
    QCOMPARE(listener.data(0), wrq("fw.bin"));
    QCOMPARE(m_engine->destinationPort(), kTftpPort);

    // Acknowledged from a new port: every later packet goes there, none to the listening port.
    transfer.sendTo(listener.received().at(0), ack(0));
    QVERIFY(transfer.waitFor(1));
    QCOMPARE(transfer.data(0), data(1, image.first(512)));
    QCOMPARE(m_engine->destinationPort(), transfer.port());
    transfer.replyTo(0, ack(1));
    QVERIFY(transfer.waitFor(2));
    QCOMPARE(transfer.data(1), data(2, image.sliced(512)));
    transfer.replyTo(1, ack(2));
    QVERIFY(m_recorder->waitForFinal());
    QCOMPARE(m_recorder->finalCodes(), QList<int>{CQuickBurnWnd::kComplete});
    QCOMPARE(m_recorder->progress(), (QList<qint64>{0, 512, 600}));
    QCOMPARE(listener.received().size(), 1);
    QCOMPARE(transfer.received().size(), 2);
    QVERIFY(!m_engine->isBusy());
}

void TestQuickBurnTftp::strayDatagramsAreDroppedWithoutARetransmission_data()
{
    QTest::addColumn<QByteArray>("stray");
    QTest::newRow("duplicate acknowledgement") << ack(0);
    QTest::newRow("acknowledgement of a later block") << ack(7);
    QTest::newRow("one byte") << QByteArray(1, '\4');
    QTest::newRow("acknowledgement without a block number") << be16(4);
    QTest::newRow("data packet") << data(1, "xyz");
    QTest::newRow("unknown opcode") << be16(9) + be16(1);
}

void TestQuickBurnTftp::strayDatagramsAreDroppedWithoutARetransmission()
{
    QFETCH(QByteArray, stray);
    UdpPeer device(kFakeDevice, kTftpPort);
    m_engine->setTimings(60000, 60000);
    const QByteArray image = fwtest::pattern(1100);
    m_engine->StartTftpUpload(kFakeDevice, QStringLiteral("fw.bin"), bytes(image), image.size());
    QVERIFY(device.waitFor(1));
    device.replyTo(0, ack(0));
    QVERIFY(device.waitFor(2));
    QCOMPARE(device.data(1), data(1, image.first(512)));

    // The stray, then the right acknowledgement: the next datagram must be block 2 (a retransmission
    // of block 1 caused by the stray would come first, datagrams on loopback keep their order).
    device.replyTo(1, stray);
    device.replyTo(1, ack(1));
    QVERIFY(device.waitFor(3));
    QCOMPARE(device.data(2), data(2, image.sliced(512, 512)));
    QCOMPARE(m_recorder->progress(), (QList<qint64>{0, 512}));
    QVERIFY(m_recorder->finalCodes().isEmpty());
    device.replyTo(2, ack(2));
    QVERIFY(device.waitFor(4));
    QCOMPARE(device.data(3), data(3, image.sliced(1024)));
    device.replyTo(3, ack(3));
    QVERIFY(m_recorder->waitForFinal());
    QCOMPARE(m_recorder->finalCodes(), QList<int>{CQuickBurnWnd::kComplete});
    QCOMPARE(device.received().size(), 4);
}

void TestQuickBurnTftp::tenSilentTicksEndWithNoResponseAndNothingMore_data()
{
    QTest::addColumn<bool>("acknowledgeRequest");
    QTest::newRow("silent from the start") << false;
    QTest::newRow("silent after the write request") << true;
}

void TestQuickBurnTftp::tenSilentTicksEndWithNoResponseAndNothingMore()
{
    QFETCH(bool, acknowledgeRequest);
    UdpPeer device(kFakeDevice, kTftpPort);
    m_engine->setTimings(acknowledgeRequest ? 60000 : 20, 60000);
    const QByteArray image = fwtest::pattern(700);
    m_engine->StartTftpUpload(kFakeDevice, QStringLiteral("fw.bin"), bytes(image), image.size());
    QVERIFY(device.waitFor(1));
    int before = 0;
    if (acknowledgeRequest) {
        device.replyTo(0, ack(0));
        QVERIFY(device.waitFor(2));
        before = 1;
        m_engine->setTimings(20, 60000);
    }
    QVERIFY(m_recorder->waitForFinal());
    QCOMPARE(m_recorder->finalCodes(), QList<int>{CQuickBurnWnd::kNoResponse});
    QCOMPARE(m_recorder->lastFinal().value, 0);
    QVERIFY(!m_engine->isBusy());
    // The tenth tick ends the upload. The write request went out once and again at each of the nine
    // ticks before; a block sent in answer to an acknowledgement is not due at the first tick after
    // it, so it goes out once and again at ticks 2 to 9.
    QTRY_COMPARE(device.received().size(), acknowledgeRequest ? 1 + 9 : 10);
    const QByteArray expected = acknowledgeRequest ? data(1, image.first(512)) : wrq("fw.bin");
    for (int i = before; i < device.received().size(); ++i)
        QCOMPARE(device.data(i), expected);
}

void TestQuickBurnTftp::aBlockJustSentIsNotSentAgainAtTheNextTick()
{
    UdpPeer device(kFakeDevice, kTftpPort);
    m_engine->setTimings(60000, 60000);
    const QByteArray image = fwtest::pattern(700);
    m_engine->StartTftpUpload(kFakeDevice, QStringLiteral("fw.bin"), bytes(image), image.size());
    QVERIFY(device.waitFor(1));
    // Ticks driven by hand: the write request is due at the first, as nothing answered it.
    QTimer* ticks = m_engine->findChild<QTimer*>(QStringLiteral("retransmitTimer"));
    QVERIFY(ticks);
    QMetaObject::invokeMethod(ticks, "timeout");
    QVERIFY(device.waitFor(2));
    QCOMPARE(device.data(1), wrq("fw.bin"));
    device.replyTo(0, ack(0));
    QVERIFY(device.waitFor(3));
    // Block 1 went out in answer to that acknowledgement: the next tick leaves it, the one after sends
    // it again. An acknowledgement then moves on at once, as before.
    QMetaObject::invokeMethod(ticks, "timeout");
    QMetaObject::invokeMethod(ticks, "timeout");
    QVERIFY(device.waitFor(4));
    QCOMPARE(device.data(2), data(1, image.first(512)));
    QCOMPARE(device.data(3), data(1, image.first(512)));
    device.replyTo(3, ack(1));
    QVERIFY(device.waitFor(5));
    QCOMPARE(device.data(4), data(2, image.sliced(512)));
}

void TestQuickBurnTftp::errorPacketEndsWithItsText_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QString>("text");
    QTest::newRow("0 with the device's message") << error(0, "flash is locked") << u"TFTP error: flash is locked"_s;
    QTest::newRow("0 without a terminating zero") << error(0, "no zero", false) << u"TFTP error: no zero"_s;
    QTest::newRow("1") << error(1, "x") << u"TFTP error: file not found"_s;
    QTest::newRow("2") << error(2, "x") << u"TFTP error: access violation"_s;
    QTest::newRow("3") << error(3, "x") << u"TFTP error: disk full"_s;
    QTest::newRow("4") << error(4, "x") << u"TFTP error: illegal TFTP operation"_s;
    QTest::newRow("5") << error(5, "x") << u"TFTP error: unknown transfer ID"_s;
    QTest::newRow("6") << error(6, "x") << u"TFTP error: file already exists"_s;
    QTest::newRow("7") << error(7, "x") << u"TFTP error: no such user"_s;
    QTest::newRow("8") << error(8, "x") << u"unknown TFTP error"_s;
    QTest::newRow("65535") << error(65535, "") << u"unknown TFTP error"_s;
}

void TestQuickBurnTftp::errorPacketEndsWithItsText()
{
    QFETCH(QByteArray, packet);
    QFETCH(QString, text);
    UdpPeer device(kFakeDevice, kTftpPort);
    m_engine->setTimings(60000, 60000);
    const QByteArray image = fwtest::pattern(100);
    m_engine->StartTftpUpload(kFakeDevice, QStringLiteral("fw.bin"), bytes(image), image.size());
    QVERIFY(device.waitFor(1));
    device.replyTo(0, packet);
    QVERIFY(m_recorder->waitForFinal());
    QCOMPARE(m_recorder->finalCodes(), QList<int>{CQuickBurnWnd::kTftpError});
    QCOMPARE(m_recorder->lastFinal().message, text);
    QVERIFY(m_recorder->progress().isEmpty());
    QVERIFY(!m_engine->isBusy());
}

void TestQuickBurnTftp::destroyingTheEngineAbandonsTheUploadWithoutAReport()
{
    UdpPeer device(kFakeDevice, kTftpPort);
    const QByteArray image = fwtest::pattern(100);
    m_engine->StartTftpUpload(kFakeDevice, QStringLiteral("fw.bin"), bytes(image), image.size());
    QVERIFY(device.waitFor(1));
    QVERIFY(m_engine->isBusy());
    m_engine.reset();
    device.replyTo(0, ack(0));
    QVERIFY(m_recorder->log().isEmpty());
}

QTEST_GUILESS_MAIN(TestQuickBurnTftp)
#include "tst_quickburntftp.moc"
