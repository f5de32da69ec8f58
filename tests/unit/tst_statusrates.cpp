// Traffic rates from pairs of status readings (normal, equal, a 32-bit wrap, restarts, a missed
// reading), the totals across wraps, the counters read from a report's bytes, and rates as people read
// them: the value axis and the figures.
#include "status/RateFormat.h"
#include "status/StatusRates.h"

#include <QtTest>

#include <cmath>
#include <vector>

using status::Mark;
using status::Reading;

namespace {
using Bytes = std::vector<std::uint8_t>;
using Rx = std::optional<double>;

constexpr std::uint32_t kHour = 360000; // hundredths of a second

/** An answered reading at `atMs` with `uptime` and COM1's counters (COM2..COM4 absent). */
Reading reading(qint64 atMs, std::optional<std::uint32_t> uptime, std::uint32_t rx, std::uint32_t tx)
{
    Reading r;
    r.atMs = atMs;
    r.answered = true;
    r.counters.uptime = uptime;
    r.counters.rx[0] = rx;
    r.counters.tx[0] = tx;
    return r;
}

Reading unanswered(qint64 atMs)
{
    Reading r;
    r.atMs = atMs;
    return r;
}

/** Four bytes little-endian, as a device sends its numbers. */
Bytes le32(std::uint32_t v)
{
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 24)};
}

Bytes item(std::uint8_t type, const Bytes& value)
{
    Bytes b{type, static_cast<std::uint8_t>(value.size() + 2)};
    b.insert(b.end(), value.begin(), value.end());
    return b;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
} // namespace

Q_DECLARE_METATYPE(Reading)
Q_DECLARE_METATYPE(Mark)
Q_DECLARE_METATYPE(Rx)
Q_DECLARE_METATYPE(Bytes)

class TestStatusRates : public QObject
{
    Q_OBJECT

private slots:
    void ratesFromTwoReadings_data();
    void ratesFromTwoReadings();
    void firstReadingHasNoRates();
    void portsWithoutACounterHaveNoRate();
    void missedReadingLeavesALongerIntervalToTheNext();
    void totalsRunOnAcrossWrapsAndStartAgainAfterARestart();
    void countersAreReadFromTheReportsBytes();
    void countersStopWhereTheReportStops();
    void axisHasRoundTicksOfOneUnit_data();
    void axisHasRoundTicksOfOneUnit();
    void axisLabelsFollowTheLocale();
    void ratesReadAsThreeDigitFigures_data();
    void ratesReadAsThreeDigitFigures();
};

void TestStatusRates::ratesFromTwoReadings_data()
{
    QTest::addColumn<Reading>("before");
    QTest::addColumn<Reading>("now");
    QTest::addColumn<Mark>("mark");
    QTest::addColumn<Rx>("rx");
    QTest::addColumn<Rx>("tx");
    QTest::addColumn<double>("seconds");

    QTest::newRow("normal: 2 s by the uptime") << reading(0, kHour, 1000, 50) << reading(2000, kHour + 200, 5000, 1050)
                                               << Mark::None << Rx(2000.0) << Rx(500.0) << 2.0;
    // The device's clock measures the interval, not the time the answers took to arrive.
    QTest::newRow("device time, not arrival time")
        << reading(0, kHour, 0, 0) << reading(2400, kHour + 200, 1000, 0) << Mark::None << Rx(500.0) << Rx(0.0) << 2.0;
    QTest::newRow("equal counters: 0 B/s")
        << reading(0, kHour, 777, 9) << reading(2000, kHour + 200, 777, 9) << Mark::None << Rx(0.0) << Rx(0.0) << 2.0;
    QTest::newRow("32-bit wrap of a counter")
        << reading(0, kHour, 0xFFFFFF00u, 0xFFFFFFFFu) << reading(1000, kHour + 100, 0x100u, 0u) << Mark::None
        << Rx(512.0) << Rx(1.0) << 1.0;
    QTest::newRow("no uptime: our clock measures")
        << reading(1000, std::nullopt, 0, 0) << reading(5000, std::nullopt, 8000, 4000) << Mark::None << Rx(2000.0)
        << Rx(1000.0) << 4.0;
    QTest::newRow("restart: the uptime went back")
        << reading(0, kHour, 90000, 9000) << reading(2000, 150, 300, 30) << Mark::Restart << Rx() << Rx() << 0.0;
    QTest::newRow("restart unseen by the uptime alone: it grew less than the time passed")
        << reading(0, 6000, 5000, 5000) << reading(120000, 9000, 6000, 6000) << Mark::Restart << Rx() << Rx() << 0.0;
    // After 497 days the uptime wraps itself; the wrapped difference fits the 2 s that passed.
    QTest::newRow("the uptime's own wrap is no restart")
        << reading(0, 0xFFFFFF9Cu, 100, 100) << reading(2000, 100, 300, 100) << Mark::None << Rx(100.0) << Rx(0.0)
        << 2.0;
    QTest::newRow("missed reading") << reading(0, kHour, 1, 1) << unanswered(2000) << Mark::NoAnswer << Rx() << Rx()
                                    << 0.0;
    QTest::newRow("no time between them")
        << reading(2000, kHour, 1, 1) << reading(2000, kHour, 9, 9) << Mark::None << Rx() << Rx() << 0.0;
}

