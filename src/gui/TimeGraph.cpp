#include "TimeGraph.h"

#include <QDateTime>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>
#include <cmath>

namespace {
constexpr int kPad = 4;
constexpr int kMostTimeTicks = 6;
constexpr std::array<qint64, 9> kTimeSteps = {5000, 10000, 15000, 30000, 60000, 120000, 300000, 600000, 1800000};
constexpr qreal kLineWidth = 2.0;
constexpr qreal kDotRadius = 2.5;

/** Plain numbers from 0 in steps of 1, 2 or 5 times a power of ten, about four of them. */
TimeGraph::ValueAxis plainAxis(double largest)
{
    TimeGraph::ValueAxis axis;
    if (!(largest > 0.0))
        largest = 1.0;
    const double raw = largest / 4.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double mantissa = raw / power;
    const double step = (mantissa < 1.5 ? 1.0 : mantissa < 3.5 ? 2.0 : mantissa < 7.5 ? 5.0 : 10.0) * power;
    const int count = static_cast<int>(std::ceil(largest / step - 1e-9));
    axis.top = step * count;
    for (int i = 0; i <= count; ++i)
        axis.ticks.push_back(step * i);
    const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    axis.label = [decimals](double value, const QLocale& locale) { return locale.toString(value, 'f', decimals); };
    return axis;
}
} // namespace

TimeGraph::TimeGraph(QWidget* parent) : QWidget(parent), m_axisMaker(plainAxis)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

int TimeGraph::addSeries(const QString& name, const QColor& color)
{
    m_series.push_back(Series{name, color, {}});
    update();
    return static_cast<int>(m_series.size()) - 1;
}

void TimeGraph::addPoint(int series, qint64 atMs, std::optional<double> value)
{
    if (series < 0 || series >= static_cast<int>(m_series.size()))
        return;
    m_series[static_cast<std::size_t>(series)].points.push_back(Point{atMs, value});
    update();
}

void TimeGraph::addMark(qint64 atMs, const QColor& color, const QString& label, Qt::PenStyle style)
{
    m_marks.push_back(Mark{atMs, color, label, style});
    update();
}

void TimeGraph::clear()
{
    for (Series& s : m_series)
        s.points.clear();
    m_marks.clear();
    update();
}

void TimeGraph::setNow(qint64 nowMs)
{
    m_nowMs = nowMs;
    dropOld();
    update();
}

void TimeGraph::setTimeSpan(qint64 shortestMs, qint64 longestMs)
{
    m_shortestMs = std::max<qint64>(1000, shortestMs);
    m_longestMs = std::max(m_shortestMs, longestMs);
    dropOld();
    update();
}

void TimeGraph::setAxisMaker(AxisMaker maker)
{
    m_axisMaker = maker ? std::move(maker) : AxisMaker(plainAxis);
    update();
}

void TimeGraph::dropOld()
{
    // One point before the axis starts stays, so the line still enters from the left edge.
    const qint64 oldest = m_nowMs - m_longestMs;
    for (Series& s : m_series) {
        auto firstKept =
            std::find_if(s.points.begin(), s.points.end(), [&](const Point& p) { return p.atMs >= oldest; });
        if (firstKept != s.points.begin())
            --firstKept;
        s.points.erase(s.points.begin(), firstKept);
    }
    std::erase_if(m_marks, [&](const Mark& m) { return m.atMs < oldest; });
}

qint64 TimeGraph::startMs() const
{
    qint64 oldest = m_nowMs;
    for (const Series& s : m_series) {
        if (!s.points.empty())
            oldest = std::min(oldest, s.points.front().atMs);
    }
    for (const Mark& m : m_marks)
        oldest = std::min(oldest, m.atMs);
    return m_nowMs - std::clamp(m_nowMs - oldest, m_shortestMs, m_longestMs);
}

double TimeGraph::largestShown() const
{
    const qint64 start = startMs();
    double largest = 0.0;
    for (const Series& s : m_series) {
        for (const Point& p : s.points) {
            if (p.value && p.atMs >= start && *p.value > largest)
                largest = *p.value;
        }
    }
    return largest;
}

TimeGraph::ValueAxis TimeGraph::valueAxis() const
{
    ValueAxis axis = m_axisMaker(largestShown());
    if (!(axis.top > 0.0))
        axis.top = 1.0;
    return axis;
}

QStringList TimeGraph::valueLabels() const
{
    const ValueAxis axis = valueAxis();
    QStringList labels;
    for (const double tick : axis.ticks)
        labels << (axis.label ? axis.label(tick, locale()) : locale().toString(tick));
    return labels; // every tick's, also those drawn without their label where ticks stand close
}

