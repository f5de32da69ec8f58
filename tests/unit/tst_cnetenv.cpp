#include "DatagramFlood.h"
#include "net/CNetEnv.h"
#include "protocol/SocketOptions.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QMultiHash>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <memory>
#include <vector>

namespace {
constexpr std::uint16_t kTestPort = 52005;
constexpr std::uint32_t kDeviceAddress = 0x7F000009;        // 127.0.0.9, the fake device
constexpr std::uint32_t kDeviceReportedSource = 0x01020304; // what the device itself puts in sourceAddress

NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = kTestPort;
    return p;
}

/** A record of the test's devices: distinct MAC and IP address. */
struct Seed
{
    std::uint8_t macLast = 0;
    std::uint32_t ip = 0;
    bool multiIp = false;
    std::uint32_t portLocalIp = 0; // COM2's localIp
};

EnvRecord makeRecord(const Seed& s)
{
    EnvRecord r = EnvRecord::defaultRecord();
    r.setMac({0x02, 0x7e, 0x55, 0x00, 0x00, s.macLast});
    r.setIpAddress(s.ip);
    r.setMultiIp(s.multiIp);
    r.setSourceAddress(kDeviceReportedSource);
    EnvPortBlock com2 = r.port(1);
    com2.setLocalIp(s.portLocalIp);
    r.setPort(1, com2);
    return r;
}

/** A device on the wire made of plain sockets: it hears broadcasts and unicasts at the test port and
 *  answers with whatever frame a test builds. */
class FakeDevice
{
public:
    FakeDevice()
    {
        QVERIFY(bindShared(m_unicast, QHostAddress(kDeviceAddress), kTestPort));
        QVERIFY(bindShared(m_broadcast, QHostAddress(NetworkProfile::kLoopbackBroadcast), kTestPort));
    }

    /** Waits for one request datagram; remembers where it came from. */
    QByteArray awaitRequest()
    {
        for (int waited = 0; waited < 2000; waited += 10) {
            for (QUdpSocket* s : {&m_unicast, &m_broadcast}) {
                if (s->hasPendingDatagrams()) {
                    const QNetworkDatagram d = s->receiveDatagram();
                    m_client = d.senderAddress();
                    m_clientPort = static_cast<std::uint16_t>(d.senderPort());
                    m_lastDestination = d.destinationAddress();
                    return d.data();
                }
            }
            QTest::qWait(10);
        }
        return {};
    }

    static QByteArray reply(const EnvRecord& record, std::uint8_t command, bool unicast,
                            const std::array<std::uint8_t, 6>& headerMac, std::uint8_t result = 0)
    {
        frame::Frame f{};
        frame::writeBe32(f.data(), frame::kMagic);
        f[frame::kOffFormat] = frame::kFormat;
        f[frame::kOffFlags] = frame::kFlagReply | frame::kFlagScrambled | (unicast ? frame::kFlagUnicast : 0);
        f[frame::kOffCommand] = command;
        f[frame::kOffResult] = result;
        std::copy(headerMac.begin(), headerMac.end(), f.begin() + frame::kOffMac);
        std::copy(record.raw().begin(), record.raw().end(), f.begin() + frame::kOffBody);
        frame::Seal(f);
        return QByteArray(reinterpret_cast<const char*>(f.data()), frame::kFrameSize);
    }

    void send(const QByteArray& datagram) { m_unicast.writeDatagram(datagram, m_client, m_clientPort); }
    QHostAddress lastDestination() const { return m_lastDestination; }

private:
    QUdpSocket m_unicast;
    QUdpSocket m_broadcast;
    QHostAddress m_client;
    std::uint16_t m_clientPort = 0;
    QHostAddress m_lastDestination;
};

struct MergeCase
{
    int command;
    bool unicast;
    QList<Seed> table;
    Seed reply;
    bool foreignHeaderMac;
    int answered;
    int count;
    int storedAt;          // -1: the table stays as it was
    bool sourceFromSender; // the stored record's sourceAddress is the address the reply came from
};
} // namespace

