// Simulated devices on the loopback profile, driven by the program's own endpoint CNetEnv: TesselSim.

#include "DatagramFlood.h"
#include "SimExchange.h"
#include "StatusItems.h"
#include "TesselSim.h"

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <memory>

using simtest::deviceAddress;
using simtest::exchange;
using simtest::exchangeHandled;
using simtest::request;

namespace {
constexpr std::uint16_t kPort = 52105; // this test's own device port
constexpr int kDevices = 4;

// The record of a broadcast read from the search window: only the MAC.
EnvRecord macOnly(const EnvRecord& record)
{
    EnvRecord r;
    r.setMac(record.mac());
    return r;
}

std::optional<std::uint32_t> statusU32(const CNetEnv& env, std::uint8_t type)
{
    const auto& data = env.statusData();
    return sim::readU32Item(QByteArray(reinterpret_cast<const char*>(data.data()), frame::kMaxStatusItems), type);
}
} // namespace

class TestTesselSim : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void searchListsEachDeviceOnceWhenBothCopiesAnswer();
    void broadcastReadByMacIsAnsweredOnlyByThatDevice();
    void unicastReadWithAnAllZeroBodyIsAnswered();
    void writeIsJudgedByPassword_data();
    void writeIsJudgedByPassword();
    void writeKeepsTheDevicesIdentity();
    void passwordChangeIsActedOnOnceSoTheNewPasswordWorks();
    void statusReplyCarriesTheItems();
    void uptimeKeepsGrowing();
    void droppedRequestsGetNoAnswer();
    void delayedReplyComesAfterTheDelay();
    void damagedRepliesAreNotAccepted_data();
    void damagedRepliesAreNotAccepted();
    void foreignMacLeavesABroadcastReadUnanswered();
    void forcedResultReachesTheProgram();
    void stateFileSurvivesARestart();
    void malformedDatagramsAreIgnored_data();
    void malformedDatagramsAreIgnored();
    void multiIpDeviceAnswersAtItsPortAddress();
    void deviceAnswersAtAWrittenAddress();
    void startRefusesAddressesADeviceMayNotUse();
    void devicesReportTheirOwnAddressAsSource();
    void floodAtADeviceLeavesTheEventLoopRunning();

private:
    NetworkProfile profile() const { return simtest::loopbackProfile(kPort); }
    EnvRecord recordOf(int n) { return m_sim->device(n).record; }

    std::unique_ptr<TesselSim> m_sim;
    std::unique_ptr<CNetEnv> m_env;
};

void TestTesselSim::init()
{
    m_sim = std::make_unique<TesselSim>(profile());
    m_sim->addDevices(kDevices);
    QString error;
    QVERIFY2(m_sim->start(&error), qPrintable(error));
    m_env = std::make_unique<CNetEnv>(profile());
}

void TestTesselSim::cleanup()
{
    m_env.reset();
    m_sim.reset();
}

void TestTesselSim::searchListsEachDeviceOnceWhenBothCopiesAnswer()
{
    QCOMPARE(exchange(*m_env, simtest::Request{}, 2 * kDevices), 2 * kDevices);
    QCOMPARE(m_env->count(), kDevices);
    m_env->sortByMac();
    for (int i = 0; i < kDevices; ++i)
        QCOMPARE(m_env->record(i), recordOf(i));
}

void TestTesselSim::broadcastReadByMacIsAnsweredOnlyByThatDevice()
{
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    QCOMPARE(exchange(*m_env, request(frame::kRead, macOnly(recordOf(2)))), 2);
    QCOMPARE(m_env->answered(), 1);
    QCOMPARE(m_env->count(), 1);
    QCOMPARE(m_env->record(0), recordOf(2));
    QCOMPARE(handled.count(), 2);
    for (const QList<QVariant>& call : handled) {
        QCOMPARE(call.at(0).toInt(), 2);
        QCOMPARE(call.at(1).toInt(), int(frame::kRead));
    }
}

void TestTesselSim::unicastReadWithAnAllZeroBodyIsAnswered()
{
    QCOMPARE(exchange(*m_env, request(frame::kRead, EnvRecord(), deviceAddress(1))), 2);
    QCOMPARE(m_env->answered(), 1);
    QCOMPARE(m_env->count(), 1);
    QCOMPARE(m_env->record(0).mac(), recordOf(1).mac());
    QCOMPARE(m_env->record(0).sourceAddress(), deviceAddress(1));
    QCOMPARE(int(m_env->replyFrame()[frame::kOffFlags]), 0x83);
}

