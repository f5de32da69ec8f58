// The simulator's status file and its live report: the items a file describes (pinned as bytes), the
// refusals with their line numbers, and a report whose counters move and whose address follows a write.
#include "SimExchange.h"
#include "StatusItems.h"
#include "StatusScript.h"
#include "TesselSim.h"
#include "status/StatusRates.h"
#include "status/StatusReport.h"

#include <QElapsedTimer>
#include <QTemporaryFile>
#include <QTest>

#include <vector>

namespace {
constexpr std::uint16_t kPort = 52107; // this test's own device port

EnvRecord identity()
{
    EnvRecord r;
    r.setMac({0x02, 0x7E, 0x55, 0x00, 0x00, 0x09});
    r.setIpAddress(0x7F000009);
    r.setSubnetMask(0xFFFFFF00);
    r.setGateway(0x7F000001);
    return r;
}

using Steps = std::vector<std::uint32_t>;

/** The counters of a status reply as the program reads them, stamped with the time it arrived. */
status::Reading lookAt(CNetEnv& env, const QElapsedTimer& clock)
{
    status::Reading r;
    r.answered = simtest::exchange(env, simtest::request(frame::kStatus, EnvRecord(), simtest::deviceAddress(0))) > 0;
    r.atMs = clock.elapsed();
    r.counters = status::readCounters(env.statusData());
    return r;
}

QString decodedText(const QByteArray& items, status::StatusFields& fields)
{
    return status::decode(
        std::span(reinterpret_cast<const std::uint8_t*>(items.constData()), static_cast<std::size_t>(items.size())),
        fields);
}
} // namespace

class TestStatusScript : public QObject
{
    Q_OBJECT

private slots:
    void fileLinesBecomeItemBytes_data();
    void fileLinesBecomeItemBytes();
    void identityItemsComeFromTheRecord();
    void badLinesAreRefusedWithTheirNumber_data();
    void badLinesAreRefusedWithTheirNumber();
    void aReportLargerThanAReplyIsRefused();
    void liveOffAndHostileBytesAreKept();
    void fileIsReadFromDisk();
    void serialCountersGrowBetweenLooks();
    void liveReportMovesAndFollowsAWrite();
    void rateLinesSetTheTraffic_data();
    void rateLinesSetTheTraffic();
    void badRateLinesAreRefused_data();
    void badRateLinesAreRefused();
    void ratedCounterWithoutALineStartsAtZero();
    void bytesFollowTheStepsOfARate_data();
    void bytesFollowTheStepsOfARate();
    void liveCountersGrowAtTheirRates();
    void restartsBringUptimeAndRatedCountersBack();
};

void TestStatusScript::fileLinesBecomeItemBytes_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("version with a letter") << QByteArray("version 3 2 B 50") << QByteArray::fromHex("010603020132");
    QTest::newRow("version with an index") << QByteArray("version 1 5 2 20") << QByteArray::fromHex("010601050214");
    QTest::newRow("uptime u32 LE") << QByteArray("uptime 9006100") << QByteArray::fromHex("2006146c8900");
    QTest::newRow("COM3 TX") << QByteArray("com3.tx 0x12345678") << QByteArray::fromHex("460678563412");
    QTest::newRow("LAN lost u16") << QByteArray("lan.lost 258") << QByteArray::fromHex("64040201");
    QTest::newRow("MAC given") << QByteArray("mac 02:11:22:0A:bc:de") << QByteArray::fromHex("1008021122 0abcde");
    QTest::newRow("gateway given") << QByteArray("gateway 10.1.0.254") << QByteArray::fromHex("13060a0100fe");
    QTest::newRow("text with escapes") << QByteArray(R"(text "A\tB\r\n\x41\"")")
                                       << QByteArray::fromHex("0209") + QByteArray("A\tB\r\nA\"");
    QTest::newRow("separator") << QByteArray("separator") << QByteArray::fromHex("0302");
    QTest::newRow("any item") << QByteArray("item 200 0a0b0c") << QByteArray::fromHex("c8050a0b0c");
    QTest::newRow("raw bytes") << QByteArray("raw 02 01 ff") << QByteArray::fromHex("0201ff");
    QTest::newRow("comments and blanks") << QByteArray("# a report\n\n  separator  # no\n") << QByteArray();
}