Q_DECLARE_METATYPE(MergeCase)

class tst_CNetEnv : public QObject
{
    Q_OBJECT

private:
    /** Sends `command` like an owner does (unicast to the fake device, or broadcast to `targetMac`),
     *  and waits for the request to arrive. */
    static void sendRequest(CNetEnv& env, FakeDevice& device, int command, bool unicast, const EnvRecord& target)
    {
        QVERIFY(unicast ? env.OpenRemote(kDeviceAddress) : env.OpenLocal(0));
        env.requestFrame().fill(0);
        if (command != frame::kSearch && !unicast)
            std::copy_n(target.data(), 6, env.requestBody());
        env.setCommand(command);
        unicast ? env.SendUnicast(kDeviceAddress) : env.SendBroadcast();
        QVERIFY(!device.awaitRequest().isEmpty());
    }

    static void deliver(CNetEnv& env, FakeDevice& device, const QByteArray& datagram)
    {
        QSignalSpy accepted(&env, &CNetEnv::replyAccepted);
        device.send(datagram);
        QVERIFY(accepted.wait(2000));
    }

private slots:
    void mergeRules_data()
    {
        QTest::addColumn<MergeCase>("c");
        const Seed a{0x0a, 0x0A000001};
        const Seed b{0x0b, 0x0A000002};
        const Seed c{0x0c, 0x0A000003};
        const Seed multiAtDevice{0x0d, 0x0A000004, true, kDeviceAddress};
        const Seed multiElsewhere{0x0e, 0x0A000005, true, 0x0A0000FF};
        const Seed bMoved{0x0b, 0x0A000063};
        const Seed otherMacSameIpAsA{0x0f, a.ip};
        const Seed otherMacSameIpAsB{0x1f, b.ip};

        QTest::newRow("search appends a new device") << MergeCase{1, false, {a}, b, false, 0, 2, 1, false};
        QTest::newRow("search ignores a MAC already listed")
            << MergeCase{1, false, {a, b}, bMoved, false, 0, 2, -1, false};
        QTest::newRow("unicast read ignores an IP already listed")
            << MergeCase{2, true, {a}, otherMacSameIpAsA, false, 1, 1, -1, false};
        QTest::newRow("unicast read appends with the sender as source")
            << MergeCase{2, true, {a}, b, false, 1, 2, 1, true};
        QTest::newRow("multi-IP read matches the target by port address")
            << MergeCase{2, true, {multiAtDevice}, Seed{0x0d, 0x0A000077, true, 0}, false, 1, 1, -1, false};
        QTest::newRow("unicast read from a MAC already listed is the same device")
            << MergeCase{2,
                         true,
                         {Seed{0x0d, kDeviceAddress, true, 0x0A0000FF}},
                         Seed{0x0d, kDeviceAddress, true, 0x0A0000FF},
                         false,
                         1,
                         1,
                         -1,
                         false};
        QTest::newRow("multi-IP read without a port match appends")
            << MergeCase{2, true, {multiElsewhere}, Seed{0x0d, 0x0A000077, true, 0}, false, 1, 2, 1, true};
        QTest::newRow("unicast write overwrites the record with that IP")
            << MergeCase{3, true, {a, b}, otherMacSameIpAsB, false, 1, 2, 1, true};
        QTest::newRow("unicast write with an unknown IP replaces the table")
            << MergeCase{3, true, {a, b}, c, false, 1, 1, 0, true};
        QTest::newRow("unicast status into an empty table") << MergeCase{5, true, {}, a, false, 1, 1, 0, true};
        QTest::newRow("broadcast read overwrites the record with that MAC")
            << MergeCase{2, false, {a, b}, bMoved, false, 1, 2, 1, false};
        QTest::newRow("broadcast read answered under another MAC is ignored")
            << MergeCase{2, false, {a, b}, bMoved, true, 0, 2, -1, false};
        QTest::newRow("broadcast write from an unlisted MAC replaces the table")
            << MergeCase{3, false, {a, b}, c, false, 1, 1, 0, false};
        QTest::newRow("broadcast password change into an empty table")
            << MergeCase{4, false, {}, c, false, 1, 1, 0, false};
    }