void TestTesselSim::writeIsJudgedByPassword_data()
{
    QTest::addColumn<QByteArray>("devicePassword");
    QTest::addColumn<QByteArray>("typed");
    QTest::addColumn<bool>("unicast");
    QTest::addColumn<int>("result");
    QTest::newRow("no password, broadcast") << QByteArray() << QByteArray() << false << 0;
    QTest::newRow("right password, broadcast") << QByteArray("secret") << QByteArray("secret") << false << 0;
    QTest::newRow("right password, unicast") << QByteArray("secret") << QByteArray("secret") << true << 0;
    QTest::newRow("wrong password, broadcast") << QByteArray("secret") << QByteArray("guess") << false << 2;
    QTest::newRow("wrong password, unicast") << QByteArray("secret") << QByteArray("guess") << true << 2;
    QTest::newRow("one typed where none is set") << QByteArray() << QByteArray("guess") << false << 2;
}

void TestTesselSim::writeIsJudgedByPassword()
{
    QFETCH(QByteArray, devicePassword);
    QFETCH(QByteArray, typed);
    QFETCH(bool, unicast);
    QFETCH(int, result);
    m_sim->device(1).setPassword(devicePassword);
    const EnvRecord before = recordOf(1);
    EnvRecord written = before;
    written.setComment("written");
    simtest::setHashedPassword(written, typed);
    QCOMPARE(exchange(*m_env, request(frame::kWrite, written, unicast ? deviceAddress(1) : 0)), 2);
    QCOMPARE(m_env->answered(), 1);
    QCOMPARE(int(m_env->replyResult()), result);
    QCOMPARE(recordOf(1).comment(), result == 0 ? std::string("written") : before.comment());
    QCOMPARE(m_sim->device(1).passwordHash(), simtest::hashedPassword(devicePassword));
}

void TestTesselSim::writeKeepsTheDevicesIdentity()
{
    const EnvRecord before = recordOf(3);
    EnvRecord written = before;
    written.setMac({0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F});
    written.setProductId(0x99);
    written.setCommentSupported(false);
    written.setTelnet(false);
    QCOMPARE(exchange(*m_env, request(frame::kWrite, written, deviceAddress(3))), 2);
    QCOMPARE(int(m_env->replyResult()), 0);
    QCOMPARE(recordOf(3).mac(), before.mac());
    QCOMPARE(recordOf(3).productId(), before.productId());
    QVERIFY(recordOf(3).commentSupported());
    QVERIFY(!recordOf(3).telnet());
}

void TestTesselSim::passwordChangeIsActedOnOnceSoTheNewPasswordWorks()
{
    m_sim->device(0).setPassword("old");
    EnvRecord current = recordOf(0);
    simtest::setHashedPassword(current, "old");
    simtest::Request change = request(frame::kChangePassword, current);
    change.extension = simtest::hashedPassword("new");
    QCOMPARE(exchange(*m_env, change), 2);
    // The reply to the second copy is the last one the endpoint took: it must be the first reply again.
    QCOMPARE(int(m_env->replyResult()), 0);
    QCOMPARE(m_sim->device(0).passwordHash(), simtest::hashedPassword("new"));

    EnvRecord written = recordOf(0);
    simtest::setHashedPassword(written, "new");
    QCOMPARE(exchange(*m_env, request(frame::kWrite, written)), 2);
    QCOMPARE(int(m_env->replyResult()), 0);
    simtest::setHashedPassword(written, "old");
    QCOMPARE(exchange(*m_env, request(frame::kWrite, written)), 2);
    QCOMPARE(int(m_env->replyResult()), 2);
}

void TestTesselSim::statusReplyCarriesTheItems()
{
    QCOMPARE(exchange(*m_env, request(frame::kStatus, macOnly(recordOf(2)))), 2);
    QCOMPARE(m_env->answered(), 1);
    const auto& data = m_env->statusData();
    const QByteArray items(reinterpret_cast<const char*>(data.data()), frame::kMaxStatusItems);
    const qsizetype mac = sim::findItemValue(items, sim::kStatusMac, 6);
    QVERIFY(mac >= 0);
    QVERIFY(std::equal(items.begin() + mac, items.begin() + mac + 6, recordOf(2).data()));
    const qsizetype ip = sim::findItemValue(items, sim::kStatusIp, 4);
    QCOMPARE(frame::readBe32(data.data() + ip), deviceAddress(2));
    QVERIFY(sim::findItemValue(items, sim::kStatusVersion, 4) >= 0);
    QVERIFY(statusU32(*m_env, sim::kStatusUptime).value_or(0) > 0);
    QVERIFY(statusU32(*m_env, sim::kStatusComRx).has_value());
    QVERIFY(items.contains("Tessel LAN statistics\r\n"));
    QVERIFY(statusU32(*m_env, sim::kStatusLanRx).has_value());
}