void TestStatusRates::ratesFromTwoReadings()
{
    QFETCH(Reading, before);
    QFETCH(Reading, now);
    QFETCH(Mark, mark);
    QFETCH(Rx, rx);
    QFETCH(Rx, tx);
    QFETCH(double, seconds);
    const status::Rates rates = status::ratesBetween(&before, now);
    QCOMPARE(rates.mark, mark);
    QCOMPARE(rates.rx[0], rx);
    QCOMPARE(rates.tx[0], tx);
    QCOMPARE(rates.seconds, seconds);
    QCOMPARE(rates.any(), rx.has_value());
}

void TestStatusRates::firstReadingHasNoRates()
{
    const status::Rates first = status::ratesBetween(nullptr, reading(0, kHour, 1, 1));
    QCOMPARE(first.mark, Mark::None);
    QVERIFY(!first.any());
    QCOMPARE(status::ratesBetween(nullptr, unanswered(0)).mark, Mark::NoAnswer);
}

void TestStatusRates::portsWithoutACounterHaveNoRate()
{
    Reading before = reading(0, kHour, 0, 0);
    Reading now = reading(1000, kHour + 100, 10, 20);
    before.counters.rx[2] = 100; // COM3 RX only in the first report
    now.counters.tx[3] = 100;    // COM4 TX only in the second
    const status::Rates rates = status::ratesBetween(&before, now);
    QCOMPARE(rates.rx[0], Rx(10.0));
    QCOMPARE(rates.tx[0], Rx(20.0));
    for (const Rx& r : {rates.rx[1], rates.rx[2], rates.rx[3], rates.tx[1], rates.tx[2], rates.tx[3]})
        QVERIFY(!r);
}

void TestStatusRates::missedReadingLeavesALongerIntervalToTheNext()
{
    status::RateTracker tracker;
    QVERIFY(!tracker.add(reading(0, kHour, 0, 0)).any());
    QCOMPARE(tracker.add(unanswered(2000)).mark, Mark::NoAnswer);
    QCOMPARE(tracker.last()->atMs, 0);
    const status::Rates after = tracker.add(reading(4000, kHour + 400, 8000, 400));
    QCOMPARE(after.mark, Mark::None);
    QCOMPARE(after.seconds, 4.0);
    QCOMPARE(after.rx[0], Rx(2000.0));
    QCOMPARE(after.tx[0], Rx(100.0));
    tracker.reset();
    QVERIFY(!tracker.last());
    QVERIFY(!tracker.add(reading(6000, kHour + 600, 9000, 500)).any());
}

