// The time graph of the GUI kit, drawn offscreen: where a known series' line begins and ends in the
// picture, a gap and a mark as they appear, the axes' labels in the widget's locale, and the time axis
// growing with the points shown up to its longest span.
#include "gui/TimeGraph.h"

#include <QDateTime>
#include <QImage>
#include <QtTest>

#include <optional>

using namespace Qt::StringLiterals;

namespace {
const QColor kLine(255, 0, 255); // a colour nothing else in the graph uses
const QColor kMark(0, 160, 0);

/** 14:03:00 today in local time, so clock labels are known. */
qint64 twoPastTwo()
{
    return QDateTime(QDate(2026, 5, 4), QTime(14, 3, 0)).toMSecsSinceEpoch();
}

bool near(QRgb pixel, const QColor& color, int tolerance = 40)
{
    return qAbs(qRed(pixel) - color.red()) <= tolerance && qAbs(qGreen(pixel) - color.green()) <= tolerance &&
           qAbs(qBlue(pixel) - color.blue()) <= tolerance;
}

/** The pixels of `color` in the picture, leftmost and rightmost. */
struct Extent
{
    QPoint left{-1, -1};
    QPoint right{-1, -1};
    int count = 0;
};

Extent extentOf(const QImage& image, const QColor& color)
{
    Extent e;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            if (!near(image.pixel(x, y), color))
                continue;
            if (e.count++ == 0)
                e.left = QPoint(x, y);
            e.right = QPoint(x, y);
        }
    }
    return e;
}

bool anyOf(const QImage& image, const QColor& color, const QRect& area)
{
    for (int x = area.left(); x <= area.right(); ++x) {
        for (int y = area.top(); y <= area.bottom(); ++y) {
            if (near(image.pixel(x, y), color))
                return true;
        }
    }
    return false;
}

/** Locale data writes a narrow or a plain space before "PM": compare them as one. */
QString spaced(QString text)
{
    return text.replace(u'\u202f', u' ');
}

QImage picture(TimeGraph& graph)
{
    return graph.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

/** A graph of 480 x 220 in the English (US) locale, one series in kLine. */
struct Fixture
{
    TimeGraph graph;
    int series = 0;
    Fixture()
    {
        graph.setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        graph.resize(480, 220);
        series = graph.addSeries(QStringLiteral("RX"), kLine);
        graph.setNow(twoPastTwo());
    }
};
} // namespace

class TestTimeGraph : public QObject
{
    Q_OBJECT

private slots:
    void lineRunsFromItsFirstToItsLastPoint();
    void gapBreaksTheLine();
    void markStandsAtItsTime();
    void labelsFollowTheLocale_data();
    void labelsFollowTheLocale();
    void timeAxisGrowsWithThePointsUpToItsLongestSpan();
    void timeLabelsNeverOverlap_data();
    void timeLabelsNeverOverlap();
    void newerMarkKeepsItsLabelWhereTwoWouldCover();
    void minimumSizeHoldsThreeTimeLabels();
};

void TestTimeGraph::lineRunsFromItsFirstToItsLastPoint()
{
    Fixture f;
    const qint64 now = twoPastTwo();
    // 0 a minute ago, 500 half a minute ago, 1000 now: the axis runs 0..1000 in steps of 200.
    f.graph.addPoint(f.series, now - 60000, 0.0);
    f.graph.addPoint(f.series, now - 30000, 500.0);
    f.graph.addPoint(f.series, now, 1000.0);
    QCOMPARE(f.graph.valueAxis().top, 1000.0);
    QCOMPARE(f.graph.startMs(), now - 60000);
    const QRectF plot = f.graph.plotRect();
    QVERIFY(QRectF(f.graph.rect()).contains(plot));
    QVERIFY2(plot.left() > f.graph.fontMetrics().horizontalAdvance(QStringLiteral("1000")),
             "the value labels fit left of the plot");
    const QImage image = picture(f.graph);
    const Extent line = extentOf(image, kLine);
    QVERIFY(line.count > 100);
    // The first point at the bottom-left corner of the plot, the last at its top-right corner.
    const int slack = 3; // half the line's width and its round cap
    QVERIFY2(qAbs(line.left.x() - plot.left()) <= slack && qAbs(line.left.y() - plot.bottom()) <= slack,
             qPrintable(QStringLiteral("starts at %1,%2; plot %3,%4")
                            .arg(line.left.x())
                            .arg(line.left.y())
                            .arg(plot.left())
                            .arg(plot.bottom())));
    QVERIFY2(qAbs(line.right.x() - plot.right()) <= slack && qAbs(line.right.y() - plot.top()) <= slack,
             qPrintable(QStringLiteral("ends at %1,%2; plot %3,%4")
                            .arg(line.right.x())
                            .arg(line.right.y())
                            .arg(plot.right())
                            .arg(plot.top())));
    // The middle point half-way across and half-way up.
    const QPoint middle = plot.center().toPoint();
    QVERIFY(anyOf(image, kLine, QRect(middle - QPoint(2, 2), QSize(5, 5))));
    QCOMPARE(f.graph.lastValue(f.series), std::optional<double>(1000.0));
}

