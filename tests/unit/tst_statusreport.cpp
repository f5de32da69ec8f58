// The status report decoder: item texts pinned against hand-made bytes, the stop rules, fields that
// keep their text when their item is absent, and hostile blocks that must never be read outside.
#include "status/StatusReport.h"

#include <QtTest>

#include <vector>

using status::Field;

namespace {
using Bytes = std::vector<std::uint8_t>;

/** A block of exactly 1460 bytes on the heap, zero behind `items`, so a read past its end is a
 *  sanitizer error rather than a silent read of a neighbour. */
Bytes block(const Bytes& items, std::size_t at = 0)
{
    Bytes b(status::kBlockSize, 0);
    std::copy(items.begin(), items.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    return b;
}

/** Unknown items (type 200) of 255 bytes and one rest item that end exactly at `end`. */
Bytes fillerUpTo(std::size_t end)
{
    Bytes items;
    while (items.size() < end) {
        const std::size_t length = std::min<std::size_t>(255, end - items.size());
        items.push_back(200);
        items.push_back(static_cast<std::uint8_t>(length));
        items.resize(items.size() + length - 2, 0xAA);
    }
    return items;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

QString decodeFresh(const Bytes& b, status::StatusFields* out = nullptr)
{
    status::StatusFields fields;
    const QString text = status::decode(b, fields);
    if (out)
        *out = fields;
    return text;
}
} // namespace

Q_DECLARE_METATYPE(Bytes)

class TestStatusReport : public QObject
{
    Q_OBJECT

private slots:
    void fieldItemsShowTheirTexts_data();
    void fieldItemsShowTheirTexts();
    void textBoxJoinsInsertionsAsTheyCome_data();
    void textBoxJoinsInsertionsAsTheyCome();
    void uptimeSplitsHundredthsIntoDaysAndClock_data();
    void uptimeSplitsHundredthsIntoDaysAndClock();
    void serialCountersGoToTheirPortAndDirection();
    void decodingStopsAndKeepsWhatCameBefore_data();
    void decodingStopsAndKeepsWhatCameBefore();
    void absentItemsKeepTheFieldsOfTheLastReport();
    void shortItemsAtTheEndOfTheBlockNeverReadPastIt_data();
    void shortItemsAtTheEndOfTheBlockNeverReadPastIt();
    void onlyTheFirst1460BytesCount();
};

void TestStatusReport::fieldItemsShowTheirTexts_data()
{
    QTest::addColumn<Bytes>("items");
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    const auto row = [](const char* name, Bytes items, Field f, const char* text) {
        QTest::newRow(name) << items << static_cast<int>(f) << QString::fromLatin1(text);
    };
    row("version 1.5C 20MHz", {1, 6, 1, 5, 2, 20}, Field::Version, "Tessel/LAN Rev. 1.5C 20MHz");
    row("version, bytes above 127", {1, 6, 200, 0, 0, 250}, Field::Version, "Tessel/LAN Rev. 200.0A 250MHz");
    row("version letter Z", {1, 6, 3, 12, 25, 50}, Field::Version, "Tessel/LAN Rev. 3.12Z 50MHz");
    row("MAC lower-case hex", {16, 8, 0x02, 0x11, 0x22, 0x0A, 0xBC, 0xDE}, Field::Mac, "02:11:22:0a:bc:de");
    row("local IP first octet first", {17, 6, 192, 168, 0, 254}, Field::LocalIp, "192.168.0.254");
    row("subnet", {18, 6, 255, 255, 240, 0}, Field::Subnet, "255.255.240.0");
    row("gateway", {19, 6, 10, 1, 0, 1}, Field::Gateway, "10.1.0.1");
    row("uptime little-endian", {32, 6, 0x14, 0x6C, 0x89, 0x00}, Field::Uptime, "1 days, 01:01:01"); // 9006100
    row("COM1 RX u32 little-endian", {64, 6, 0x78, 0x56, 0x34, 0x12}, Field::Com1Rx, "305419896");
    row("COM4 TX largest u32", {71, 6, 0xFF, 0xFF, 0xFF, 0xFF}, Field::Com4Tx, "4294967295");
    // The value is read at its fixed size whatever L says; L only finds the next item.
    row("version with a longer L", {1, 9, 2, 0, 0, 33, 0xEE, 0xEE, 0xEE}, Field::Version, "Tessel/LAN Rev. 2.0A 33MHz");
    // 0x00006400 = 25600 hundredths; the next item (type 100, L 0) then ends the decoding.
    row("uptime with L = 3 reads into the next item", {32, 3, 0x00, 0x64, 0x00, 0x00}, Field::Uptime,
        "0 days, 00:04:16");
}

void TestStatusReport::fieldItemsShowTheirTexts()
{
    QFETCH(Bytes, items);
    QFETCH(int, field);
    QFETCH(QString, text);
    status::StatusFields fields;
    status::decode(block(items), fields);
    QCOMPARE(fields[static_cast<Field>(field)], text);
    for (std::size_t i = 0; i < status::kFieldCount; ++i) {
        if (static_cast<int>(i) != field)
            QVERIFY2(fields.texts[i].isEmpty(), qPrintable(fields.texts[i]));
    }
}

void TestStatusReport::textBoxJoinsInsertionsAsTheyCome_data()
{
    QTest::addColumn<Bytes>("items");
    QTest::addColumn<QString>("text");
    const QString hyphens(40, QLatin1Char('-'));
    QTest::newRow("LAN RX and TX with no text between: one line")
        << Bytes{96, 6, 0xE8, 0x03, 0, 0, 97, 6, 0x20, 0x03, 0, 0}
        << QStringLiteral("LAN RX packets: 1000LAN TX packets: 800");
    QTest::newRow("line breaks come from text items")
        << Bytes{2, 4, '\r', '\n', 98, 4, 7, 0, 2, 4, '\r', '\n', 99, 4, 0, 1, 2, 3, 'x', 100, 4, 0xFF, 0xFF}
        << QStringLiteral("\r\nLAN CRC errors: 7\r\nLAN ALIGN errors: 256xLAN LOST packets: 65535");
    QTest::newRow("two-byte types read two bytes even when L is larger")
        << Bytes{98, 8, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 99, 6, 0x10, 0x00, 0xFF, 0xFF}
        << QStringLiteral("LAN CRC errors: 513LAN ALIGN errors: 16");
    QTest::newRow("separator is 40 hyphens, no line break")
        << Bytes{3, 2, 2, 3, 'a', 3, 2} << hyphens + QStringLiteral("a") + hyphens;
    QTest::newRow("text up to its first zero byte")
        << Bytes{2, 7, 'a', 'b', 0, 'c', 'd', 2, 3, 'e'} << QStringLiteral("abe");
    QTest::newRow("text without a zero byte ends with its item")
        << Bytes{2, 5, 'a', 'b', 'c', 2, 4, 'd', 'e'} << QStringLiteral("abcde");
    QTest::newRow("empty text item") << Bytes{2, 2, 2, 3, 'z'} << QStringLiteral("z");
    QTest::newRow("text bytes above 127 as Latin-1") << Bytes{2, 4, 0xE9, 0xFC} << QStringLiteral("\u00E9\u00FC");
    QTest::newRow("unknown types are skipped")
        << Bytes{200, 5, 'x', 'y', 'z', 4, 2, 33, 3, 1, 2, 3, 'k'} << QStringLiteral("k");
    QTest::newRow("all zero: empty") << Bytes{} << QString();
}

void TestStatusReport::textBoxJoinsInsertionsAsTheyCome()
{
    QFETCH(Bytes, items);
    QFETCH(QString, text);
    QCOMPARE(decodeFresh(block(items)), text);
}

void TestStatusReport::uptimeSplitsHundredthsIntoDaysAndClock_data()
{
    QTest::addColumn<uint>("hundredths");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0u << QStringLiteral("0 days, 00:00:00");
    QTest::newRow("9,006,100") << 9006100u << QStringLiteral("1 days, 01:01:01");
    QTest::newRow("one hundredth short of a day") << 8639999u << QStringLiteral("0 days, 23:59:59");
    QTest::newRow("largest u32") << 0xFFFFFFFFu << QStringLiteral("497 days, 02:27:52");
}

void TestStatusReport::uptimeSplitsHundredthsIntoDaysAndClock()
{
    QFETCH(uint, hundredths);
    QFETCH(QString, text);
    QCOMPARE(status::uptimeText(hundredths), text);
    status::StatusFields fields;
    const auto b = [&](int shift) { return static_cast<std::uint8_t>(hundredths >> shift); };
    status::decode(block({32, 6, b(0), b(8), b(16), b(24)}), fields);
    QCOMPARE(fields[Field::Uptime], text);
}

void TestStatusReport::serialCountersGoToTheirPortAndDirection()
{
    Bytes items;
    for (std::uint8_t type = 64; type <= 71; ++type)
        items = items + Bytes{type, 6, static_cast<std::uint8_t>(type), 0, 0, 0};
    status::StatusFields fields;
    status::decode(block(items), fields);
    const Field expected[] = {Field::Com1Rx, Field::Com2Rx, Field::Com3Rx, Field::Com4Rx,
                              Field::Com1Tx, Field::Com2Tx, Field::Com3Tx, Field::Com4Tx};
    for (int i = 0; i < 8; ++i)
        QCOMPARE(fields[expected[i]], QString::number(64 + i));
    QCOMPARE(status::comField(2, false), Field::Com3Rx);
    QCOMPARE(status::comField(3, true), Field::Com4Tx);
}

void TestStatusReport::decodingStopsAndKeepsWhatCameBefore_data()
{
    QTest::addColumn<Bytes>("tail");
    // Each tail follows a MAC item and a text item "a"; a version item behind the tail must not show.
    const Bytes version = {1, 6, 9, 9, 9, 9};
    QTest::newRow("type 0") << Bytes{0, 6, 1, 1, 1, 1} + version;
    QTest::newRow("L = 0") << Bytes{2, 0, 'b', 'c'} + version;
    QTest::newRow("L = 1") << Bytes{2, 1, 'b', 'c'} + version;
    QTest::newRow("L = 1 on a field type") << Bytes{32, 1, 1, 2, 3, 4} + version;
}

void TestStatusReport::decodingStopsAndKeepsWhatCameBefore()
{
    QFETCH(Bytes, tail);
    status::StatusFields fields;
    const QString text = status::decode(block(Bytes{16, 8, 2, 0x7e, 0x55, 0, 0, 1, 2, 3, 'a'} + tail), fields);
    QCOMPARE(text, QStringLiteral("a"));
    QCOMPARE(fields[Field::Mac], QStringLiteral("02:7e:55:00:00:01"));
    QCOMPARE(fields[Field::Version], QString());
    QCOMPARE(fields[Field::Uptime], QString());
}

void TestStatusReport::absentItemsKeepTheFieldsOfTheLastReport()
{
    status::StatusFields fields;
    status::decode(block({19, 6, 10, 1, 0, 254, 17, 6, 10, 1, 0, 7, 2, 3, 'x'}), fields);
    QCOMPARE(fields[Field::Gateway], QStringLiteral("10.1.0.254"));
    // The second report lacks the gateway: it still shows the first one; its own items replace the rest.
    const QString text = status::decode(block({17, 6, 10, 1, 0, 8, 2, 3, 'y'}), fields);
    QCOMPARE(fields[Field::Gateway], QStringLiteral("10.1.0.254"));
    QCOMPARE(fields[Field::LocalIp], QStringLiteral("10.1.0.8"));
    QCOMPARE(text, QStringLiteral("y")); // the text box starts afresh
    // A report with no items at all leaves every field as it was.
    const status::StatusFields before = fields;
    QCOMPARE(status::decode(block({}), fields), QString());
    QCOMPARE(fields.texts, before.texts);
}

void TestStatusReport::shortItemsAtTheEndOfTheBlockNeverReadPastIt_data()
{
    QTest::addColumn<Bytes>("last");
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("fieldText");
    QTest::addColumn<QString>("text");
    const auto none = static_cast<int>(Field::Version);
    // Each `last` is placed so that it ends exactly at byte 1460; the filler before it is unknown items.
    QTest::newRow("MAC with L = 2 in the last two bytes")
        << Bytes{16, 2} << static_cast<int>(Field::Mac) << QStringLiteral("00:00:00:00:00:00") << QString();
    QTest::newRow("uptime with L = 3 near the end")
        << Bytes{32, 3, 0x64} << static_cast<int>(Field::Uptime) << QStringLiteral("0 days, 00:00:01") << QString();
    QTest::newRow("LAN RX with L = 2 at the end")
        << Bytes{96, 2} << none << QString() << QStringLiteral("LAN RX packets: 0");
    QTest::newRow("text without a zero byte up to the last byte")
        << Bytes{2, 6, 'e', 'n', 'd', '!'} << none << QString() << QStringLiteral("end!");
    QTest::newRow("type in the very last byte, its L would lie outside") << Bytes{32} << none << QString() << QString();
}

void TestStatusReport::shortItemsAtTheEndOfTheBlockNeverReadPastIt()
{
    QFETCH(Bytes, last);
    QFETCH(int, field);
    QFETCH(QString, fieldText);
    QFETCH(QString, text);
    const Bytes items = fillerUpTo(status::kBlockSize - last.size()) + last;
    QCOMPARE(items.size(), status::kBlockSize);
    status::StatusFields fields;
    QCOMPARE(status::decode(items, fields), text);
    QCOMPARE(fields[static_cast<Field>(field)], fieldText);
}

void TestStatusReport::onlyTheFirst1460BytesCount()
{
    // Filler items end exactly at 1460; an item behind them (in a longer buffer) is not part of the block,
    // and neither is an item that starts inside the block but would end behind it.
    Bytes buffer = fillerUpTo(status::kBlockSize) + Bytes{1, 6, 1, 2, 3, 4};
    buffer.resize(2048, 0);
    status::StatusFields fields;
    QCOMPARE(status::decode(buffer, fields), QString());
    QCOMPARE(fields[Field::Version], QString());

    Bytes straddling = fillerUpTo(status::kBlockSize - 4) + Bytes{2, 8, 'a', 'b', 'c', 'd', 'e', 'f'};
    straddling.resize(2048, 0);
    QCOMPARE(status::decode(straddling, fields), QString());
}

QTEST_GUILESS_MAIN(TestStatusReport)
#include "tst_statusreport.moc"
