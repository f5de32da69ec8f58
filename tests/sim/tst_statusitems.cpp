// The status report a simulated device sends: StatusItems.

#include "StatusItems.h"
#include "TesselSim.h"
#include "protocol/Codec.h"

#include <QSet>
#include <QTest>

namespace {
constexpr std::uint32_t kAddress = 0x7F000005;

// The text box of the status window as the program fills it: texts, separators and the LAN lines, in order.
QString textBox(const QByteArray& items)
{
    QString text;
    qsizetype at = 0;
    const auto* p = reinterpret_cast<const std::uint8_t*>(items.constData());
    while (at + 2 <= items.size() && p[at] != 0 && p[at + 1] >= 2 && at + p[at + 1] <= items.size()) {
        const std::uint8_t type = p[at];
        const std::uint8_t length = p[at + 1];
        const std::uint8_t* value = p + at + 2;
        if (type == sim::kStatusText)
            text += QString::fromLatin1(reinterpret_cast<const char*>(value), length - 2);
        else if (type == sim::kStatusSeparator)
            text += QString(40, QLatin1Char('-'));
        else if (type == sim::kStatusLanRx)
            text += QStringLiteral("LAN RX packets: %1").arg(frame::readLe32(value));
        else if (type == sim::kStatusLanTx)
            text += QStringLiteral("LAN TX packets: %1").arg(frame::readLe32(value));
        else if (type == sim::kStatusLanCrc)
            text += QStringLiteral("LAN CRC errors: %1").arg(frame::readLe16(value));
        else if (type == sim::kStatusLanAlign)
            text += QStringLiteral("LAN ALIGN errors: %1").arg(frame::readLe16(value));
        else if (type == sim::kStatusLanLost)
            text += QStringLiteral("LAN LOST packets: %1").arg(frame::readLe16(value));
        at += length;
    }
    return text;
}

QSet<int> typesIn(const QByteArray& items)
{
    QSet<int> types;
    for (int type = 1; type < 256; ++type) {
        if (sim::findItemValue(items, static_cast<std::uint8_t>(type), 0) >= 0)
            types.insert(type);
    }
    return types;
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(static_cast<char>(v));
    return b;
}
} // namespace

class TestStatusItems : public QObject
{
    Q_OBJECT

private slots:
    void defaultReportHoldsEveryKindOfItem();
    void defaultReportEndsExactlyAtItsLastItem();
    void defaultReportLaysOutTheLanLinesWithLineBreaks();
    void refreshSetsUptimeAndTheRecordsIdentity();
    void countersGrow();
    void findingStopsWhereAReceiverStops_data();
    void findingStopsWhereAReceiverStops();
};

void TestStatusItems::defaultReportHoldsEveryKindOfItem()
{
    const SimDevice d = TesselSim::makeDevice(3, kAddress);
    const QSet<int> expected = {1, 2, 3, 16, 17, 18, 19, 32, 64, 65, 66, 67, 68, 69, 70, 71, 96, 97, 98, 99, 100};
    QCOMPARE(typesIn(d.statusItems), expected);
    QVERIFY(d.statusItems.size() <= 820);
    const qsizetype mac = sim::findItemValue(d.statusItems, sim::kStatusMac, 6);
    QVERIFY(std::equal(d.statusItems.begin() + mac, d.statusItems.begin() + mac + 6, d.record.data()));
    const qsizetype ip = sim::findItemValue(d.statusItems, sim::kStatusIp, 4);
    QCOMPARE(frame::readBe32(reinterpret_cast<const std::uint8_t*>(d.statusItems.constData() + ip)), kAddress);
    const qsizetype version = sim::findItemValue(d.statusItems, sim::kStatusVersion, 4);
    QVERIFY(d.statusItems.at(version + 3) > 0); // a clock in MHz
}

void TestStatusItems::defaultReportEndsExactlyAtItsLastItem()
{
    const QByteArray items = TesselSim::makeDevice(0, kAddress).statusItems;
    qsizetype at = 0;
    while (at < items.size())
        at += static_cast<std::uint8_t>(items.at(at + 1));
    QCOMPARE(at, items.size());
}

void TestStatusItems::defaultReportLaysOutTheLanLinesWithLineBreaks()
{
    const QString separator(40, QLatin1Char('-'));
    const QString expected = QStringLiteral("Tessel LAN statistics\r\n") + separator +
                             QStringLiteral("\r\nLAN RX packets: 1000\r\nLAN TX packets: 800\r\n"
                                            "LAN CRC errors: 0\r\nLAN ALIGN errors: 0\r\nLAN LOST packets: 0\r\n") +
                             separator;
    QCOMPARE(textBox(TesselSim::makeDevice(0, kAddress).statusItems), expected);
}

void TestStatusItems::refreshSetsUptimeAndTheRecordsIdentity()
{
    SimDevice d = TesselSim::makeDevice(0, kAddress);
    d.record.setIpAddress(0x7F000063);
    d.record.setGateway(0x7F0000FE);
    sim::refreshStatusItems(d.statusItems, d.record, 9006100);
    QCOMPARE(sim::readU32Item(d.statusItems, sim::kStatusUptime), std::optional<std::uint32_t>(9006100));
    const auto address = [&](std::uint8_t type) {
        const qsizetype at = sim::findItemValue(d.statusItems, type, 4);
        return frame::readBe32(reinterpret_cast<const std::uint8_t*>(d.statusItems.constData() + at));
    };
    QCOMPARE(address(sim::kStatusIp), 0x7F000063u);
    QCOMPARE(address(sim::kStatusGateway), 0x7F0000FEu);
    QCOMPARE(address(sim::kStatusMask), d.record.subnetMask());
}

void TestStatusItems::countersGrow()
{
    QByteArray items = TesselSim::makeDevice(0, kAddress).statusItems;
    QVERIFY(sim::addToCounter(items, sim::kStatusLanRx, 5));
    QCOMPARE(sim::readU32Item(items, sim::kStatusLanRx), std::optional<std::uint32_t>(1005));
    QByteArray none;
    QVERIFY(!sim::addToCounter(none, sim::kStatusLanRx, 1));
}

void TestStatusItems::findingStopsWhereAReceiverStops_data()
{
    QTest::addColumn<QByteArray>("items");
    QTest::addColumn<bool>("found");
    QTest::newRow("plain") << bytes({2, 3, 'x', 32, 6, 1, 2, 3, 4}) << true;
    QTest::newRow("after type 0") << bytes({0, 3, 'x', 32, 6, 1, 2, 3, 4}) << false;
    QTest::newRow("after L 1") << bytes({2, 1, 32, 6, 1, 2, 3, 4}) << false;
    QTest::newRow("running past the end") << bytes({32, 7, 1, 2, 3, 4}) << false;
    QTest::newRow("too short a value") << bytes({32, 4, 1, 2}) << false;
}

void TestStatusItems::findingStopsWhereAReceiverStops()
{
    QFETCH(QByteArray, items);
    QFETCH(bool, found);
    QCOMPARE(sim::readU32Item(items, sim::kStatusUptime).has_value(), found);
}

QTEST_GUILESS_MAIN(TestStatusItems)
#include "tst_statusitems.moc"
