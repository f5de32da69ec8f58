#pragma once

#include "status/StatusRates.h"

#include <QWidget>

#include <array>

class QLabel;
class StringTable;
class TimeGraph;

/**
 * The live part of the status dialog: per serial port a graph of its receive and transmit rates over
 * the last minutes, with the current figures beside it, restarts and unanswered readings as marks, and
 * a line saying when the last reading came. It takes the readings the dialog gets and works out the
 * rates itself. A figure the last reading does not give shows as "–", its tooltip saying why (no reading
 * yet, no answer, a restart, a counter the reading lacked); a screen reader hears each figure in its name
 * ("COM1 received: 5.86 KiB/s") and a summary of all ports as the panel's description.
 */
class LiveTrafficPanel final : public QWidget
{
    Q_OBJECT

public:
    static constexpr qint64 kShortestSpanMs = 60 * 1000;
    static constexpr qint64 kLongestSpanMs = 5 * 60 * 1000;

    LiveTrafficPanel(const StringTable& strings, QWidget* parent = nullptr);

    /** Starts a new run of readings: empty graphs, no figures, no rates until the second reading. */
    void startOver();
    /** Takes one reading (its time on a monotonic clock) that arrived at `wallMs` (ms since the epoch). */
    void addReading(const status::Reading& reading, qint64 wallMs);

    TimeGraph* graph(int port) const { return m_graphs[static_cast<std::size_t>(port)]; }
    QLabel* rxFigure(int port) const { return m_rx[static_cast<std::size_t>(port)]; }
    QLabel* txFigure(int port) const { return m_tx[static_cast<std::size_t>(port)]; }
    QLabel* stateLabel() const { return m_state; }
    /** The figures of every port and the device's silence in one line ("COM1 5.86 KiB/s in, 800 B/s out;
     *  …; no answer for 6 s"), as a screen reader hears it. */
    const QString& summary() const { return m_summary; }

    /** Why a port's figure is missing. */
    enum class Missing
    {
        FirstReading, // rates need two readings
        NoAnswer,     // the device did not answer
        Restart,      // the device started again: its counters began anew
        NotReported,  // the reading lacked this counter
    };

    /** The colours of the lines and marks. */
    static QColor rxColor();
    static QColor txColor();
    static QColor restartColor();
    static QColor noAnswerColor();
    /** The marks differ in their lines too, not in colour alone. */
    static Qt::PenStyle restartStyle() { return Qt::DashLine; }
    static Qt::PenStyle noAnswerStyle() { return Qt::DotLine; }

private:
    void buildRow(int port);
    QWidget* buildLegend();
    void lineUp();
    void showFigures(const status::Rates& rates, const status::Reading* reading);
    void showFigure(QLabel* label, bool tx, int port, const std::optional<double>& rate, Missing why);
    void summarize(const status::Rates& rates, const status::Reading& reading);

    const StringTable& m_strings;
    status::RateTracker m_tracker;
    std::array<TimeGraph*, status::kPortCount> m_graphs{};
    std::array<QLabel*, status::kPortCount> m_rx{};
    std::array<QLabel*, status::kPortCount> m_tx{};
    QLabel* m_state = nullptr;
    QString m_summary;
};