void TestTesselSim::uptimeKeepsGrowing()
{
    QCOMPARE(exchange(*m_env, request(frame::kStatus, EnvRecord(), deviceAddress(0))), 2);
    const std::uint32_t first = statusU32(*m_env, sim::kStatusUptime).value_or(0);
    // Each request takes at least the 10 ms between its copies, so a hundredth of a second has passed.
    QCOMPARE(exchange(*m_env, request(frame::kStatus, EnvRecord(), deviceAddress(0))), 2);
    const std::uint32_t second = statusU32(*m_env, sim::kStatusUptime).value_or(0);
    QVERIFY2(second > first, qPrintable(QStringLiteral("%1 then %2").arg(first).arg(second)));
}

void TestTesselSim::droppedRequestsGetNoAnswer()
{
    SimFaults faults;
    faults.dropShare = 1.0;
    m_sim->setFaults(faults);
    QCOMPARE(exchangeHandled(*m_env, *m_sim, request(frame::kRead, macOnly(recordOf(0)))), 0);
    QCOMPARE(m_env->answered(), 0);
    QCOMPARE(exchangeHandled(*m_env, *m_sim, simtest::Request{}, 2 * kDevices), 0);

    m_sim->setFaults(SimFaults());
    QCOMPARE(exchange(*m_env, request(frame::kRead, macOnly(recordOf(0)))), 2);
}

void TestTesselSim::delayedReplyComesAfterTheDelay()
{
    constexpr int kDelayMs = 150;
    SimFaults faults;
    faults.delayMs = kDelayMs;
    m_sim->setFaults(faults);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(exchange(*m_env, request(frame::kRead, macOnly(recordOf(1)))), 2);
    QVERIFY(clock.elapsed() >= kDelayMs);
    QCOMPARE(m_env->answered(), 1);
}

void TestTesselSim::damagedRepliesAreNotAccepted_data()
{
    QTest::addColumn<bool>("header");
    QTest::newRow("header checksum") << true;
    QTest::newRow("FCS") << false;
}

void TestTesselSim::damagedRepliesAreNotAccepted()
{
    QFETCH(bool, header);
    SimFaults faults;
    faults.corruptHeaderSum = header;
    faults.corruptFcs = !header;
    m_sim->setFaults(faults);
    QCOMPARE(exchangeHandled(*m_env, *m_sim, request(frame::kRead, EnvRecord(), deviceAddress(2))), 0);
    QCOMPARE(m_env->answered(), 0);
}

void TestTesselSim::foreignMacLeavesABroadcastReadUnanswered()
{
    SimFaults faults;
    faults.foreignMac = true;
    m_sim->setFaults(faults);
    exchangeHandled(*m_env, *m_sim, request(frame::kRead, macOnly(recordOf(1))));
    QCOMPARE(m_env->answered(), 0);
}

void TestTesselSim::forcedResultReachesTheProgram()
{
    SimFaults faults;
    faults.forcedResult = 7;
    m_sim->setFaults(faults);
    EnvRecord written = recordOf(1);
    written.setComment("forced");
    QCOMPARE(exchange(*m_env, request(frame::kWrite, written)), 2);
    QCOMPARE(int(m_env->replyResult()), 7);
    QVERIFY(recordOf(1).comment() != "forced");
    simtest::Request change = request(frame::kChangePassword, recordOf(1), deviceAddress(1));
    change.extension = simtest::hashedPassword("new");
    QCOMPARE(exchange(*m_env, change), 2);
    QCOMPARE(int(m_env->replyResult()), 7);
}

void TestTesselSim::stateFileSurvivesARestart()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.json"));
    QString error;
    QVERIFY2(m_sim->setStateFile(path, &error), qPrintable(error));
    EnvRecord written = recordOf(1);
    written.setComment("kept");
    QCOMPARE(exchange(*m_env, request(frame::kWrite, written)), 2);
    simtest::Request change = request(frame::kChangePassword, recordOf(1));
    change.extension = simtest::hashedPassword("pw");
    QCOMPARE(exchange(*m_env, change), 2);
    QVERIFY(QFile::exists(path));

    m_sim = std::make_unique<TesselSim>(profile());
    m_sim->addDevices(kDevices);
    QVERIFY2(m_sim->setStateFile(path, &error), qPrintable(error));
    QVERIFY2(m_sim->start(&error), qPrintable(error));
    QCOMPARE(recordOf(1).comment(), std::string("kept"));
    QCOMPARE(m_sim->device(1).passwordHash(), simtest::hashedPassword("pw"));
    QCOMPARE(recordOf(2).comment(), TesselSim::makeDevice(2, deviceAddress(2)).record.comment());

    EnvRecord again = recordOf(1);
    simtest::setHashedPassword(again, "pw");
    QCOMPARE(exchange(*m_env, request(frame::kWrite, again)), 2);
    QCOMPARE(int(m_env->replyResult()), 0);
}

