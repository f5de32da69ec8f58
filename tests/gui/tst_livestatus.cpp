// The status dialog's live view, offscreen: off at first, every new control named in three languages,
// readings at each interval while the dialog is open (and none after it closed), rates and figures from
// the counters, restarts and unanswered readings as marks with the readings going on; and the settings
// editor feeding it through its own status request against a simulated device with a set rate.
#include "GuiTestSupport.h"

#include "StatusItems.h"
#include "TesselSim.h"
#include "gui/editor/CQorv400Dlg.h"
#include "gui/CMsgDlg.h"
#include "gui/Ipv4AddressEdit.h"
#include "gui/TimeGraph.h"
#include "gui/status/CStatDlg.h"
#include "gui/status/LiveTrafficPanel.h"
#include "status/StatusSource.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextDocument>
#include <QtTest>

#include <deque>
#include <optional>

using namespace Qt::StringLiterals;

namespace {
constexpr std::uint16_t kDevicePort = 52471; // this test's own device port
constexpr std::uint32_t kDeviceAddress = 0x7F000002;

/** A status report with an uptime, COM1 RX and COM2 TX, and `lines` text lines to scroll through. */
QByteArray report(std::uint32_t uptime, std::uint32_t com1Rx, std::uint32_t com2Tx, int lines = 0)
{
    QByteArray items;
    sim::appendU32Item(items, sim::kStatusUptime, uptime);
    sim::appendU32Item(items, sim::kStatusComRx, com1Rx);
    sim::appendU32Item(items, sim::kStatusComTx + 1, com2Tx);
    for (int i = 0; i < lines; ++i)
        sim::appendItem(items, sim::kStatusText, QByteArray("a line of the device's text\r\n"));
    return items;
}

/** Answers each reading with the next report of its queue (nothing: no answer), a little later, as a
 *  device does; remembers when it was asked and what was abandoned. */
class ScriptedSource final : public StatusSource
{
public:
    std::deque<std::optional<QByteArray>> answers;
    std::optional<QByteArray> lastAnswer; // given again when the queue runs dry
    int delayMs = 20;
    std::vector<qint64> askedAtMs;
    int cancelled = 0;

    ScriptedSource() { m_clock.start(); }

    bool requestStatusReading(Reply reply) override
    {
        askedAtMs.push_back(m_clock.elapsed());
        m_pending = std::make_unique<QTimer>();
        m_pending->setSingleShot(true);
        QObject::connect(m_pending.get(), &QTimer::timeout, m_pending.get(), [this, reply] {
            std::optional<QByteArray> answer = lastAnswer;
            if (!answers.empty()) {
                answer = answers.front();
                answers.pop_front();
            }
            std::array<std::uint8_t, status::kBlockSize> block{};
            if (answer)
                std::copy_n(answer->constData(), std::min<qsizetype>(answer->size(), block.size()), block.begin());
            reply(answer.has_value(), block);
        });
        m_pending->start(delayMs);
        return true;
    }

    void cancelStatusReading() override
    {
        ++cancelled;
        m_pending.reset();
    }

    /** A reading was asked for and its answer has not been given. */
    bool pending() const { return m_pending && m_pending->isActive(); }

private:
    QElapsedTimer m_clock;
    std::unique_ptr<QTimer> m_pending;
};

QString labelText(const QWidget& parent, const QString& name)
{
    const auto* label = parent.findChild<QLabel*>(name);
    return label ? label->text() : u"<no %1>"_s.arg(name);
}

/** Puts `items` at the start of the dialog's status data, as the editor does before it opens it. */
void fill(CStatDlg& dialog, const QByteArray& items)
{
    dialog.statusData().fill(0);
    std::copy(items.begin(), items.end(), dialog.statusData().begin());
}
} // namespace

class TestLiveStatus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void liveStartsOffAndEveryNewControlIsNamed_data();
    void liveStartsOffAndEveryNewControlIsNamed();
    void readsAtEachIntervalWhileOpenAndShowsTheRates();
    void restartAndUnansweredReadingAreMarksAndReadingGoesOn();
    void closingAbandonsTheReadingUnderWay();
    void panelDrawsFiveMinutesOfKnownTraffic();
    void editorFeedsTheLiveViewWithoutProgressWindow();
    void screenReaderHearsEachFigureAndASummary();
    void aMissingFigureSaysWhyAndNeverShowsAnOldOne();
    void legendExplainsTheDash();
    void atTheMinimumSizeUnitsAndTimeLabelsStay();
    void tickingLiveAgainKeepsTheSizeTheUserChose();