void TestStatusScript::fileLinesBecomeItemBytes()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, bytes);
    QString error;
    const std::optional<sim::StatusScript> script = sim::parseStatusScript(line, &error);
    if (line.startsWith('#')) {
        // "separator  # no" is not a separator line: comments start a line.
        QVERIFY(!script);
        QVERIFY2(error.startsWith(QStringLiteral("line 3: ")), qPrintable(error));
        return;
    }
    QVERIFY2(script, qPrintable(error));
    QCOMPARE(sim::statusItemsFor(*script, identity()).toHex(), bytes.toHex());
}

void TestStatusScript::identityItemsComeFromTheRecord()
{
    const std::optional<sim::StatusScript> script =
        sim::parseStatusScript("mac\nip\nmask\ngateway\ncom1.rx 7\nlan.rx 1\nlan.tx 2\n", nullptr);
    QVERIFY(script);
    QVERIFY(script->live);
    const QByteArray items = sim::statusItemsFor(*script, identity());
    QCOMPARE(items.left(26).toHex(), QByteArray("1008027e5500000911067f0000091206ffffff0013067f000001"));
    status::StatusFields fields;
    QCOMPARE(decodedText(items, fields), QStringLiteral("LAN RX packets: 1LAN TX packets: 2"));
    QCOMPARE(fields[status::Field::Mac], QStringLiteral("02:7e:55:00:00:09"));
    QCOMPARE(fields[status::Field::LocalIp], QStringLiteral("127.0.0.9"));
    QCOMPARE(fields[status::Field::Com1Rx], QStringLiteral("7"));
}

void TestStatusScript::badLinesAreRefusedWithTheirNumber_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("unknown word") << QByteArray("separator\nfrobnicate 3")
                                  << QStringLiteral("line 2: \"frobnicate 3\"");
    QTest::newRow("u16 too large") << QByteArray("lan.crc 65536") << QStringLiteral("line 1: lan.crc needs a number");
    QTest::newRow("u32 not a number") << QByteArray("uptime soon") << QStringLiteral("line 1: uptime needs a number");
    QTest::newRow("version of three") << QByteArray("version 1 2 3") << QStringLiteral("line 1: version needs");
    QTest::newRow("bad address") << QByteArray("ip 10.1.0") << QStringLiteral("line 1: ip: \"10.1.0\"");
    QTest::newRow("unquoted text") << QByteArray("text hello") << QStringLiteral("line 1: text needs a quoted");
    QTest::newRow("bad escape") << QByteArray(R"(text "a\q")") << QStringLiteral("line 1: text needs a quoted");
    QTest::newRow("item type 0") << QByteArray("item 0 01") << QStringLiteral("line 1: item needs a type");
    QTest::newRow("raw not hex") << QByteArray("raw 0g") << QStringLiteral("line 1: raw needs bytes in hex");
}

void TestStatusScript::badLinesAreRefusedWithTheirNumber()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QString why;
    QVERIFY(!sim::parseStatusScript(text, &why));
    QVERIFY2(why.startsWith(error), qPrintable(why));
}

void TestStatusScript::aReportLargerThanAReplyIsRefused()
{
    QByteArray text;
    const QByteArray line = "text \"" + QByteArray(200, 'x') + "\"\n";
    for (int i = 0; i < 4; ++i)
        text += line; // 4 x 202 = 808 bytes: fits
    QVERIFY(sim::parseStatusScript(text, nullptr));
    QString why;
    QVERIFY(!sim::parseStatusScript(text + "item 200 " + QByteArray(11, 'a').toHex() + "\n", &why)); // 821
    QVERIFY2(why.contains(QStringLiteral("821 bytes")), qPrintable(why));
}