void TestStatusRates::totalsRunOnAcrossWrapsAndStartAgainAfterARestart()
{
    status::RateTracker tracker;
    QVERIFY(!tracker.rxTotal(0));
    tracker.add(reading(0, kHour, 0xFFFFFFF0u, 10));
    QCOMPARE(tracker.rxTotal(0), std::optional<std::uint64_t>(0xFFFFFFF0u));
    tracker.add(reading(1000, kHour + 100, 0x10u, 20)); // wrapped: 0x20 bytes more
    QCOMPARE(tracker.rxTotal(0), std::optional<std::uint64_t>(0x100000010ull));
    tracker.add(unanswered(2000));
    QCOMPARE(tracker.rxTotal(0), std::optional<std::uint64_t>(0x100000010ull));
    tracker.add(reading(3000, kHour + 300, 0x30u, 25));
    QCOMPARE(tracker.rxTotal(0), std::optional<std::uint64_t>(0x100000030ull));
    QCOMPARE(tracker.txTotal(0), std::optional<std::uint64_t>(25));
    // The device started again: its counters count from its start, and so does the total.
    QCOMPARE(tracker.add(reading(4000, 50, 7, 3)).mark, Mark::Restart);
    QCOMPARE(tracker.rxTotal(0), std::optional<std::uint64_t>(7));
    QCOMPARE(tracker.txTotal(0), std::optional<std::uint64_t>(3));
    QVERIFY(!tracker.rxTotal(1));
}

void TestStatusRates::countersAreReadFromTheReportsBytes()
{
    const Bytes items = item(1, {1, 5, 2, 20}) + item(32, le32(9006100)) + item(64, le32(0x12345678)) +
                        item(71, le32(0xFFFFFFFFu)) + item(66, le32(3)) + item(68, le32(256)) + item(96, le32(1000)) +
                        item(64, le32(42)); // a second COM1 RX: the last one counts
    Bytes block(status::kBlockSize, 0);
    std::copy(items.begin(), items.end(), block.begin());
    const status::StatusCounters c = status::readCounters(block);
    QCOMPARE(c.uptime, std::optional<std::uint32_t>(9006100));
    QCOMPARE(c.rx[0], std::optional<std::uint32_t>(42));
    QCOMPARE(c.rx[2], std::optional<std::uint32_t>(3));
    QCOMPARE(c.tx[0], std::optional<std::uint32_t>(256));
    QCOMPARE(c.tx[3], std::optional<std::uint32_t>(0xFFFFFFFFu));
    QVERIFY(!c.rx[1] && !c.rx[3] && !c.tx[1] && !c.tx[2]);
}

void TestStatusRates::countersStopWhereTheReportStops()
{
    // COM1 RX, then an item of length 1 that ends the report: COM2 RX behind it is not read.
    const Bytes items = item(64, le32(5)) + Bytes{200, 1} + item(65, le32(6));
    Bytes block(status::kBlockSize, 0);
    std::copy(items.begin(), items.end(), block.begin());
    const status::StatusCounters c = status::readCounters(block);
    QCOMPARE(c.rx[0], std::optional<std::uint32_t>(5));
    QVERIFY(!c.rx[1]);
    QVERIFY(!c.uptime);
    // A counter item cut by the end of the block reads its bytes beyond as zero, as the report does.
    // Unknown items (type 200) up to the last two bytes, which hold a COM1 TX item of L = 2.
    Bytes cut;
    while (cut.size() < status::kBlockSize - 2) {
        const std::size_t length = std::min<std::size_t>(255, status::kBlockSize - 2 - cut.size());
        cut.push_back(200);
        cut.push_back(static_cast<std::uint8_t>(length));
        cut.resize(cut.size() + length - 2, 0xAA);
    }
    cut.push_back(68);
    cut.push_back(2);
    QCOMPARE(cut.size(), status::kBlockSize);
    QCOMPARE(status::readCounters(cut).tx[0], std::optional<std::uint32_t>(0));
}