private:
    QTemporaryDir m_profileDir;
};

void TestLiveStatus::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
}

void TestLiveStatus::liveStartsOffAndEveryNewControlIsNamed_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("live");
    QTest::addColumn<QStringList>("intervals");
    QTest::newRow("English") << int(UiLanguage::English) << u"&Live"_s
                             << QStringList{u"1 s"_s, u"2 s"_s, u"5 s"_s, u"10 s"_s};
    QTest::newRow("Korean") << int(UiLanguage::Korean) << u"실시간(&L)"_s
                            << QStringList{u"1초"_s, u"2초"_s, u"5초"_s, u"10초"_s};
    QTest::newRow("Chinese") << int(UiLanguage::Chinese) << u"实时(&L)"_s
                             << QStringList{u"1 秒"_s, u"2 秒"_s, u"5 秒"_s, u"10 秒"_s};
}

void TestLiveStatus::liveStartsOffAndEveryNewControlIsNamed()
{
    QFETCH(int, language);
    QFETCH(QString, live);
    QFETCH(QStringList, intervals);
    guitest::Services services(static_cast<UiLanguage>(language));
    CStatDlg dialog(services.context());
    auto* check = dialog.findChild<QCheckBox*>(u"liveCheckBox"_s);
    auto* combo = dialog.findChild<QComboBox*>(u"liveIntervalCombo"_s);
    QVERIFY(check && combo);
    QVERIFY(!check->isChecked());
    QCOMPARE(check->text(), live);
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i)
        entries << combo->itemText(i);
    QCOMPARE(entries, intervals);
    QCOMPARE(combo->currentIndex(), 1); // 2 s
    QCOMPARE(dialog.intervalMs(), 2000);
    dialog.show();
    QVERIFY(!dialog.livePanel().isVisible());
    // Every control the live view adds has an object name and an accessible name in the language.
    QStringList names = {u"liveCheckBox"_s, u"liveIntervalCombo"_s, u"liveTrafficPanel"_s, u"liveLegendLabel"_s};
    for (int port = 1; port <= 4; ++port)
        names << u"com%1Graph"_s.arg(port) << u"com%1RxRateLabel"_s.arg(port) << u"com%1TxRateLabel"_s.arg(port);
    for (const QString& name : names) {
        const auto* widget = dialog.findChild<QWidget*>(name);
        QVERIFY2(widget, qPrintable(name));
        // What a screen reader says: a caption's key in parentheses stays out of it.
        const QString said =
            QAccessible::queryAccessibleInterface(const_cast<QWidget*>(widget))->text(QAccessible::Name);
        QVERIFY2(!said.isEmpty(), qPrintable(name));
        QVERIFY2(!said.contains(u'&') && !said.contains(u"(L)"_s), qPrintable(said));
        if (language != int(UiLanguage::English) && name.endsWith(u"Graph"_s))
            QVERIFY2(!said.contains(u"traffic"_s), qPrintable(said));
    }
    QVERIFY(!check->accessibleDescription().isEmpty());
}