void TestTimeGraph::gapBreaksTheLine()
{
    Fixture f;
    const qint64 now = twoPastTwo();
    f.graph.addPoint(f.series, now - 60000, 200.0); // alone between the start and a gap: a dot
    f.graph.addPoint(f.series, now - 40000, std::nullopt);
    f.graph.addPoint(f.series, now - 20000, 200.0);
    f.graph.addPoint(f.series, now, 200.0);
    const QImage image = picture(f.graph);
    const double y = f.graph.position(now, 200.0).y();
    const double dotX = f.graph.position(now - 60000, 200.0).x();
    const double resumeX = f.graph.position(now - 20000, 200.0).x();
    QVERIFY(anyOf(image, kLine, QRect(QPoint(dotX, y - 2), QSize(4, 5))));
    QVERIFY(!anyOf(image, kLine, QRect(QPoint(dotX + 5, y - 4), QPoint(resumeX - 5, y + 4))));
    QVERIFY(anyOf(image, kLine, QRect(QPoint(resumeX + 5, y - 2), QPoint(f.graph.plotRect().right() - 5, y + 2))));
}

void TestTimeGraph::markStandsAtItsTime()
{
    Fixture f;
    const qint64 now = twoPastTwo();
    f.graph.addPoint(f.series, now - 60000, 0.0);
    f.graph.addMark(now - 15000, kMark, QStringLiteral("R"));
    QCOMPARE(f.graph.marks().size(), std::size_t{1});
    const QImage image = picture(f.graph);
    const QRectF plot = f.graph.plotRect();
    const int x = qRound(plot.left() + 0.75 * plot.width());
    // A dashed line from the top to the bottom of the plot: some of it in every quarter of the height.
    for (int quarter = 0; quarter < 4; ++quarter) {
        const int top = qRound(plot.top() + quarter * plot.height() / 4);
        QVERIFY2(anyOf(image, kMark, QRect(QPoint(x - 1, top), QPoint(x + 1, top + plot.height() / 4))),
                 qPrintable(QString::number(quarter)));
    }
    QVERIFY(!anyOf(image, kMark, QRect(QPoint(plot.left() + 2, plot.top()), QPoint(x - 4, plot.bottom()))));
}

void TestTimeGraph::labelsFollowTheLocale_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("firstTime");
    QTest::addColumn<QString>("lastTime");
    QTest::newRow("English (US)") << QLocale(QLocale::English, QLocale::UnitedStates)
                                  << QStringList{u"0"_s, u"500"_s, u"1,000"_s, u"1,500"_s} << u"2:02:00\u202fPM"_s
                                  << u"2:03:00\u202fPM"_s;
    QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany)
                            << QStringList{u"0"_s, u"500"_s, u"1.000"_s, u"1.500"_s} << u"14:02:00"_s << u"14:03:00"_s;
    QTest::newRow("Korean") << QLocale(QLocale::Korean, QLocale::SouthKorea)
                            << QStringList{u"0"_s, u"500"_s, u"1,000"_s, u"1,500"_s} << u"오후 2:02:00"_s
                            << u"오후 2:03:00"_s;
}

void TestTimeGraph::labelsFollowTheLocale()
{
    QFETCH(QLocale, locale);
    QFETCH(QStringList, values);
    QFETCH(QString, firstTime);
    QFETCH(QString, lastTime);
    Fixture f;
    f.graph.setLocale(locale);
    f.graph.resize(900, 220); // room for a label every 10 s
    const qint64 now = twoPastTwo();
    f.graph.addPoint(f.series, now - 60000, 1400.0);
    f.graph.addPoint(f.series, now, 100.0);
    QCOMPARE(f.graph.valueLabels(), values);
    // A minute shown: a label every 10 s, with seconds, from 14:02:00 to 14:03:00.
    const QStringList times = f.graph.timeLabels();
    QCOMPARE(times.size(), 7);
    QCOMPARE(spaced(times.constFirst()), spaced(firstTime));
    QCOMPARE(spaced(times.constLast()), spaced(lastTime));
}