void TestStatusRates::axisHasRoundTicksOfOneUnit_data()
{
    QTest::addColumn<double>("largest");
    QTest::addColumn<double>("top");
    QTest::addColumn<double>("step");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("topLabel");
    QTest::newRow("no traffic") << 0.0 << 10.0 << 2.0 << QStringLiteral("B/s") << QStringLiteral("10 B/s");
    QTest::newRow("a trickle") << 3.0 << 10.0 << 2.0 << QStringLiteral("B/s") << QStringLiteral("10 B/s");
    QTest::newRow("1000 B/s reaches the top")
        << 1000.0 << 1000.0 << 200.0 << QStringLiteral("B/s") << QStringLiteral("1000 B/s");
    QTest::newRow("just above a step: the next step, not the next unit")
        << 1001.0 << 1200.0 << 200.0 << QStringLiteral("B/s") << QStringLiteral("1200 B/s");
    QTest::newRow("1.5 KiB/s") << 1536.0 << 1536.0 << 512.0 << QStringLiteral("KiB/s") << QStringLiteral("1.5 KiB/s");
    QTest::newRow("7 KiB/s") << 7168.0 << 8192.0 << 2048.0 << QStringLiteral("KiB/s") << QStringLiteral("8 KiB/s");
    QTest::newRow("300 KiB/s") << 307200.0 << 307200.0 << 102400.0 << QStringLiteral("KiB/s")
                               << QStringLiteral("300 KiB/s");
    QTest::newRow("11.5 MiB/s") << 11.5 * 1048576 << 12.0 * 1048576 << 2.0 * 1048576 << QStringLiteral("MiB/s")
                                << QStringLiteral("12 MiB/s");
    QTest::newRow("not a number") << std::nan("") << 10.0 << 2.0 << QStringLiteral("B/s") << QStringLiteral("10 B/s");
}

void TestStatusRates::axisHasRoundTicksOfOneUnit()
{
    QFETCH(double, largest);
    QFETCH(double, top);
    QFETCH(double, step);
    QFETCH(QString, unit);
    QFETCH(QString, topLabel);
    const status::RateAxis axis = status::rateAxis(largest);
    QVERIFY2(!(axis.top < largest), qPrintable(QString::number(axis.top)));
    const std::vector<double> ticks = axis.ticks();
    QCOMPARE(ticks.front(), 0.0);
    QCOMPARE(ticks.back(), axis.top);
    QVERIFY2(ticks.size() >= 3 && ticks.size() <= 7, qPrintable(QString::number(ticks.size())));
    QCOMPARE(axis.top, top);
    QCOMPARE(axis.step, step);
    QCOMPARE(QString::fromLatin1(axis.unit), unit);
    QCOMPARE(axis.label(axis.top, QLocale::c()), topLabel);
}

void TestStatusRates::axisLabelsFollowTheLocale()
{
    const status::RateAxis axis = status::rateAxis(1536.0); // steps of 0.5 KiB/s
    QCOMPARE(axis.label(512.0, QLocale(QLocale::German, QLocale::Germany)), QStringLiteral("0,5 KiB/s"));
    QCOMPARE(axis.label(512.0, QLocale(QLocale::English, QLocale::UnitedStates)), QStringLiteral("0.5 KiB/s"));
    QCOMPARE(axis.label(0.0, QLocale(QLocale::Korean, QLocale::SouthKorea)), QStringLiteral("0.0 KiB/s"));
    // Digit grouping as the locale writes it.
    QCOMPARE(status::rateAxis(1000.0).label(1000.0, QLocale(QLocale::English, QLocale::UnitedStates)),
             QStringLiteral("1,000 B/s"));
    QCOMPARE(status::rateAxis(1000.0).label(1000.0, QLocale(QLocale::German, QLocale::Germany)),
             QStringLiteral("1.000 B/s"));
}

void TestStatusRates::ratesReadAsThreeDigitFigures_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0 << QStringLiteral("0 B/s");
    QTest::newRow("below one byte") << 0.25 << QStringLiteral("0.3 B/s");
    QTest::newRow("bytes") << 512.4 << QStringLiteral("512 B/s");
    QTest::newRow("just below 1 KiB/s") << 1023.0 << QStringLiteral("1023 B/s");
    QTest::newRow("1 KiB/s") << 1024.0 << QStringLiteral("1.00 KiB/s");
    QTest::newRow("1.5 KiB/s") << 1536.0 << QStringLiteral("1.50 KiB/s");
    QTest::newRow("tens of KiB/s") << 12.34 * 1024 << QStringLiteral("12.3 KiB/s");
    QTest::newRow("hundreds of KiB/s") << 500.0 * 1024 << QStringLiteral("500 KiB/s");
    QTest::newRow("MiB/s") << 2.5 * 1048576 << QStringLiteral("2.50 MiB/s");
}

void TestStatusRates::ratesReadAsThreeDigitFigures()
{
    QFETCH(double, rate);
    QFETCH(QString, text);
    QCOMPARE(status::rateText(rate, QLocale::c()), text);
}

QTEST_GUILESS_MAIN(TestStatusRates)
#include "tst_statusrates.moc"