void TestLiveStatus::readsAtEachIntervalWhileOpenAndShowsTheRates()
{
    guitest::Services services;
    CStatDlg dialog(services.context());
    ScriptedSource source;
    dialog.setStatusSource(&source);
    // A reading each second: 2000 bytes more on COM1 RX, 512 on COM2 TX, a second more uptime.
    for (std::uint32_t n = 1; n <= 6; ++n)
        source.answers.push_back(report(360000 + 100 * n, 10000 + 2000 * n, 512 * n, 40));
    fill(dialog, report(360000, 10000, 0, 40));
    dialog.findChild<QComboBox*>(u"liveIntervalCombo"_s)->setCurrentIndex(0); // 1 s
    dialog.findChild<QCheckBox*>(u"liveCheckBox"_s)->setChecked(true);
    auto* text = dialog.findChild<QPlainTextEdit*>(u"textBox"_s);
    int scrolledTo = -1;
    auto watch = guitest::whenShown<CStatDlg>([&](CStatDlg*) {
        QVERIFY(dialog.livePanel().isVisible());
        text->verticalScrollBar()->setValue(text->verticalScrollBar()->maximum() / 2);
        scrolledTo = text->verticalScrollBar()->value();
        QTRY_VERIFY_WITH_TIMEOUT(source.askedAtMs.size() >= 3, 8000);
        QTRY_VERIFY(source.answers.size() <= 3); // the third answer arrived
        dialog.accept();
    });
    dialog.exec();
    QVERIFY(scrolledTo > 0);
    // The first reading was the opening's report; the next ones came a second apart.
    for (std::size_t i = 1; i < source.askedAtMs.size(); ++i) {
        const qint64 gap = source.askedAtMs[i] - source.askedAtMs[i - 1];
        QVERIFY2(gap >= 900 && gap < 2500, qPrintable(QString::number(gap)));
    }
    const QString com1Rx = labelText(dialog, u"com1RxRateLabel"_s);
    QVERIFY2(com1Rx.contains(u"1.95 KiB/s"_s), qPrintable(com1Rx)); // 2000 B/s
    QVERIFY2(labelText(dialog, u"com2TxRateLabel"_s).contains(u"512 B/s"_s),
             qPrintable(labelText(dialog, u"com2TxRateLabel"_s)));
    QVERIFY(labelText(dialog, u"com3RxRateLabel"_s).contains(u"–"_s)); // no counter, no rate
    QCOMPARE(dialog.livePanel().graph(0)->lastValue(0), std::optional<double>(2000.0));
    // The fields follow the last answer; the text box stayed where it was scrolled.
    QCOMPARE(dialog.fields()[status::Field::Com1Rx], QString::number(10000 + 2000 * (6 - source.answers.size())));
    QCOMPARE(text->verticalScrollBar()->value(), scrolledTo);
    // Closed: no more readings, as nothing is left to ask for one: the interval's timer stopped and no
    // reading underway.
    const auto* liveTimer = dialog.findChild<QTimer*>(u"liveTimer"_s);
    QVERIFY(liveTimer);
    QVERIFY(!liveTimer->isActive());
    QVERIFY(!source.pending());
}

void TestLiveStatus::restartAndUnansweredReadingAreMarksAndReadingGoesOn()
{
    guitest::Services services;
    CStatDlg dialog(services.context());
    ScriptedSource source;
    dialog.setStatusSource(&source);
    source.answers = {report(360100, 3000, 0), std::nullopt, report(50, 10, 0), report(150, 1034, 0)};
    source.lastAnswer = report(150, 1034, 0);
    fill(dialog, report(360000, 1000, 0));
    dialog.findChild<QComboBox*>(u"liveIntervalCombo"_s)->setCurrentIndex(0);
    dialog.findChild<QCheckBox*>(u"liveCheckBox"_s)->setChecked(true);
    QStringList states;
    auto watch = guitest::whenShown<CStatDlg>([&](CStatDlg*) {
        // Each answer is shown as it is taken from the queue; note what the state line says after each.
        for (std::size_t taken = 1; taken <= 4; ++taken) {
            QTRY_VERIFY_WITH_TIMEOUT(source.answers.size() <= 4 - taken, 6000);
            states << dialog.livePanel().stateLabel()->text();
        }
        dialog.accept();
    });
    dialog.exec();
    const TimeGraph* graph = dialog.livePanel().graph(0);
    QCOMPARE(graph->marks().size(), std::size_t{2});
    QCOMPARE(graph->marks()[0].label, u"No answer"_s);
    QCOMPARE(graph->marks()[0].color, LiveTrafficPanel::noAnswerColor());
    QCOMPARE(graph->marks()[1].label, u"Restart"_s);
    QCOMPARE(graph->marks()[1].color, LiveTrafficPanel::restartColor());
    QVERIFY2(states.value(1).startsWith(u"No answer at "_s), qPrintable(states.join(u" | "_s)));
    QVERIFY2(states.value(3).startsWith(u"Read at "_s), qPrintable(states.join(u" | "_s)));
    // After the restart the rates start again: 1024 bytes in one second of the device's time.
    QCOMPARE(graph->lastValue(0), std::optional<double>(1024.0));
    QVERIFY(labelText(dialog, u"com1RxRateLabel"_s).contains(u"1.00 KiB/s"_s));
}