qint64 TimeGraph::timeStepMs() const
{
    // The smallest round step whose labels fit side by side under the plot, and not too many of them.
    const qint64 span = m_nowMs - startMs();
    const double width = plotRect().width();
    for (const qint64 step : kTimeSteps) {
        const qint64 count = span / step + 1;
        const int label = fontMetrics().horizontalAdvance(clockText(locale(), m_nowMs, step < 60000)) + 4 * kPad;
        if (count <= kMostTimeTicks + 1 && count * label <= width)
            return step;
    }
    return kTimeSteps.back();
}

std::vector<qint64> TimeGraph::timeTicks() const
{
    // Round clock times: multiples of the step in local time.
    const qint64 step = timeStepMs();
    const qint64 start = startMs();
    const qint64 offsetMs = QDateTime::fromMSecsSinceEpoch(m_nowMs).offsetFromUtc() * qint64(1000);
    qint64 tick = (start + offsetMs + step - 1) / step * step - offsetMs;
    if (tick + offsetMs < 0)
        tick = start; // before 1970 only in tests that do not care
    std::vector<qint64> ticks;
    for (; tick <= m_nowMs; tick += step)
        ticks.push_back(tick);
    return ticks;
}

QString TimeGraph::clockText(const QLocale& locale, qint64 atMs, bool seconds)
{
    QString format = locale.timeFormat(QLocale::ShortFormat);
    if (seconds && !format.contains(QLatin1Char('s'))) {
        const qsizetype minutes = format.lastIndexOf(QLatin1Char('m'));
        if (minutes >= 0)
            format.insert(minutes + 1, QStringLiteral(":ss"));
    }
    return locale.toString(QDateTime::fromMSecsSinceEpoch(atMs).time(), format);
}

QString TimeGraph::timeLabel(qint64 atMs) const
{
    // Ticks less than a minute apart need the seconds, which a short time format leaves out.
    return clockText(locale(), atMs, timeStepMs() < 60000);
}

QStringList TimeGraph::timeLabels() const
{
    QStringList labels;
    for (const qint64 tick : timeTicks())
        labels << timeLabel(tick);
    return labels;
}

std::optional<double> TimeGraph::lastValue(int series) const
{
    if (series < 0 || series >= static_cast<int>(m_series.size()))
        return std::nullopt;
    const std::vector<Point>& points = m_series[static_cast<std::size_t>(series)].points;
    return points.empty() ? std::nullopt : points.back().value;
}

int TimeGraph::labelRoom() const
{
    int widest = 0;
    for (const QString& label : valueLabels())
        widest = std::max(widest, fontMetrics().horizontalAdvance(label));
    // Also half a time label, as the first one stands centred under the plot's left edge.
    const int halfTime = fontMetrics().horizontalAdvance(clockText(locale(), m_nowMs, true)) / 2 + kPad;
    return std::max({widest + 2 * kPad, halfTime, m_minimumLabelRoom});
}

void TimeGraph::setMinimumLabelRoom(int pixels)
{
    m_minimumLabelRoom = pixels;
    updateGeometry();
    update();
}

QRectF TimeGraph::plotRect() const
{
    const QFontMetrics fm = fontMetrics();
    const int top = fm.height() / 2 + kPad;
    const int right = fm.horizontalAdvance(clockText(locale(), m_nowMs, true)) / 2 + kPad;
    const int bottom = fm.height() + 2 * kPad;
    const int left = labelRoom();
    return QRectF(left, top, std::max(1, width() - left - right), std::max(1, height() - top - bottom));
}

QPointF TimeGraph::position(qint64 atMs, double value) const
{
    const QRectF plot = plotRect();
    const qint64 start = startMs();
    const double span = static_cast<double>(std::max<qint64>(1, m_nowMs - start));
    const double top = valueAxis().top;
    return QPointF(plot.left() + static_cast<double>(atMs - start) / span * plot.width(),
                   plot.bottom() - value / top * plot.height());
}

QSize TimeGraph::sizeHint() const
{
    return QSize(fontMetrics().averageCharWidth() * 76, fontMetrics().height() * 7);
}

QSize TimeGraph::minimumSizeHint() const
{
    // Room for the value labels and for three time labels with seconds side by side, the fewest that
    // still tell the time across the shortest span.
    const int timeLabel = fontMetrics().horizontalAdvance(clockText(locale(), m_nowMs, true)) + 4 * kPad;
    const int right = timeLabel / 2;
    return QSize(std::max(labelRoom() + 3 * timeLabel + right, fontMetrics().averageCharWidth() * 36),
                 fontMetrics().height() * 5);
}