void TestTesselSim::malformedDatagramsAreIgnored_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("broadcast");
    frame::Frame f{};
    std::copy_n(TesselSim::makeDevice(0, deviceAddress(0)).record.data(), 6, f.begin() + frame::kOffBody);
    frame::BuildRequest(f, frame::kFlagsBroadcastRequest, frame::kRead, 5, 6);
    const QByteArray good(reinterpret_cast<const char*>(f.data()), frame::kFrameSize);
    const auto damaged = [&](int offset) {
        QByteArray d = good;
        d[offset] = static_cast<char>(d[offset] ^ 0x01);
        return d;
    };
    for (bool broadcast : {false, true}) {
        const char* how = broadcast ? ", broadcast" : ", unicast";
        QTest::addRow("short%s", how) << good.first(600) << broadcast;
        QTest::addRow("long%s", how) << good + QByteArray(100, '\0') << broadcast;
        QTest::addRow("magic%s", how) << damaged(1) << broadcast;
        QTest::addRow("header checksum%s", how) << damaged(frame::kOffHeaderSum + 1) << broadcast;
        QTest::addRow("FCS%s", how) << damaged(frame::kOffFcs + 1) << broadcast;
    }
    frame::Frame reply = f;
    std::fill(reply.begin() + frame::kOffBody, reply.end(), 0);
    std::copy_n(TesselSim::makeDevice(0, deviceAddress(0)).record.data(), 6, reply.begin() + frame::kOffBody);
    frame::BuildRequest(reply, frame::kFlagReply | frame::kFlagScrambled, frame::kRead, 5, 6);
    QTest::newRow("a reply") << QByteArray(reinterpret_cast<const char*>(reply.data()), frame::kFrameSize) << false;
    frame::Frame unknown{};
    frame::BuildRequest(unknown, frame::kFlagsUnicastRequest, 9, 5, 6);
    QTest::newRow("command 9") << QByteArray(reinterpret_cast<const char*>(unknown.data()), frame::kFrameSize) << false;
}

void TestTesselSim::malformedDatagramsAreIgnored()
{
    QFETCH(QByteArray, datagram);
    QFETCH(bool, broadcast);
    QUdpSocket client;
    QVERIFY(client.bind(QHostAddress::LocalHost, 0));
    const QHostAddress to(broadcast ? NetworkProfile::kLoopbackBroadcast : deviceAddress(0));
    QSignalSpy rejected(m_sim.get(), &TesselSim::datagramRejected);
    QSignalSpy handled(m_sim.get(), &TesselSim::requestHandled);
    QCOMPARE(client.writeDatagram(datagram, to, kPort), datagram.size());
    QVERIFY(rejected.wait());

    // A sound request sent after it is answered, and its reply is the only datagram that comes back.
    frame::Frame f{};
    frame::BuildRequest(f, frame::kFlagsUnicastRequest, frame::kRead, 7, 8);
    client.writeDatagram(reinterpret_cast<const char*>(f.data()), frame::kFrameSize, QHostAddress(deviceAddress(0)),
                         kPort);
    QTRY_VERIFY(client.hasPendingDatagrams());
    QCOMPARE(handled.count(), 1);
    const QNetworkDatagram reply = client.receiveDatagram();
    QCOMPARE(reply.data().size(), qsizetype(frame::kFrameSize));
    QCOMPARE(int(static_cast<std::uint8_t>(reply.data().at(frame::kOffRandom1))), 7);
    QVERIFY(!client.hasPendingDatagrams());
}

void TestTesselSim::multiIpDeviceAnswersAtItsPortAddress()
{
    constexpr std::uint32_t kPortAddress = 0x7F000107; // 127.0.1.7
    EnvRecord written = recordOf(3);
    written.setMultiIp(true);
    EnvPortBlock com2 = written.port(1);
    com2.setLocalIp(kPortAddress);
    written.setPort(1, com2);
    QCOMPARE(exchange(*m_env, request(frame::kWrite, written, deviceAddress(3))), 2);
    QCOMPARE(int(m_env->replyResult()), 0);

    CNetEnv editor(profile());
    QCOMPARE(exchange(editor, request(frame::kRead, recordOf(3), kPortAddress)), 2);
    QCOMPARE(editor.answered(), 1);
    QCOMPARE(editor.count(), 1);
    QCOMPARE(editor.record(0).mac(), recordOf(3).mac());
    QCOMPARE(editor.record(0).sourceAddress(), kPortAddress);
}