void TestLiveStatus::closingAbandonsTheReadingUnderWay()
{
    guitest::Services services;
    CStatDlg dialog(services.context());
    ScriptedSource source;
    source.delayMs = 3000;
    source.lastAnswer = report(1, 1, 1);
    dialog.setStatusSource(&source);
    fill(dialog, report(360000, 1000, 0));
    auto watch = guitest::whenShown<CStatDlg>([&](CStatDlg*) {
        // Ticked while open: what the fields show may be old, so a reading goes out at once.
        guitest::clickCheckBox(dialog.findChild<QCheckBox*>(u"liveCheckBox"_s));
        QCOMPARE(source.askedAtMs.size(), std::size_t{1});
        QVERIFY(dialog.livePanel().isVisible());
        QTest::mouseClick(dialog.findChild<QPushButton*>(u"okButton"_s), Qt::LeftButton);
    });
    dialog.exec();
    QCOMPARE(source.cancelled, 1);
    QVERIFY(!source.pending());
    QVERIFY(!dialog.findChild<QTimer*>(u"liveTimer"_s)->isActive());
    QCOMPARE(source.askedAtMs.size(), std::size_t{1});
    QCOMPARE(dialog.fields()[status::Field::Com1Rx], u"1000"_s);
}

void TestLiveStatus::panelDrawsFiveMinutesOfKnownTraffic()
{
    guitest::Services services;
    LiveTrafficPanel panel(services.strings);
    panel.setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    panel.resize(620, 520);
    const qint64 start = QDateTime(QDate(2026, 5, 4), QTime(14, 0, 0)).toMSecsSinceEpoch();
    // Six minutes of readings every 2 s: COM1 RX at 1500 B/s, then 3000 B/s for the last minute.
    std::uint32_t uptime = 360000;
    std::uint32_t rx = 0;
    for (int i = 0; i <= 180; ++i) {
        const qint64 at = start + 2000 * i;
        status::Reading r{at, true, {}};
        r.counters.uptime = uptime;
        r.counters.rx[0] = rx;
        panel.addReading(r, at);
        uptime += 200;
        rx += i < 150 ? 3000 : 6000;
    }
    const TimeGraph* graph = panel.graph(0);
    QCOMPARE(graph->startMs(), start + 360000 - LiveTrafficPanel::kLongestSpanMs);
    QCOMPARE(graph->lastValue(0), std::optional<double>(3000.0));
    QCOMPARE(graph->valueLabels().constLast(), u"3 KiB/s"_s);
    QVERIFY(labelText(panel, u"com1RxRateLabel"_s).contains(u"2.93 KiB/s"_s));
    const QString directory = qEnvironmentVariable("CORMAP_TEST_PICTURES");
    if (!directory.isEmpty())
        panel.grab().save(directory + u"/live-panel.png"_s);
}