void TestStatusScript::liveOffAndHostileBytesAreKept()
{
    const std::optional<sim::StatusScript> script =
        sim::parseStatusScript("live off\nmac\nraw 0201\nversion 1 0 A 8\n", nullptr);
    QVERIFY(script);
    QVERIFY(!script->live);
    const QByteArray items = sim::statusItemsFor(*script, identity());
    QCOMPARE(items.toHex(), QByteArray("1008027e55000009") + "0201" + "010601000008");
    // The receiver stops at the item of length 1: the version behind it is not shown.
    status::StatusFields fields;
    decodedText(items, fields);
    QCOMPARE(fields[status::Field::Mac], QStringLiteral("02:7e:55:00:00:09"));
    QCOMPARE(fields[status::Field::Version], QString());
}

void TestStatusScript::fileIsReadFromDisk()
{
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write("version 2 0 C 25\r\nuptime 100\r\n");
    file.close();
    QString error;
    const std::optional<sim::StatusScript> script = sim::loadStatusScript(file.fileName(), &error);
    QVERIFY2(script, qPrintable(error));
    QCOMPARE(sim::statusItemsFor(*script, identity()).toHex(), QByteArray("010602000219") + "200664000000");
    QVERIFY(!sim::loadStatusScript(file.fileName() + QStringLiteral(".missing"), &error));
    QVERIFY2(error.startsWith(file.fileName()), qPrintable(error));
}

void TestStatusScript::serialCountersGrowBetweenLooks()
{
    QByteArray items;
    for (std::uint8_t type = sim::kStatusComRx; type < sim::kStatusComTx + 4; ++type)
        sim::appendU32Item(items, type, 1000);
    sim::advanceSerialCounters(items);
    for (std::uint8_t port = 0; port < 4; ++port) {
        const std::uint32_t rx = sim::readU32Item(items, sim::kStatusComRx + port).value_or(0);
        const std::uint32_t tx = sim::readU32Item(items, sim::kStatusComTx + port).value_or(0);
        QVERIFY2(rx > 1000 && tx > 1000, qPrintable(QStringLiteral("COM%1: %2 %3").arg(port + 1).arg(rx).arg(tx)));
        QVERIFY(rx - 1000 > tx - 1000); // a port receives more than it sends here
    }
}

void TestStatusScript::liveReportMovesAndFollowsAWrite()
{
    const NetworkProfile profile = simtest::loopbackProfile(kPort);
    TesselSim sim(profile);
    sim.addDevices(1);
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));
    CNetEnv env(profile);
    const auto look = [&] {
        return simtest::exchange(env, simtest::request(frame::kStatus, EnvRecord(), simtest::deviceAddress(0)));
    };
    status::StatusFields first;
    QCOMPARE(look(), 2);
    status::decode(env.statusData(), first);
    // A write of a new gateway and subnet: the next report shows them, and its counters have moved.
    EnvRecord written = sim.device(0).record;
    written.setGateway(0x7F0000FE);
    written.setSubnetMask(0xFFFF0000);
    QCOMPARE(simtest::exchange(env, simtest::request(frame::kWrite, written, simtest::deviceAddress(0))), 2);
    QCOMPARE(env.replyResult(), std::uint8_t{0});
    status::StatusFields second;
    QCOMPARE(look(), 2);
    status::decode(env.statusData(), second);
    QCOMPARE(second[status::Field::Gateway], QStringLiteral("127.0.0.254"));
    QCOMPARE(second[status::Field::Subnet], QStringLiteral("255.255.0.0"));
    QCOMPARE(first[status::Field::Gateway], QStringLiteral("127.0.0.1"));
    for (int port = 0; port < 4; ++port) {
        for (const bool tx : {false, true}) {
            const status::Field f = status::comField(port, tx);
            QVERIFY2(second[f].toULongLong() > first[f].toULongLong(),
                     qPrintable(QStringLiteral("%1 then %2").arg(first[f], second[f])));
        }
    }
}