    void mergeRules()
    {
        QFETCH(MergeCase, c);
        FakeDevice device;
        CNetEnv env(testProfile());
        QList<EnvRecord> before;
        for (const Seed& s : c.table)
            before.append(makeRecord(s));
        for (int i = 0; i < before.size(); ++i)
            env.record(i) = before[i];
        env.setCount(static_cast<int>(before.size()));

        const EnvRecord received = makeRecord(c.reply);
        sendRequest(env, device, c.command, c.unicast, received);
        auto headerMac = received.mac();
        if (c.foreignHeaderMac)
            headerMac[5] ^= 0xFF;
        deliver(env, device, FakeDevice::reply(received, static_cast<std::uint8_t>(c.command), c.unicast, headerMac));

        QCOMPARE(env.answered(), c.answered);
        QCOMPARE(env.count(), c.count);
        if (c.storedAt < 0) {
            for (int i = 0; i < before.size(); ++i)
                QVERIFY2(env.record(i) == before[i], qPrintable(QStringLiteral("record %1 changed").arg(i)));
            return;
        }
        EnvRecord expected = received;
        if (c.sourceFromSender)
            expected.setSourceAddress(kDeviceAddress);
        QVERIFY(env.record(c.storedAt) == expected);
        for (int i = 0; i < c.count && i < before.size(); ++i) {
            if (i != c.storedAt)
                QVERIFY(env.record(i) == before[i]);
        }
    }

    void broadcastReadTakesOnlyTheDeviceAskedWhateverTheReplysUnicastBit()
    {
        // Found by fuzzing: a reply with the unicast bit set was merged by the unicast rules even when the
        // request went out as a broadcast, so any device's answer became the answer of the MAC asked for.
        FakeDevice device;
        CNetEnv env(testProfile());
        const EnvRecord asked = makeRecord(Seed{0x0a, 0x0A000001});
        const EnvRecord other = makeRecord(Seed{0x0b, 0x0A000002});
        sendRequest(env, device, frame::kRead, false, asked);
        deliver(env, device, FakeDevice::reply(other, frame::kRead, true, other.mac()));
        QCOMPARE(env.answered(), 0);
        QCOMPARE(env.count(), 0);
        deliver(env, device, FakeDevice::reply(asked, frame::kRead, true, asked.mac()));
        QCOMPARE(env.answered(), 1);
        QCOMPARE(env.count(), 1);
        QVERIFY(env.record(0) == asked); // a broadcast answer keeps the sourceAddress the device sent
        QCOMPARE(EnvRecord(env.replyFrame().data() + frame::kOffBody).mac(), asked.mac());
    }

    void multiIpDeviceAskedAtItsMainAddressIsListedOnce()
    {
        // Its port addresses are elsewhere, so only its MAC tells that both copies' answers are one device.
        FakeDevice device;
        CNetEnv env(testProfile());
        env.setCount(0);
        const EnvRecord multi = makeRecord({0x0d, kDeviceAddress, true, 0x0A0000FF});
        sendRequest(env, device, frame::kRead, true, multi);
        const QByteArray answer = FakeDevice::reply(multi, frame::kRead, true, multi.mac());
        deliver(env, device, answer);
        deliver(env, device, answer);
        QCOMPARE(env.count(), 1);
        QCOMPARE(env.answered(), 1);
        QCOMPARE(env.record(0).sourceAddress(), kDeviceAddress);
    }

