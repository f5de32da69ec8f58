// bench-editor: how soon after the device's answer the settings editor's Read, Write and Status end, as
// a user sees it. The editor runs offscreen against a simulated device that answers from a thread of its
// own; each press is timed from the device's last answer to the moment the editor is done (the request
// ended, or for Status the report window shown). Prints the first press, the median and the worst of the
// others against one frame (20 ms): the editor should never keep the user waiting a frame past the
// answer. The device notes the time just after its answer went out, so a figure can be a little below 0.

#include "GuiTestSupport.h"
#include "SimThread.h"
#include "gui/editor/CQorv400Dlg.h"
#include "gui/editor/EditorControls.h"
#include "gui/status/CStatDlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTextStream>

#include <algorithm>
#include <atomic>
#include <vector>

namespace {
constexpr std::uint32_t kDeviceAddress = 0x7F000002; // 127.0.0.2
constexpr std::uint16_t kDevicePort = 53905;
constexpr int kRuns = 25;
constexpr double kFrameMs = 20.0;

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

/** The process's clock, shared with the device's thread. */
QElapsedTimer& benchClock()
{
    static QElapsedTimer c;
    return c;
}

std::atomic<qint64> lastAnswerNs{0};

/** Ends when the Status report window is shown: it runs modally, so it is closed as soon as it shows. */
class ShownWatch final : public QObject
{
public:
    qint64 shownNs = 0;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            shownNs = benchClock().nsecsElapsed();
            QMetaObject::invokeMethod(static_cast<QDialog*>(watched), &QDialog::reject, Qt::QueuedConnection);
        }
        return false;
    }
};

struct Figures
{
    double first = 0; // the first press lays the window out and loads what it needs
    double median = 0;
    double worst = 0; // of the presses after the first
};

Figures figuresOf(std::vector<double> lags)
{
    const double first = lags.front();
    lags.erase(lags.begin());
    std::sort(lags.begin(), lags.end());
    return {first, lags[lags.size() / 2], lags.back()};
}
} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir profileDir;
    qputenv("XDG_DATA_HOME", QFile::encodeName(profileDir.filePath(QStringLiteral("data"))));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(profileDir.path()));
    qputenv("CORMAPMP_LOCK_DIR", QFile::encodeName(profileDir.path()));
    QApplication app(argc, argv);
    guitest::isolateProfile(profileDir);
    benchClock().start();

    NetworkProfile profile = NetworkProfile::loopbackProfile();
    profile.devicePort = kDevicePort;
    SimThread sim;
    QString error;
    if (!sim.start(profile, 1, &error)) {
        out() << "bench-editor: " << error << Qt::endl;
        return 2;
    }
    EnvRecord record;
    sim.onSimThread([&](TesselSim& devices) {
        record = devices.device(0).record;
        QObject::connect(
            &devices, &TesselSim::requestHandled, &devices, [] { lastAnswerNs = benchClock().nsecsElapsed(); },
            Qt::DirectConnection);
    });

    guitest::Services services(UiLanguage::English, primary_language::kEnglish, profile);
    AdapterBinding binding;
    CQorv400Dlg editor(services.context(), binding, record, CQorv400Dlg::kModeRemote, kDeviceAddress);
    editor.show();
    ShownWatch watch;
    editor.statusDialog().installEventFilter(&watch);

    struct Press
    {
        const char* what;
        QPushButton* button;
    };
    const Press presses[] = {{"Read", editor.controls().readButton},
                             {"Write", editor.controls().writeButton},
                             {"Status", editor.controls().statusButton}};
    out() << "The settings editor against a device answering from its own thread, " << kRuns
          << " presses each: from the device's last answer to the editor done (ms)\n"
          << "  what       first    median     worst     one frame\n";
    bool allWithin = true;
    for (const Press& press : presses) {
        std::vector<double> lags;
        for (int run = 0; run < kRuns; ++run) {
            editor.controls().comment->setText(QStringLiteral("bench %1").arg(run)); // a Write changes something
            watch.shownNs = 0;
            press.button->click();
            const qint64 started = benchClock().nsecsElapsed();
            qint64 done = 0;
            while (done == 0 && benchClock().nsecsElapsed() - started < 10'000'000'000) {
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
                if (watch.shownNs != 0)
                    done = watch.shownNs;
                else if (!editor.requestInFlight() && press.button != editor.controls().statusButton)
                    done = benchClock().nsecsElapsed();
            }
            if (done == 0 || !services.messages.shown().isEmpty()) {
                out() << "bench-editor: " << press.what << " did not end with the answer" << Qt::endl;
                return 1;
            }
            lags.push_back(static_cast<double>(done - lastAnswerNs.load()) / 1e6);
            while (editor.statusDialog().isVisible() || editor.requestInFlight())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        const Figures f = figuresOf(lags);
        allWithin = allWithin && f.worst <= kFrameMs;
        out() << "  " << QString::fromLatin1(press.what).leftJustified(8)
              << QString::number(f.first, 'f', 2).rightJustified(8)
              << QString::number(f.median, 'f', 2).rightJustified(10)
              << QString::number(f.worst, 'f', 2).rightJustified(10)
              << QString::number(kFrameMs, 'f', 1).rightJustified(12) << "\n";
    }
    out().flush();
    return allWithin ? 0 : 1;
}