void TestStatusScript::rateLinesSetTheTraffic_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("type");
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<qint64>("everyMs");
    QTest::newRow("one rate") << QByteArray("rate com1.rx 1000") << 64 << Steps{1000} << qint64(10000);
    QTest::newRow("COM4 TX in steps") << QByteArray("rate com4.tx 0 4000 every 2.5") << 71 << Steps{0, 4000}
                                      << qint64(2500);
    QTest::newRow("largest rate") << QByteArray("rate com3.rx 4294967295 every 86400") << 66 << Steps{4294967295u}
                                  << qint64(86400000);
}

void TestStatusScript::rateLinesSetTheTraffic()
{
    QFETCH(QByteArray, line);
    QFETCH(int, type);
    QFETCH(Steps, steps);
    QFETCH(qint64, everyMs);
    QString error;
    const std::optional<sim::StatusScript> script = sim::parseStatusScript(line + "\nrestart every 60\n", &error);
    QVERIFY2(script, qPrintable(error));
    QCOMPARE(script->traffic.rates.size(), std::size_t{1});
    const sim::CounterRate& rate = script->traffic.rates.front();
    QCOMPARE(int(rate.type), type);
    QCOMPARE(rate.bytesPerSecond, steps);
    QCOMPARE(rate.everyMs, everyMs);
    QCOMPARE(script->traffic.restartEveryMs, qint64(60000));
}

void TestStatusScript::badRateLinesAreRefused_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("not a serial counter") << QByteArray("rate lan.rx 5");
    QTest::newRow("uptime is no serial counter") << QByteArray("rate uptime 5");
    QTest::newRow("no rate") << QByteArray("rate com1.rx");
    QTest::newRow("rate too large") << QByteArray("rate com1.rx 4294967296");
    QTest::newRow("not a number") << QByteArray("rate com1.rx fast");
    QTest::newRow("every without seconds") << QByteArray("rate com1.rx 5 every");
    QTest::newRow("every 0") << QByteArray("rate com1.rx 5 every 0");
    QTest::newRow("every more than a day") << QByteArray("rate com1.rx 5 every 86401");
    QTest::newRow("every far more than any number of milliseconds") << QByteArray("rate com1.rx 5 every 1e80");
    QTest::newRow("words after every") << QByteArray("rate com1.rx 5 every 2 more");
    QTest::newRow("restart without every") << QByteArray("restart 60");
    QTest::newRow("restart every nothing") << QByteArray("restart every");
}

void TestStatusScript::badRateLinesAreRefused()
{
    QFETCH(QByteArray, line);
    QString why;
    QVERIFY(!sim::parseStatusScript("separator\n" + line, &why));
    QVERIFY2(why.startsWith(QStringLiteral("line 2: ")), qPrintable(why));
}

void TestStatusScript::ratedCounterWithoutALineStartsAtZero()
{
    const std::optional<sim::StatusScript> script =
        sim::parseStatusScript("com1.rx 7\nrate com1.rx 10\nrate com2.tx 20\n", nullptr);
    QVERIFY(script);
    QCOMPARE(sim::statusItemsFor(*script, identity()).toHex(), QByteArray("400607000000") + "450600000000");
}

void TestStatusScript::bytesFollowTheStepsOfARate_data()
{
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<qint64>("everyMs");
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<quint64>("bytes");
    QTest::newRow("constant") << Steps{1000} << qint64(10000) << qint64(2500) << quint64(2500);
    QTest::newRow("constant past its step") << Steps{1000} << qint64(10000) << qint64(25000) << quint64(25000);
    QTest::newRow("first step of a square wave") << Steps{0, 4000} << qint64(1000) << qint64(900) << quint64(0);
    QTest::newRow("into the second step") << Steps{0, 4000} << qint64(1000) << qint64(1500) << quint64(2000);
    QTest::newRow("a round and a half") << Steps{0, 4000} << qint64(1000) << qint64(3500) << quint64(6000);
    QTest::newRow("staircase") << Steps{100, 200, 300} << qint64(2000) << qint64(5000) << quint64(900);
    QTest::newRow("a day at the largest rate")
        << Steps{4294967295u} << qint64(10000) << qint64(86400000) << quint64(4294967295ull * 86400);
    QTest::newRow("before the start") << Steps{1000} << qint64(10000) << qint64(-5) << quint64(0);
}

