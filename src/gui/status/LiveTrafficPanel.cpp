#include "LiveTrafficPanel.h"

#include "gui/TimeGraph.h"
#include "status/RateFormat.h"
#include "text/StringTable.h"

#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int kStrRestart = 1253;
constexpr int kStrNoAnswer = 1254;
constexpr int kStrTitle = 1255;
constexpr int kStrGraphName = 1256;
constexpr int kStrReadAt = 1257;
constexpr int kStrNoAnswerAt = 1258;
constexpr int kStrReceived = 1259;
constexpr int kStrSent = 1260;
constexpr int kStrGraphsName = 1263;
constexpr int kStrReceivedFigure = 2140;
constexpr int kStrSentFigure = 2141;
constexpr int kStrMissingFirst = 2142;
constexpr int kStrMissingNoAnswer = 2143;
constexpr int kStrMissingRestart = 2144;
constexpr int kStrMissingNotReported = 2145;
constexpr int kStrNoFigure = 2146;
constexpr int kStrNoFigureExplained = 2147;
constexpr int kStrPortSummary = 2148;
constexpr int kStrNoAnswerFor = 2149;
const QString kNoFigure = QStringLiteral("–");

int missingText(LiveTrafficPanel::Missing why)
{
    switch (why) {
    case LiveTrafficPanel::Missing::FirstReading:
        return kStrMissingFirst;
    case LiveTrafficPanel::Missing::NoAnswer:
        return kStrMissingNoAnswer;
    case LiveTrafficPanel::Missing::Restart:
        return kStrMissingRestart;
    case LiveTrafficPanel::Missing::NotReported:
        break;
    }
    return kStrMissingNotReported;
}

/** The byte-rate axis in the graph's terms. */
TimeGraph::ValueAxis byteRateAxis(double largest)
{
    const status::RateAxis rates = status::rateAxis(largest);
    TimeGraph::ValueAxis axis;
    axis.top = rates.top;
    axis.ticks = rates.ticks();
    axis.label = [rates](double value, const QLocale& locale) { return rates.label(value, locale); };
    return axis;
}

QString portName(int port)
{
    return QStringLiteral("COM%1").arg(port + 1);
}

/** A coloured swatch (a square, or a line for the marks) and a text, as the legend and the figures show them. */
QString swatch(const QColor& color, const QString& text, const char* glyph = "&#9632;")
{
    return QStringLiteral("<span style=\"color:%1\">%2</span>&nbsp;%3")
        .arg(color.name(), QLatin1String(glyph), text.toHtmlEscaped());
}
} // namespace

LiveTrafficPanel::LiveTrafficPanel(const StringTable& strings, QWidget* parent) : QWidget(parent), m_strings(strings)
{
    setObjectName(QStringLiteral("liveTrafficPanel"));
    setAccessibleName(m_strings.text(kStrGraphsName));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* title = new QLabel(m_strings.text(kStrTitle), this);
    title->setObjectName(QStringLiteral("liveTitleLabel"));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    auto* top = new QHBoxLayout;
    top->addWidget(title);
    top->addStretch(1);
    top->addWidget(buildLegend());
    layout->addLayout(top);
    auto* rows = new QGridLayout;
    rows->setColumnStretch(1, 1);
    layout->addLayout(rows, 1);
    for (int port = 0; port < status::kPortCount; ++port) {
        buildRow(port);
        auto* name = new QLabel(portName(port), this);
        name->setObjectName(QStringLiteral("com%1GraphLabel").arg(port + 1));
        name->setBuddy(m_graphs[static_cast<std::size_t>(port)]);
        auto* figures = new QVBoxLayout;
        figures->addStretch(1);
        figures->addWidget(m_rx[static_cast<std::size_t>(port)]);
        figures->addWidget(m_tx[static_cast<std::size_t>(port)]);
        figures->addStretch(1);
        rows->addWidget(name, port, 0, Qt::AlignTop);
        rows->addWidget(m_graphs[static_cast<std::size_t>(port)], port, 1);
        rows->addLayout(figures, port, 2);
        rows->setRowStretch(port, 1);
    }
    m_state = new QLabel(this);
    m_state->setObjectName(QStringLiteral("liveStateLabel"));
    layout->addWidget(m_state);
    startOver();
}