void TestLiveStatus::editorFeedsTheLiveViewWithoutProgressWindow()
{
    NetworkProfile profile = NetworkProfile::loopbackProfile();
    profile.devicePort = kDevicePort;
    guitest::Services services(UiLanguage::English, primary_language::kEnglish, profile);
    TesselSim sim(profile);
    SimDevice device = TesselSim::makeDevice(0, kDeviceAddress);
    sim::SerialTraffic traffic;
    traffic.rates.push_back(sim::CounterRate{sim::kStatusComRx, {3000}, 10000});
    device.traffic = traffic;
    sim.addDevice(device);
    QString error;
    QVERIFY2(sim.start(&error), qPrintable(error));
    CQorv400Dlg editor(services.context(), AdapterBinding{}, device.record, CQorv400Dlg::kModeRemote, kDeviceAddress);
    editor.show();
    QSignalSpy handled(&sim, &TesselSim::requestHandled);
    const auto statusCopies = [&handled] {
        int copies = 0;
        for (const QList<QVariant>& call : handled)
            copies += call.at(1).toInt() == frame::kStatus ? 1 : 0;
        return copies;
    };
    // A field the form would refuse: the user's Status click says so once, the live readings never.
    editor.controls().ipAddress->setText(u"999.1.1.1"_s);
    bool quiet = true;
    QString com1Rx;
    qsizetype messagesWhenShown = -1;
    qsizetype messagesWhenDone = -1;
    auto watch = guitest::whenShown<CStatDlg>([&](CStatDlg* dialog) {
        messagesWhenShown = services.messages.shown().size();
        // While live readings go on, no progress window shows and nothing is disabled.
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, &sampler, [&] {
            quiet = quiet && !editor.messageWindow().isVisible() && editor.isEnabled() && dialog->isEnabled();
        });
        sampler.start(20);
        const int before = statusCopies();
        dialog->findChild<QComboBox*>(u"liveIntervalCombo"_s)->setCurrentIndex(0);
        guitest::clickCheckBox(dialog->findChild<QCheckBox*>(u"liveCheckBox"_s));
        QTRY_VERIFY_WITH_TIMEOUT(statusCopies() >= before + 2 * 3, 8000);
        LiveTrafficPanel& panel = dialog->livePanel();
        QTRY_VERIFY(panel.graph(0)->lastValue(0).has_value());
        QVERIFY(panel.stateLabel()->text().startsWith(u"Read at "_s));
        com1Rx = labelText(panel, u"com1RxRateLabel"_s);
        messagesWhenDone = services.messages.shown().size();
        dialog->accept();
    });
    QTest::mouseClick(editor.findChild<QPushButton*>(u"statusButton"_s), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!editor.requestInFlight() && !editor.statusDialog().isVisible(), 15000);
    QVERIFY(quiet);
    QVERIFY2(com1Rx.contains(u"2.93 KiB/s"_s), qPrintable(com1Rx)); // 3000 B/s, by the device's clock
    QCOMPARE(messagesWhenShown, qsizetype(1));
    QVERIFY2(services.messages.shown().constFirst().text.contains(u"999.1.1.1"_s),
             qPrintable(services.messages.shown().constFirst().text));
    QCOMPARE(messagesWhenDone, messagesWhenShown);
}

namespace {
/** A reading at `atMs` with an uptime and COM1's and COM2's counters (COM2's only when `com2`). */
status::Reading reading(qint64 atMs, std::uint32_t uptime, std::uint32_t com1Rx, std::uint32_t com1Tx, bool com2 = true)
{
    status::Reading r{atMs, true, {}};
    r.counters.uptime = uptime;
    r.counters.rx[0] = com1Rx;
    r.counters.tx[0] = com1Tx;
    if (com2) {
        r.counters.rx[1] = 0;
        r.counters.tx[1] = 0;
    }
    return r;
}

QString said(QWidget* w)
{
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
}
} // namespace

void TestLiveStatus::screenReaderHearsEachFigureAndASummary()
{
    guitest::Services services;
    LiveTrafficPanel panel(services.strings);
    panel.setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    const qint64 start = QDateTime(QDate(2026, 5, 4), QTime(10, 42, 0)).toMSecsSinceEpoch();
    panel.addReading(reading(start, 1000, 0, 0), start);
    // One second of the device's time later: 6000 bytes in and 800 out on COM1.
    panel.addReading(reading(start + 1000, 1100, 6000, 800), start + 1000);
    QCOMPARE(said(panel.rxFigure(0)), u"COM1 received: 5.86 KiB/s"_s);
    QCOMPARE(said(panel.txFigure(0)), u"COM1 sent: 800 B/s"_s);
    QCOMPARE(said(panel.rxFigure(1)), u"COM2 received: 0 B/s"_s);
    const QString summary = u"COM1 5.86 KiB/s in, 800 B/s out; COM2 0 B/s in, 0 B/s out; COM3 – in, – out; "
                            u"COM4 – in, – out"_s;
    QCOMPARE(panel.summary(), summary);
    QCOMPARE(QAccessible::queryAccessibleInterface(&panel)->text(QAccessible::Description), summary);
    QCOMPARE(QAccessible::queryAccessibleInterface(panel.stateLabel())->text(QAccessible::Description), summary);
    // Six seconds without an answer: the summary says so.
    panel.addReading(status::Reading{start + 7000, false, {}}, start + 7000);
    QVERIFY2(panel.summary().endsWith(u"; no answer for 6 s"_s), qPrintable(panel.summary()));
    QVERIFY2(panel.summary().startsWith(u"COM1 – in, – out"_s), qPrintable(panel.summary()));
}