void TestTesselSim::deviceAnswersAtAWrittenAddress()
{
    constexpr std::uint32_t kNewAddress = 0x7F000263; // 127.0.2.99
    EnvRecord written = recordOf(2);
    written.setIpAddress(kNewAddress);
    QCOMPARE(exchange(*m_env, request(frame::kWrite, written)), 2);
    QCOMPARE(int(m_env->replyResult()), 0);
    CNetEnv reader(profile());
    QCOMPARE(exchange(reader, request(frame::kRead, EnvRecord(), kNewAddress)), 2);
    QCOMPARE(reader.count(), 1);
    QCOMPARE(reader.record(0).mac(), recordOf(2).mac());
    QCOMPARE(reader.record(0).sourceAddress(), kNewAddress);
}

void TestTesselSim::startRefusesAddressesADeviceMayNotUse()
{
    for (std::uint32_t address : {0x7F000001u, 0x0A010002u, 0x7FFFFFFFu}) {
        TesselSim sim(profile());
        sim.addDevice(TesselSim::makeDevice(0, address));
        QString error;
        QVERIFY(!sim.start(&error));
        QVERIFY2(error.contains(QHostAddress(address).toString()), qPrintable(error));
        QVERIFY(!sim.isRunning());
    }
    TesselSim twice(profile());
    twice.addDevices(2, 0x7F000F02);
    twice.addDevice(TesselSim::makeDevice(2, 0x7F000F02));
    QString error;
    QVERIFY(!twice.start(&error));
    QVERIFY2(error.contains(QStringLiteral("taken")), qPrintable(error));
}

void TestTesselSim::devicesReportTheirOwnAddressAsSource()
{
    // A broadcast answer carries what the device put there: its own address, never 0.0.0.0.
    QCOMPARE(exchange(*m_env, simtest::Request{}, 2 * kDevices), 2 * kDevices);
    QCOMPARE(m_env->count(), kDevices);
    for (int i = 0; i < kDevices; ++i) {
        const EnvRecord& r = m_env->record(i);
        QCOMPARE(r.sourceAddress(), r.ipAddress());
        QVERIFY(r.sourceAddress() >= deviceAddress(0) && r.sourceAddress() < deviceAddress(kDevices));
    }
    // Whatever a write carried there, the device keeps its own (new) address.
    EnvRecord written = recordOf(1);
    written.setIpAddress(0x7F000014); // 127.0.0.20
    written.setSourceAddress(0x01020304);
    QCOMPARE(exchange(*m_env, request(frame::kWrite, written, deviceAddress(1))), 2);
    QCOMPARE(int(m_env->replyResult()), 0);
    QCOMPARE(recordOf(1).sourceAddress(), 0x7F000014u);
}

void TestTesselSim::floodAtADeviceLeavesTheEventLoopRunning()
{
    // The device reads a bounded slice per notification, so a timer on the same loop keeps its pace. The
    // flood is of valid read requests, each of which the device answers.
    frame::Frame read{};
    frame::BuildRequest(read, frame::kFlagsUnicastRequest, frame::kRead, 1, 2);
    simtest::DatagramFlood flood(deviceAddress(0), kPort, 2,
                                 std::string(reinterpret_cast<const char*>(read.data()), read.size()));
    QElapsedTimer clock;
    clock.start();
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    int ticks = 0;
    connect(&timer, &QTimer::timeout, this, [&] {
        if (++ticks == 10)
            timer.stop();
    });
    timer.start(300);
    QTRY_VERIFY_WITH_TIMEOUT(!timer.isActive(), 15000);
    const qint64 elapsed = clock.elapsed();
    const std::uint64_t sent = flood.stop();
    qInfo("%llu junk datagrams during a wait of %lld ms", static_cast<unsigned long long>(sent),
          static_cast<long long>(elapsed));
    QVERIFY2(sent > 10000, "the flood ran");
    QVERIFY2(elapsed < 3400, qPrintable(QStringLiteral("the wait took %1 ms").arg(elapsed)));
}

QTEST_GUILESS_MAIN(TestTesselSim)
#include "tst_tesselsim.moc"