void TestTimeGraph::timeAxisGrowsWithThePointsUpToItsLongestSpan()
{
    Fixture f;
    f.graph.setTimeSpan(60000, 300000);
    const qint64 now = twoPastTwo();
    f.graph.addMark(now - 30000, kMark, QStringLiteral("R"));
    f.graph.addPoint(f.series, now - 20000, 1.0);
    QCOMPARE(f.graph.startMs(), now - 60000); // the shortest span
    f.graph.setNow(now + 150000);
    QCOMPARE(f.graph.startMs(), now - 30000); // as far back as the oldest mark or point
    f.graph.addPoint(f.series, now + 150000, 2.0);
    f.graph.setNow(now + 400000); // the longest span: the mark is gone
    QCOMPARE(f.graph.startMs(), now + 400000 - 300000);
    QVERIFY(f.graph.marks().empty());
    // Five minutes: a label every minute, without seconds, the last at 14:09.
    QCOMPARE(f.graph.timeLabels().size(), 5);
    QCOMPARE(spaced(f.graph.timeLabels().constLast()), u"2:09 PM"_s);
    QCOMPARE(f.graph.valueAxis().top, 2.0); // the values shown decide the scale
    f.graph.clear();
    QVERIFY(!f.graph.lastValue(f.series));
    QCOMPARE(f.graph.startMs(), now + 400000 - 60000);
}

void TestTimeGraph::timeLabelsNeverOverlap_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("spanS");
    for (const int width : {260, 480, 900}) {
        for (const int span : {60, 300}) {
            QTest::addRow("%d px, %d s", width, span) << width << span;
        }
    }
}

void TestTimeGraph::timeLabelsNeverOverlap()
{
    QFETCH(int, width);
    QFETCH(int, spanS);
    Fixture f;
    f.graph.resize(width, 220);
    const qint64 now = twoPastTwo();
    f.graph.addPoint(f.series, now - spanS * 1000, 1.0);
    f.graph.addPoint(f.series, now, 1.0);
    const std::vector<qint64> ticks = f.graph.timeTicks();
    const QStringList labels = f.graph.timeLabels();
    QCOMPARE(labels.size(), int(ticks.size()));
    QVERIFY2(!ticks.empty() && (width < 400 || ticks.size() >= 3), qPrintable(labels.join(u", "_s)));
    double lastRight = -1e9;
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        const double x = f.graph.position(ticks[i], 0).x();
        const double half = f.graph.fontMetrics().horizontalAdvance(labels[int(i)]) / 2.0;
        QVERIFY2(x - half > lastRight, qPrintable(labels.join(u", "_s)));
        QVERIFY2(x - half >= 0 && x + half <= width, qPrintable(labels.join(u", "_s)));
        lastRight = x + half;
    }
}

void TestTimeGraph::newerMarkKeepsItsLabelWhereTwoWouldCover()
{
    Fixture f;
    f.graph.resize(300, 160);
    const qint64 now = twoPastTwo();
    f.graph.addPoint(f.series, now - 60000, 1.0);
    // Unanswered readings two seconds apart, then the restart that explains them: far too close for
    // three labels, and the restart is the one to read.
    f.graph.addMark(now - 10000, kMark, QStringLiteral("No answer"), Qt::DotLine);
    f.graph.addMark(now - 8000, kMark, QStringLiteral("No answer"), Qt::DotLine);
    f.graph.addMark(now - 6000, kMark, QStringLiteral("Restart"));
    const QStringList shown = f.graph.shownMarkLabels();
    QVERIFY2(shown.contains(u"Restart"_s), qPrintable(shown.join(u", "_s)));
    QVERIFY2(shown.size() < 3, qPrintable(shown.join(u", "_s))); // the older ones yield, none is covered
    // Far apart, every label shows.
    Fixture wide;
    wide.graph.resize(900, 160);
    wide.graph.addPoint(wide.series, now - 60000, 1.0);
    wide.graph.addMark(now - 50000, kMark, QStringLiteral("No answer"), Qt::DotLine);
    wide.graph.addMark(now - 10000, kMark, QStringLiteral("Restart"));
    QCOMPARE(wide.graph.shownMarkLabels(), (QStringList{u"No answer"_s, u"Restart"_s}));
}

void TestTimeGraph::minimumSizeHoldsThreeTimeLabels()
{
    Fixture f;
    const qint64 now = twoPastTwo();
    f.graph.addPoint(f.series, now - 60000, 1.0);
    f.graph.addPoint(f.series, now, 1000.0);
    f.graph.resize(f.graph.minimumSizeHint());
    QVERIFY2(f.graph.timeLabels().size() >= 3, qPrintable(f.graph.timeLabels().join(u", "_s)));
}

QTEST_MAIN(TestTimeGraph)
#include "tst_timegraph.moc"