void TestLiveStatus::aMissingFigureSaysWhyAndNeverShowsAnOldOne()
{
    guitest::Services services;
    LiveTrafficPanel panel(services.strings);
    const qint64 start = QDateTime::currentMSecsSinceEpoch();
    const auto figure = [&panel](int port) {
        return std::pair(labelText(panel, u"com%1RxRateLabel"_s.arg(port + 1)), panel.rxFigure(port)->toolTip());
    };
    const QString noFigure = u"–"_s;
    panel.addReading(reading(start, 1000, 0, 0), start);
    QVERIFY(figure(0).first.contains(noFigure));
    QCOMPARE(figure(0).second, u"no figure yet: rates follow from the next reading"_s);
    panel.addReading(reading(start + 1000, 1100, 512, 0), start + 1000);
    QVERIFY(figure(0).first.contains(u"512 B/s"_s));
    QCOMPARE(figure(0).second, QString());
    QVERIFY(figure(1).first.contains(u"0 B/s"_s));
    // The next report lacks COM2: its figure goes, it does not stay as it was.
    panel.addReading(reading(start + 2000, 1200, 1024, 0, false), start + 2000);
    QVERIFY(figure(0).first.contains(u"512 B/s"_s));
    QVERIFY2(figure(1).first.contains(noFigure) && !figure(1).first.contains(u"B/s"_s), qPrintable(figure(1).first));
    QCOMPARE(figure(1).second, u"no figure: the last reading did not report this counter"_s);
    QCOMPARE(said(panel.rxFigure(1)), u"COM2 received: no figure: the last reading did not report this counter"_s);
    // No answer: no figure is current.
    panel.addReading(status::Reading{start + 3000, false, {}}, start + 3000);
    QVERIFY2(figure(0).first.contains(noFigure) && !figure(0).first.contains(u"B/s"_s), qPrintable(figure(0).first));
    QCOMPARE(figure(0).second, u"no figure: the Tessel did not answer"_s);
    // A restart: the counters begin anew, the rates with the reading after.
    panel.addReading(reading(start + 4000, 50, 10, 0), start + 4000);
    QVERIFY(figure(0).first.contains(noFigure));
    QCOMPARE(figure(0).second, u"no figure: the Tessel restarted; rates follow from the next reading"_s);
    // And in the status dialog's fields: a live reading without COM2's counters shows them as missing.
    CStatDlg dialog(services.context());
    ScriptedSource source;
    dialog.setStatusSource(&source);
    QByteArray without;
    sim::appendU32Item(without, sim::kStatusUptime, 360100);
    source.answers = {without};
    source.lastAnswer = without;
    fill(dialog, report(360000, 1000, 512));
    dialog.findChild<QComboBox*>(u"liveIntervalCombo"_s)->setCurrentIndex(0);
    dialog.findChild<QCheckBox*>(u"liveCheckBox"_s)->setChecked(true);
    QString com2Tx;
    auto watch = guitest::whenShown<CStatDlg>([&](CStatDlg*) {
        QCOMPARE(dialog.findChild<QLineEdit*>(u"com2TxEdit"_s)->text(), u"512"_s);
        QTRY_VERIFY_WITH_TIMEOUT(source.answers.empty() && !source.askedAtMs.empty(), 6000);
        QTRY_COMPARE(dialog.findChild<QLineEdit*>(u"uptimeEdit"_s)->text(), status::uptimeText(360100));
        com2Tx = dialog.findChild<QLineEdit*>(u"com2TxEdit"_s)->text();
        dialog.accept();
    });
    dialog.exec();
    QCOMPARE(com2Tx, noFigure);
}