void LiveTrafficPanel::buildRow(int port)
{
    const auto i = static_cast<std::size_t>(port);
    auto* graph = new TimeGraph(this);
    graph->setObjectName(QStringLiteral("com%1Graph").arg(port + 1));
    graph->setAccessibleName(m_strings.text(kStrGraphName).arg(portName(port)));
    graph->setTimeSpan(kShortestSpanMs, kLongestSpanMs);
    graph->setAxisMaker(byteRateAxis);
    graph->addSeries(QStringLiteral("RX"), rxColor());
    graph->addSeries(QStringLiteral("TX"), txColor());
    m_graphs[i] = graph;
    // Wide enough for the widest figure, its swatch, digit grouping and unit included ("TX ■ 1,023 KiB/s").
    int width = 0;
    for (const char* widest : {"TX \u25A0 1,023 KiB/s", "RX \u25A0 1,023 MiB/s", "TX \u25A0 1,023 GiB/s"})
        width = std::max(width, fontMetrics().horizontalAdvance(QString::fromUtf8(widest)));
    width += fontMetrics().averageCharWidth() * 2;
    for (const bool tx : {false, true}) {
        auto* label = new QLabel(this);
        label->setObjectName(
            QStringLiteral("com%1%2RateLabel").arg(port + 1).arg(tx ? QStringLiteral("Tx") : QStringLiteral("Rx")));
        label->setAccessibleName(m_strings.text(tx ? kStrSent : kStrReceived).arg(portName(port)));
        label->setTextFormat(Qt::RichText);
        label->setMinimumWidth(width);
        (tx ? m_tx : m_rx)[i] = label;
    }
}

QWidget* LiveTrafficPanel::buildLegend()
{
    auto* legend = new QLabel(this);
    legend->setObjectName(QStringLiteral("liveLegendLabel"));
    legend->setTextFormat(Qt::RichText);
    legend->setText(QStringList{swatch(rxColor(), QStringLiteral("RX")), swatch(txColor(), QStringLiteral("TX")),
                                swatch(restartColor(), m_strings.text(kStrRestart), "<b>&#9550;</b>"),
                                swatch(noAnswerColor(), m_strings.text(kStrNoAnswer), "<b>&#9482;</b>"),
                                kNoFigure + QStringLiteral("&nbsp;") + m_strings.text(kStrNoFigure).toHtmlEscaped()}
                        .join(QStringLiteral("&nbsp;&nbsp;&nbsp;")));
    legend->setAccessibleName(QStringLiteral("RX, TX, %1, %2, %3 %4")
                                  .arg(m_strings.text(kStrRestart), m_strings.text(kStrNoAnswer), kNoFigure,
                                       m_strings.text(kStrNoFigure)));
    legend->setToolTip(m_strings.text(kStrNoFigureExplained));
    legend->setAccessibleDescription(m_strings.text(kStrNoFigureExplained));
    return legend;
}

void LiveTrafficPanel::startOver()
{
    m_tracker.reset();
    for (TimeGraph* graph : m_graphs) {
        graph->clear();
        graph->setNow(QDateTime::currentMSecsSinceEpoch());
    }
    showFigures(status::Rates{}, nullptr);
    lineUp();
    m_state->clear();
    m_state->setAccessibleDescription({});
    m_summary.clear();
    setAccessibleDescription({});
}

