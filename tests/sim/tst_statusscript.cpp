// The simulator's status file and its live report: the items a file describes (pinned as bytes), the
// refusals with their line numbers, and a report whose counters move and whose address follows a write.
#include "SimExchange.h"
#include "StatusItems.h"
#include "StatusScript.h"
#include "TesselSim.h"
#include "status/StatusReport.h"

#include <QTemporaryFile>
#include <QTest>

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

QTEST_GUILESS_MAIN(TestStatusScript)
#include "tst_statusscript.moc"