void TestLiveStatus::legendExplainsTheDash()
{
    for (const UiLanguage language : {UiLanguage::English, UiLanguage::Korean, UiLanguage::Chinese}) {
        guitest::Services services(language);
        LiveTrafficPanel panel(services.strings);
        auto* legend = panel.findChild<QLabel*>(u"liveLegendLabel"_s);
        QTextDocument shown;
        shown.setHtml(legend->text());
        QVERIFY2(shown.toPlainText().contains(u"– "_s + services.strings.text(2146)),
                 qPrintable(shown.toPlainText()));
        QVERIFY(legend->toolTip().startsWith(u"“–”"_s));
        QCOMPARE(legend->accessibleDescription(), legend->toolTip());
    }
}

void TestLiveStatus::atTheMinimumSizeUnitsAndTimeLabelsStay()
{
    guitest::Services services;
    CStatDlg dialog(services.context());
    dialog.livePanel().setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    dialog.findChild<QCheckBox*>(u"liveCheckBox"_s)->setChecked(true);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // The widest figures there are, on every port.
    const qint64 start = QDateTime::currentMSecsSinceEpoch();
    status::Reading first{start, true, {}};
    status::Reading second{start + 1000, true, {}};
    first.counters.uptime = 100;
    second.counters.uptime = 200;
    for (std::size_t p = 0; p < 4; ++p) {
        first.counters.rx[p] = first.counters.tx[p] = 0;
        second.counters.rx[p] = second.counters.tx[p] = 1020u * 1024u + 1000u;
    }
    dialog.livePanel().addReading(first, start);
    dialog.livePanel().addReading(second, start + 1000);
    dialog.resize(dialog.minimumSizeHint());
    QTRY_COMPARE(dialog.size(), dialog.minimumSizeHint());
    QApplication::processEvents();
    for (int port = 0; port < 4; ++port) {
        for (QLabel* figure : {dialog.livePanel().rxFigure(port), dialog.livePanel().txFigure(port)}) {
            QTextDocument text;
            text.setHtml(figure->text());
            QVERIFY2(text.toPlainText().endsWith(u"1,021 KiB/s"_s), qPrintable(text.toPlainText()));
            const int needs = figure->fontMetrics().horizontalAdvance(text.toPlainText());
            QVERIFY2(figure->contentsRect().width() >= needs,
                     qPrintable(u"%1: %2 px for %3"_s.arg(figure->objectName()).arg(figure->width()).arg(needs)));
        }
        const TimeGraph* graph = dialog.livePanel().graph(port);
        QVERIFY2(graph->timeLabels().size() >= 2, qPrintable(graph->timeLabels().join(u", "_s)));
        const int timeLabel = graph->fontMetrics().horizontalAdvance(graph->timeLabels().constFirst());
        QVERIFY2(graph->plotRect().width() >= 3 * timeLabel, qPrintable(QString::number(graph->plotRect().width())));
    }
    const QString pictures = qEnvironmentVariable("CORMAP_TEST_PICTURES");
    if (!pictures.isEmpty())
        dialog.grab().save(pictures + u"/status-live-minimum.png"_s);
}

void TestLiveStatus::tickingLiveAgainKeepsTheSizeTheUserChose()
{
    guitest::Services services;
    CStatDlg dialog(services.context());
    auto* live = dialog.findChild<QCheckBox*>(u"liveCheckBox"_s);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    live->setChecked(true);
    const QSize natural = dialog.size();
    // The user makes the window with the graphs narrower and taller than it came.
    const QSize chosen(std::max(dialog.minimumSizeHint().width(), natural.width() - 60), natural.height() + 40);
    QVERIFY(chosen.width() < natural.width());
    dialog.resize(chosen);
    QTRY_COMPARE(dialog.size(), chosen);
    live->setChecked(false);
    QVERIFY(dialog.size() != chosen);
    const QSize without(dialog.size().width() + 30, dialog.size().height());
    dialog.resize(without);
    QTRY_COMPARE(dialog.size(), without);
    live->setChecked(true);
    QTRY_COMPARE(dialog.size(), chosen);
    live->setChecked(false);
    QTRY_COMPARE(dialog.size(), without);
}

QTEST_MAIN(TestLiveStatus)
#include "tst_livestatus.moc"