void TestStatusScript::bytesFollowTheStepsOfARate()
{
    QFETCH(Steps, steps);
    QFETCH(qint64, everyMs);
    QFETCH(qint64, elapsedMs);
    QFETCH(quint64, bytes);
    QCOMPARE(quint64(sim::bytesAfter(sim::CounterRate{sim::kStatusComRx, steps, everyMs}, elapsedMs)), bytes);
}

void TestStatusScript::liveCountersGrowAtTheirRates()
{
    const NetworkProfile profile = simtest::loopbackProfile(kPort);
    TesselSim sim(profile);
    SimDevice device = TesselSim::makeDevice(0, simtest::deviceAddress(0));
    const std::optional<sim::StatusScript> script = sim::parseStatusScript(
        "uptime 360000\ncom1.rx 4294964600\nrate com1.rx 3000\nrate com2.tx 0 8000 every 1000\n", nullptr);
    QVERIFY(script);
    device.statusItems = sim::statusItemsFor(*script, device.record);
    device.traffic = script->traffic;
    sim.addDevice(device);
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));
    CNetEnv env(profile);
    QElapsedTimer clock;
    clock.start();
    const status::Reading first = lookAt(env, clock);
    QTest::qWait(1200);
    const status::Reading second = lookAt(env, clock);
    QVERIFY(first.answered && second.answered);
    // COM1 RX passes 2^32 0.9 s after the simulator started; the rate goes right across.
    const status::Rates rates = status::ratesBetween(&first, second);
    QCOMPARE(rates.mark, status::Mark::None);
    QVERIFY2(rates.seconds > 1.0, qPrintable(QString::number(rates.seconds)));
    const double slack = 2.0 / rates.seconds; // a byte of rounding at either end
    QVERIFY2(qAbs(*rates.rx[0] - 3000.0) <= slack, qPrintable(QString::number(*rates.rx[0])));
    QCOMPARE(*rates.tx[1], 0.0); // the square wave's first 1000 s are silent
    for (int port : {1, 2, 3})
        QCOMPARE(*rates.rx[port], 0.0); // without a rate of their own the counters stay still
}

void TestStatusScript::restartsBringUptimeAndRatedCountersBack()
{
    const NetworkProfile profile = simtest::loopbackProfile(kPort);
    TesselSim sim(profile);
    SimDevice device = TesselSim::makeDevice(0, simtest::deviceAddress(0));
    const std::optional<sim::StatusScript> script =
        sim::parseStatusScript("uptime 100\ncom3.tx 50\nrate com3.tx 10000\nrestart every 1\n", nullptr);
    QVERIFY(script);
    device.statusItems = sim::statusItemsFor(*script, device.record);
    device.traffic = script->traffic;
    sim.addDevice(device);
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));
    CNetEnv env(profile);
    QElapsedTimer clock;
    clock.start();
    status::RateTracker tracker;
    bool restarted = false;
    for (int look = 0; look < 12 && !restarted; ++look) {
        const status::Reading r = lookAt(env, clock);
        QVERIFY(r.answered);
        // Within a second of each start: uptime 1 s to 2 s, COM3 TX at most 50 + 10000 bytes.
        QVERIFY2(*r.counters.uptime >= 100 && *r.counters.uptime < 200,
                 qPrintable(QString::number(*r.counters.uptime)));
        QVERIFY2(*r.counters.tx[2] >= 50 && *r.counters.tx[2] <= 10050, qPrintable(QString::number(*r.counters.tx[2])));
        restarted = tracker.add(r).mark == status::Mark::Restart;
        QTest::qWait(230);
    }
    QVERIFY(restarted);
}

QTEST_GUILESS_MAIN(TestStatusScript)
#include "tst_statusscript.moc"