    void strayReplyAfterTheAnswerLeavesResultAndRecord_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<bool>("unicast");
        QTest::newRow("broadcast read") << int(frame::kRead) << false;
        QTest::newRow("broadcast write") << int(frame::kWrite) << false;
        QTest::newRow("broadcast password change") << int(frame::kChangePassword) << false;
        QTest::newRow("broadcast status") << int(frame::kStatus) << false;
        QTest::newRow("unicast read of a listed device") << int(frame::kRead) << true;
    }

    void strayReplyAfterTheAnswerLeavesResultAndRecord()
    {
        QFETCH(int, command);
        QFETCH(bool, unicast);
        FakeDevice device;
        CNetEnv env(testProfile());
        const EnvRecord asked = makeRecord({0x0a, 0x0A000001});
        EnvRecord stray = makeRecord({0x0b, 0x0A000001}); // same IP: a unicast read ignores it as listed
        stray.setComment("not the device asked");
        env.record(0) = asked;
        env.setCount(unicast ? 1 : 0);
        sendRequest(env, device, command, unicast, asked);
        const auto cmd = static_cast<std::uint8_t>(command);
        deliver(env, device, FakeDevice::reply(asked, cmd, unicast, asked.mac(), frame::kResultOk));
        QCOMPARE(env.answered(), 1);
        const EnvRecord answered = env.replyRecord();
        deliver(env, device, FakeDevice::reply(stray, cmd, unicast, stray.mac(), frame::kResultWrongPassword));
        QCOMPARE(env.replyResult(), std::uint8_t(frame::kResultOk));
        QVERIFY(env.replyRecord() == answered);
        QCOMPARE(env.replyRecord().mac(), asked.mac());
    }

    void repeatedAnswerOfTheDeviceAskedReplacesTheReplyFrame()
    {
        // A unicast read of a listed device is ignored by the table but is the answer the caller reads.
        FakeDevice device;
        CNetEnv env(testProfile());
        const EnvRecord listed = makeRecord({0x0a, kDeviceAddress});
        env.record(0) = listed;
        env.setCount(1);
        EnvRecord fresh = listed;
        fresh.setComment("read just now");
        sendRequest(env, device, frame::kRead, true, listed);
        deliver(env, device, FakeDevice::reply(fresh, frame::kRead, true, fresh.mac()));
        QCOMPARE(env.count(), 1);
        QCOMPARE(env.replyRecord().comment(), std::string("read just now"));
    }

    void setLimitStaysWithinTheTable_data()
    {
        QTest::addColumn<int>("asked");
        QTest::addColumn<int>("kept");
        QTest::newRow("negative") << -5 << 0;
        QTest::newRow("zero") << 0 << 0;
        QTest::newRow("editor") << 2 << 2;
        QTest::newRow("table size") << 256 << 256;
        QTest::newRow("one more") << 257 << 256;
        QTest::newRow("far beyond") << 100000 << 256;
    }

    void setLimitStaysWithinTheTable()
    {
        QFETCH(int, asked);
        QFETCH(int, kept);
        CNetEnv env(testProfile());
        env.setLimit(asked);
        QCOMPARE(env.limit(), kept);
    }

    void floodOfJunkDoesNotStretchAWait()
    {
        // An owner's wait of 10 ticks of 300 ms on an open unicast endpoint, while junk pours in.
        CNetEnv env(testProfile());
        QVERIFY(env.OpenRemote(kDeviceAddress));
        QElapsedTimer clock;
        clock.start();
        simtest::DatagramFlood flood(0x7F000001, env.localPort());
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
        env.Close();
        qInfo("%llu junk datagrams during a wait of %lld ms", static_cast<unsigned long long>(sent),
              static_cast<long long>(elapsed));
        QVERIFY2(sent > 10000, "the flood ran");
        QVERIFY2(elapsed < 3400, qPrintable(QStringLiteral("the wait took %1 ms").arg(elapsed)));
    }

    void searchListsADeviceOnceWhenBothCopiesAnswer()
    {
        FakeDevice device;
        CNetEnv env(testProfile());
        const EnvRecord a = makeRecord({0x0a, 0x0A000001});
        env.setCount(0);
        sendRequest(env, device, frame::kSearch, false, a);
        QVERIFY(!device.awaitRequest().isEmpty()); // the second copy
        QCOMPARE(device.lastDestination(), QHostAddress(NetworkProfile::kLoopbackBroadcast));
        const QByteArray answer = FakeDevice::reply(a, frame::kSearch, false, a.mac());
        deliver(env, device, answer);
        deliver(env, device, answer);
        QCOMPARE(env.count(), 1);
        QCOMPARE(env.answered(), 0);
        QVERIFY(env.record(0) == a);
    }

    void requestGoesOutTwiceIdentically_data()
    {
        QTest::addColumn<bool>("unicast");
        QTest::newRow("broadcast") << false;
        QTest::newRow("unicast") << true;
    }

    void requestGoesOutTwiceIdentically()
    {
        QFETCH(bool, unicast);
        FakeDevice device;
        CNetEnv env(testProfile());
        const EnvRecord target = makeRecord({0x0a, 0x0A000001});
        sendRequest(env, device, frame::kRead, unicast, target);
        const QByteArray second = device.awaitRequest();
        QCOMPARE(second.size(), qsizetype(frame::kFrameSize));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(env.requestFrame().data()), frame::kFrameSize), second);
        QCOMPARE(std::uint8_t(second[frame::kOffFlags]), unicast ? std::uint8_t(0x03) : std::uint8_t(0x01));
        frame::Frame f;
        std::copy(second.begin(), second.end(), f.begin());
        QVERIFY(frame::AcceptRequest(f));
        if (unicast)
            QCOMPARE(env.targetAddress(), kDeviceAddress);
        else
            QVERIFY(std::equal(f.begin() + frame::kOffMac, f.begin() + frame::kOffMac + 6, target.data()));
    }

    void the257thDeviceIsNotStored()
    {
        FakeDevice device;
        CNetEnv env(testProfile());
        sendRequest(env, device, frame::kSearch, false, EnvRecord());
        env.setCount(CNetEnv::kTableSize - 1);
        const EnvRecord last = makeRecord({0xfe, 1});
        const EnvRecord extra = makeRecord({0xff, 2});
        deliver(env, device, FakeDevice::reply(last, frame::kSearch, false, last.mac()));
        QCOMPARE(env.count(), CNetEnv::kTableSize);
        QSignalSpy accepted(&env, &CNetEnv::replyAccepted);
        device.send(FakeDevice::reply(extra, frame::kSearch, false, extra.mac()));
        QVERIFY(!accepted.wait(300));
        QCOMPARE(env.count(), CNetEnv::kTableSize);
        QVERIFY(env.record(CNetEnv::kTableSize - 1) == last);
    }

    void searchHoldsItsTableAndCountsTheDevicesLeftOut_data()
    {
        QTest::addColumn<int>("tableSize");
        QTest::addColumn<int>("beyond");
        QTest::newRow("the search window's 256") << 256 << 3;
        QTest::newRow("a thousand and more") << 1000 << 24;
        QTest::newRow("a small table") << 5 << 1;
        QTest::newRow("exactly full: nobody left out") << 7 << 0;
    }

    void searchHoldsItsTableAndCountsTheDevicesLeftOut()
    {
        QFETCH(int, tableSize);
        QFETCH(int, beyond);
        CNetEnv env(testProfile(), tableSize);
        QCOMPARE(env.tableSize(), tableSize);
        QCOMPARE(env.limit(), tableSize);
        env.setCount(0);
        env.setCommand(frame::kSearch);
        // Device i has the MAC 02:7e:55:00:HH:LL (i + 1, big-endian).
        const auto device = [](int i) {
            EnvRecord r = makeRecord({0, static_cast<std::uint32_t>(0x0A000000 + i)});
            r.setMac(
                {0x02, 0x7e, 0x55, 0x00, static_cast<std::uint8_t>((i + 1) >> 8), static_cast<std::uint8_t>(i + 1)});
            return r;
        };
        const auto answer = [&](int i) {
            env.receiveDatagram(FakeDevice::reply(device(i), frame::kSearch, false, device(i).mac()), kDeviceAddress);
        };
        for (int i = 0; i < tableSize + beyond; ++i)
            answer(i);
        // Second copies: of a device held, and of every device left out.
        answer(0);
        for (int i = tableSize; i < tableSize + beyond; ++i)
            answer(i);
        QCOMPARE(env.count(), tableSize);
        QCOMPARE(env.unheld(), beyond);
        for (int i = 0; i < tableSize; ++i)
            QVERIFY2(env.record(i) == device(i), qPrintable(QStringLiteral("record %1").arg(i)));
        env.setCount(0);
        QCOMPARE(env.unheld(), 0);
    }

    void setLimitStaysWithinALargerTable()
    {
        CNetEnv env(testProfile(), 4096);
        env.setLimit(4097);
        QCOMPARE(env.limit(), 4096);
        env.setLimit(300);
        QCOMPARE(env.limit(), 300);
        env.reset();
        QCOMPARE(env.limit(), 4096);
    }

    void broadcastEndpointsSideBySideNeverShareALocalPort_data()
    {
        QTest::addColumn<bool>("loopback");
        QTest::addColumn<std::uint32_t>("bindAddress");
        QTest::newRow("loopback, unbound") << true << std::uint32_t{0};
        QTest::newRow("loopback, bound to 127.0.0.1") << true << std::uint32_t{0x7F000001};
        QTest::newRow("real profile, bound to 127.0.0.1") << false << std::uint32_t{0x7F000001};
    }

    void broadcastEndpointsSideBySideNeverShareALocalPort()
    {
        // Devices answer to the port a request came from: two endpoints on one port take each other's
        // answers, and a job of a fleet run then reports its device silent. With port sharing allowed
        // the system hands out, for port 0, ports that other such sockets hold, and two endpoints may
        // draw the same random port: among 1500 endpoints opened beside 256 others, several would.
        QFETCH(bool, loopback);
        QFETCH(std::uint32_t, bindAddress);
        NetworkProfile profile = testProfile();
        profile.loopback = loopback;
        constexpr int kOpenAtOnce = 256;
        constexpr int kOpened = 1500;
        std::vector<std::unique_ptr<CNetEnv>> open;
        QMultiHash<std::uint16_t, int> ports;
        int shared = 0;
        for (int i = 0; i < kOpened; ++i) {
            if (open.size() == kOpenAtOnce) {
                ports.remove(open.front()->localPort(), i - kOpenAtOnce);
                open.erase(open.begin());
            }
            auto env = std::make_unique<CNetEnv>(profile);
            QVERIFY2(env->OpenLocal(bindAddress), qPrintable(env->openError()));
            const std::uint16_t port = env->localPort();
            shared += ports.contains(port) ? 1 : 0;
            ports.insert(port, i);
            open.push_back(std::move(env));
        }
        QCOMPARE(shared, 0);
    }

    void badDatagramsAreDroppedAndLeaveTheReplyFrame_data()
    {
        QTest::addColumn<QByteArray>("bad");
        const EnvRecord other = makeRecord({0x0c, 0x0A000003});
        const QByteArray good = FakeDevice::reply(other, frame::kSearch, false, other.mac());
        QByteArray badSum = good;
        badSum[frame::kOffHeaderSum] = static_cast<char>(badSum[frame::kOffHeaderSum] ^ 1);
        QByteArray badFcs = good;
        badFcs[frame::kOffFcs] = static_cast<char>(badFcs[frame::kOffFcs] ^ 1);
        QByteArray request = good;
        request[frame::kOffFlags] = frame::kFlagsBroadcastRequest;
        QTest::newRow("one byte short") << good.left(frame::kFrameSize - 1);
        QTest::newRow("prefix of a later reply") << good.left(600);
        QTest::newRow("longer than a receiver reads")
            << good + QByteArray(frame::kMaxDatagram - frame::kFrameSize + 1, 'x');
        QTest::newRow("header checksum") << badSum;
        QTest::newRow("frame check") << badFcs;
        QTest::newRow("a request, not a reply") << request;
        QTest::newRow("garbage") << QByteArray(frame::kFrameSize, '\x5a');
    }

    void badDatagramsAreDroppedAndLeaveTheReplyFrame()
    {
        QFETCH(QByteArray, bad);
        FakeDevice device;
        CNetEnv env(testProfile());
        sendRequest(env, device, frame::kSearch, false, EnvRecord());
        const EnvRecord a = makeRecord({0x0a, 0x0A000001});
        deliver(env, device, FakeDevice::reply(a, frame::kSearch, false, a.mac()));
        const frame::Frame replyBefore = env.replyFrame();

        QSignalSpy accepted(&env, &CNetEnv::replyAccepted);
        device.send(bad);
        QVERIFY(!accepted.wait(300));
        QCOMPARE(env.count(), 1);
        QVERIFY(env.replyFrame() == replyBefore);
        QVERIFY(env.record(0) == a);
    }

    void statusDataTakesWhatFollowsTheFrame()
    {
        FakeDevice device;
        CNetEnv env(testProfile());
        const EnvRecord a = makeRecord({0x0a, 0x0A000001});
        sendRequest(env, device, frame::kStatus, true, a);
        QByteArray items(frame::kMaxStatusItems, '\0');
        for (int i = 0; i < items.size(); ++i)
            items[i] = static_cast<char>(i % 251 + 1);
        deliver(env, device, FakeDevice::reply(a, frame::kStatus, true, a.mac()) + items);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(env.statusData().data()), items.size()), items);
        QVERIFY(std::all_of(env.statusData().begin() + items.size(), env.statusData().end(),
                            [](std::uint8_t b) { return b == 0; }));

        // A status reply of exactly one frame leaves the status data all zero.
        deliver(env, device, FakeDevice::reply(a, frame::kStatus, true, a.mac()));
        QVERIFY(std::all_of(env.statusData().begin(), env.statusData().end(), [](std::uint8_t b) { return b == 0; }));
    }

    void openLocalFailsOnAnAddressNotOnThisMachine()
    {
        CNetEnv env(testProfile());
        QVERIFY(!env.OpenLocal(0xC0000201)); // 192.0.2.1: binding only, nothing is sent
        QVERIFY(!env.isOpen());
        QVERIFY(env.OpenLocal(0x7F000001));
        QVERIFY(env.isOpen());
        env.Close();
        QVERIFY(!env.isOpen());
    }

    void openClearsCommandAndAnswered()
    {
        FakeDevice device;
        CNetEnv env(testProfile());
        const EnvRecord a = makeRecord({0x0a, 0x0A000001});
        sendRequest(env, device, frame::kRead, true, a);
        deliver(env, device, FakeDevice::reply(a, frame::kRead, true, a.mac()));
        QCOMPARE(env.answered(), 1);
        QVERIFY(env.OpenLocal(0));
        QCOMPARE(env.answered(), 0);
        QCOMPARE(env.command(), 0);
    }

    void sortByMacComparesUnsignedBytes()
    {
        CNetEnv env(testProfile());
        const std::uint8_t lasts[] = {0x90, 0x05, 0xff, 0x10};
        for (int i = 0; i < 4; ++i)
            env.record(i) = makeRecord({lasts[i], std::uint32_t(i)});
        env.setCount(3); // the fourth record is beyond count and stays where it is
        env.sortByMac();
        QCOMPARE(env.record(0).mac()[5], std::uint8_t(0x05));
        QCOMPARE(env.record(1).mac()[5], std::uint8_t(0x90));
        QCOMPARE(env.record(2).mac()[5], std::uint8_t(0xff));
        QCOMPARE(env.record(3).mac()[5], std::uint8_t(0x10));
    }

    void resetRecordGivesTheDefaultRecord()
    {
        EnvRecord r = makeRecord({0x0a, 0x0A000001});
        CNetEnv::ResetRecord(r);
        QVERIFY(r == EnvRecord::defaultRecord());
    }
};

QTEST_GUILESS_MAIN(tst_CNetEnv)
#include "tst_cnetenv.moc"