void TimeGraph::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    p.fillRect(plotRect(), palette().base());
    const ValueAxis axis = valueAxis();
    drawGrid(p, axis);
    p.save();
    p.setClipRect(plotRect().adjusted(-kLineWidth, -kLineWidth, kLineWidth, kLineWidth));
    p.setRenderHint(QPainter::Antialiasing);
    drawMarks(p);
    for (const Series& s : m_series)
        drawSeries(p, s);
    p.restore();
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(plotRect());
}

void TimeGraph::drawGrid(QPainter& p, const ValueAxis& axis) const
{
    const QRectF plot = plotRect();
    const QFontMetrics fm = fontMetrics();
    const QColor grid = palette().color(QPalette::Midlight);
    const QColor text = palette().color(QPalette::WindowText);
    // Where the ticks stand closer than a line of text, only every so many carries its label.
    const double spacing = axis.ticks.size() > 1 ? plot.height() / double(axis.ticks.size() - 1) : plot.height();
    const auto every = static_cast<std::size_t>(std::max(1.0, std::ceil(fm.height() * 1.1 / spacing)));
    for (std::size_t i = 0; i < axis.ticks.size(); ++i) {
        const double tick = axis.ticks[i];
        const double y = plot.bottom() - tick / axis.top * plot.height();
        p.setPen(grid);
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        if (i % every != 0)
            continue;
        p.setPen(text);
        const QString label = axis.label ? axis.label(tick, locale()) : locale().toString(tick);
        p.drawText(QRectF(0, y - fm.height() / 2.0, plot.left() - kPad, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
                   label);
    }
    for (const qint64 tick : timeTicks()) {
        const double x = position(tick, 0).x();
        p.setPen(grid);
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p.setPen(text);
        const QString label = timeLabel(tick);
        const double w = fm.horizontalAdvance(label);
        p.drawText(QRectF(x - w / 2.0, plot.bottom() + kPad, w, fm.height()), Qt::AlignCenter, label);
    }
}

void TimeGraph::drawSeries(QPainter& p, const Series& series) const
{
    p.setPen(QPen(series.color, kLineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath path;
    const std::vector<Point>& points = series.points;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (!points[i].value)
            continue;
        const QPointF at = position(points[i].atMs, *points[i].value);
        const bool joined = i > 0 && points[i - 1].value;
        const bool alone = !joined && (i + 1 == points.size() || !points[i + 1].value);
        if (joined) {
            path.lineTo(at);
        } else {
            path.moveTo(at);
            if (alone) // a single reading between gaps shows as a dot
                path.addEllipse(at, kDotRadius, kDotRadius);
        }
    }
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

void TimeGraph::drawMarks(QPainter& p) const
{
    const QRectF plot = plotRect();
    const QFont small = markFont();
    p.setFont(small);
    const QFontMetricsF fm(small);
    p.setRenderHint(QPainter::Antialiasing, false); // crisp lines, whole pixels
    const std::vector<std::optional<double>> places = markLabelPlaces();
    for (std::size_t i = 0; i < m_marks.size(); ++i) {
        const Mark& m = m_marks[i];
        const double x = std::round(position(m.atMs, 0).x());
        p.setPen(QPen(m.color, 2, m.style, Qt::FlatCap));
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        if (!places[i])
            continue;
        p.setPen(m.color);
        p.drawText(QPointF(*places[i], plot.top() + fm.ascent() + 1), m.label);
    }
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setFont(font());
}

QFont TimeGraph::markFont() const
{
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    return small;
}

std::vector<std::optional<double>> TimeGraph::markLabelPlaces() const
{
    // Each label right of its line, or left of it near the right edge. Where labels would cover each other
    // the newer one stays: a restart after a run of unanswered readings is the one to see.
    const QRectF plot = plotRect();
    const QFontMetricsF fm(markFont());
    std::vector<std::optional<double>> places(m_marks.size());
    std::vector<std::pair<double, double>> taken;
    for (std::size_t i = m_marks.size(); i-- > 0;) {
        const Mark& m = m_marks[i];
        const double x = std::round(position(m.atMs, 0).x());
        const double width = fm.horizontalAdvance(m.label);
        double left = x + 3;
        if (left + width > plot.right())
            left = x - 3 - width;
        const double right = left + width + 4;
        const bool covers = std::any_of(taken.begin(), taken.end(), [&](const std::pair<double, double>& t) {
            return left < t.second && right > t.first;
        });
        if (covers || left < plot.left())
            continue;
        places[i] = left;
        taken.emplace_back(left, right);
    }
    return places;
}

QStringList TimeGraph::shownMarkLabels() const
{
    QStringList shown;
    const std::vector<std::optional<double>> places = markLabelPlaces();
    for (std::size_t i = 0; i < m_marks.size(); ++i) {
        if (places[i])
            shown << m_marks[i].label;
    }
    return shown;
}