void LiveTrafficPanel::addReading(const status::Reading& reading, qint64 wallMs)
{
    const status::Rates rates = m_tracker.add(reading);
    for (int port = 0; port < status::kPortCount; ++port) {
        TimeGraph* graph = m_graphs[static_cast<std::size_t>(port)];
        graph->setNow(wallMs);
        if (rates.mark == status::Mark::Restart)
            graph->addMark(wallMs, restartColor(), m_strings.text(kStrRestart), restartStyle());
        else if (rates.mark == status::Mark::NoAnswer)
            graph->addMark(wallMs, noAnswerColor(), m_strings.text(kStrNoAnswer), noAnswerStyle());
        graph->addPoint(0, wallMs, rates.rx[static_cast<std::size_t>(port)]);
        graph->addPoint(1, wallMs, rates.tx[static_cast<std::size_t>(port)]);
    }
    lineUp();
    // Each figure is the last reading's: one the reading does not give shows as missing, not as it was.
    showFigures(rates, &reading);
    const QString time = TimeGraph::clockText(locale(), wallMs, true);
    m_state->setText(m_strings.text(reading.answered ? kStrReadAt : kStrNoAnswerAt).arg(time));
    summarize(rates, reading);
}

void LiveTrafficPanel::summarize(const status::Rates& rates, const status::Reading& reading)
{
    const QLocale here = locale();
    const auto said = [&here](const std::optional<double>& rate) {
        return rate ? status::rateText(*rate, here) : kNoFigure;
    };
    QStringList parts;
    for (std::size_t port = 0; port < m_rx.size(); ++port) {
        parts << m_strings.text(kStrPortSummary)
                     .arg(portName(static_cast<int>(port)), said(rates.rx[port]), said(rates.tx[port]));
    }
    if (!reading.answered) {
        const std::optional<status::Reading>& last = m_tracker.last();
        parts << (last ? m_strings.text(kStrNoAnswerFor).arg(std::max<qint64>(0, (reading.atMs - last->atMs) / 1000))
                       : m_strings.text(kStrNoAnswer));
    }
    m_summary = parts.join(QStringLiteral("; "));
    setAccessibleDescription(m_summary);
    m_state->setAccessibleDescription(m_summary);
}

void LiveTrafficPanel::lineUp()
{
    // The plots of the four ports start at one x, whatever each one's labels need.
    int room = 0;
    for (TimeGraph* graph : m_graphs) {
        graph->setMinimumLabelRoom(0);
        room = std::max(room, graph->labelRoom());
    }
    for (TimeGraph* graph : m_graphs)
        graph->setMinimumLabelRoom(room);
}

void LiveTrafficPanel::showFigures(const status::Rates& rates, const status::Reading* reading)
{
    for (std::size_t port = 0; port < m_rx.size(); ++port) {
        for (const bool tx : {false, true}) {
            Missing why = Missing::FirstReading;
            if (reading && !reading->answered)
                why = Missing::NoAnswer;
            else if (rates.mark == status::Mark::Restart)
                why = Missing::Restart;
            else if (reading && !(tx ? reading->counters.tx[port] : reading->counters.rx[port]))
                why = Missing::NotReported;
            showFigure((tx ? m_tx : m_rx)[port], tx, static_cast<int>(port), (tx ? rates.tx : rates.rx)[port], why);
        }
    }
}

void LiveTrafficPanel::showFigure(QLabel* label, bool tx, int port, const std::optional<double>& rate, Missing why)
{
    const QString figure = rate ? status::rateText(*rate, locale()) : kNoFigure;
    const QString reason = rate ? QString() : m_strings.text(missingText(why));
    label->setText((tx ? QStringLiteral("TX ") : QStringLiteral("RX ")) + swatch(tx ? txColor() : rxColor(), figure));
    label->setToolTip(reason);
    label->setAccessibleName(
        m_strings.text(tx ? kStrSentFigure : kStrReceivedFigure).arg(portName(port), rate ? figure : reason));
}

QColor LiveTrafficPanel::rxColor()
{
    return QColor(0x1f, 0x77, 0xb4); // blue
}

QColor LiveTrafficPanel::txColor()
{
    return QColor(0xe6, 0x7e, 0x0e); // orange: told apart from blue also by the colour-blind
}

QColor LiveTrafficPanel::restartColor()
{
    return QColor(0x80, 0x3c, 0xb0); // purple
}

QColor LiveTrafficPanel::noAnswerColor()
{
    return QColor(0xd0, 0x20, 0x20); // red
}
