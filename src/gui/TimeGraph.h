#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

/**
 * A small line graph of values over time, drawn with QPainter: a few series, each a line that breaks
 * where a value is missing, vertical marks at moments worth seeing (with a short label), a value axis
 * from 0 with round ticks and a time axis whose labels are clock times in the widget's locale.
 *
 * Times are milliseconds since the epoch. The time axis ends at `now` and reaches back over the points
 * shown, at least the shortest span and at most the longest; older points and marks are dropped. The
 * value axis is made for the largest value shown by a function the owner gives (units, decimals, its
 * own round numbers); the default one counts plain numbers in steps of 1, 2 or 5 times a power of ten.
 */
class TimeGraph final : public QWidget
{
    Q_OBJECT

public:
    /** The value axis: from 0 to `top`, a grid line and label at each tick. */
    struct ValueAxis
    {
        double top = 1.0;
        std::vector<double> ticks;
        std::function<QString(double value, const QLocale& locale)> label;
    };
    using AxisMaker = std::function<ValueAxis(double largest)>;

    explicit TimeGraph(QWidget* parent = nullptr);

    /** Adds a series drawn in `color`; returns its index. */
    int addSeries(const QString& name, const QColor& color);
    /** Adds a point to `series` at `atMs`; no value breaks the line there. */
    void addPoint(int series, qint64 atMs, std::optional<double> value);
    /** Adds a vertical mark at `atMs`: a line in `color` and `style` with `label` at its top (where it
     *  fits without covering the label before it). */
    void addMark(qint64 atMs, const QColor& color, const QString& label, Qt::PenStyle style = Qt::DashLine);
    /** Drops every point and mark. */
    void clear();

    /** The right end of the time axis; points and marks older than the longest span before it go. */
    void setNow(qint64 nowMs);
    void setTimeSpan(qint64 shortestMs, qint64 longestMs);
    void setAxisMaker(AxisMaker maker);

    /** The room left of the plot for the value labels: what they need, or at least `pixels`, so that
     *  graphs stacked one above the other line up. */
    int labelRoom() const;
    void setMinimumLabelRoom(int pixels);

    /** Where the plot lies inside the widget, and where a value at a time is drawn. */
    QRectF plotRect() const;
    QPointF position(qint64 atMs, double value) const;
    /** The time axis as drawn: its start and end. */
    qint64 startMs() const;
    qint64 nowMs() const { return m_nowMs; }
    /** The value axis as drawn, for the largest value shown. */
    ValueAxis valueAxis() const;
    /** The labels drawn along each axis, bottom to top and left to right. */
    QStringList valueLabels() const;
    QStringList timeLabels() const;
    /** The times of the time axis' ticks, left to right: round clock times as far apart as their labels
     *  need to stand side by side. */
    std::vector<qint64> timeTicks() const;
    /** The value of `series` at its last point, if it has one there. */
    std::optional<double> lastValue(int series) const;

    /** A vertical mark: a line in its colour and style with its label at the top. */
    struct Mark
    {
        qint64 atMs;
        QColor color;
        QString label;
        Qt::PenStyle style;
    };
    const std::vector<Mark>& marks() const { return m_marks; }
    /** The labels of the marks as drawn, oldest first: where two would cover each other, the newer one. */
    QStringList shownMarkLabels() const;

    /** A clock time as `locale` writes it in short, with the seconds when `seconds` (they are added to a
     *  short format that leaves them out). */
    static QString clockText(const QLocale& locale, qint64 atMs, bool seconds);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Point
    {
        qint64 atMs;
        std::optional<double> value;
    };
    struct Series
    {
        QString name;
        QColor color;
        std::vector<Point> points;
    };
    void dropOld();
    double largestShown() const;
    qint64 timeStepMs() const;
    QString timeLabel(qint64 atMs) const;
    void drawGrid(QPainter& p, const ValueAxis& axis) const;
    void drawSeries(QPainter& p, const Series& series) const;
    void drawMarks(QPainter& p) const;
    QFont markFont() const;
    /** Where each mark's label starts, in the order of the marks; nothing for a label left out. */
    std::vector<std::optional<double>> markLabelPlaces() const;

    std::vector<Series> m_series;
    std::vector<Mark> m_marks;
    qint64 m_nowMs = 0;
    qint64 m_shortestMs = 60000;
    qint64 m_longestMs = 300000;
    int m_minimumLabelRoom = 0;
    AxisMaker m_axisMaker;
};
