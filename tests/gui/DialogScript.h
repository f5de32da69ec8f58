#pragma once

// A scripted user for a dialog that other code shows with exec(), again and again (the password dialog
// after each refused entry, the account dialog after a mismatch): one step per showing.

#include <QApplication>
#include <QDialog>
#include <QList>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <utility>

namespace guitest {
/** Plays one Step per showing of a Dialog, watching for it every 10 ms, and notes in `seen` what each
 *  showing held when it appeared (`held`). A showing beyond the script fails the test at once, saying
 *  so, and is cancelled, so the flow ends instead of waiting until the test's time limit for a user who
 *  never comes. Watching ends when the script goes out of scope. */
template <typename Dialog, typename Step> class DialogScript
{
public:
    using Held = std::function<QStringList(Dialog*)>;
    using Play = std::function<void(Dialog*, const Step&)>;
    using Unexpected = std::function<void(const QString&)>;

    DialogScript(QList<Step> steps, Held held, Play play)
        : m_steps(std::move(steps)), m_held(std::move(held)), m_play(std::move(play)),
          m_unexpected([](const QString& message) { QTest::qFail(qPrintable(message), __FILE__, __LINE__); })
    {
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { poll(); });
        m_timer.start(10);
    }
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;

    /** What each showing held when it appeared, the showings beyond the script included. */
    QList<QStringList> seen;
    /** The showings beyond the script (each was cancelled). */
    int extraShowings() const { return static_cast<int>(seen.size()) - static_cast<int>(m_steps.size()); }
    /** Replaces what a showing beyond the script does before it is cancelled (failing the test). */
    void onUnexpected(Unexpected handler) { m_unexpected = std::move(handler); }

private:
    void poll()
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<Dialog*>(w);
            if (!dialog || !dialog->isVisible())
                continue;
            seen << m_held(dialog);
            if (seen.size() > m_steps.size()) {
                m_unexpected(QStringLiteral("%1 was shown %2 times, the script has %3 step(s); it held %4 at the "
                                            "extra showing, which was cancelled")
                                 .arg(QLatin1String(Dialog::staticMetaObject.className()))
                                 .arg(seen.size())
                                 .arg(m_steps.size())
                                 .arg(seen.last().join(QStringLiteral(", "))));
                dialog->reject();
                continue;
            }
            m_play(dialog, m_steps.at(seen.size() - 1));
        }
    }

    QList<Step> m_steps;
    Held m_held;
    Play m_play;
    Unexpected m_unexpected;
    QTimer m_timer;
};
} // namespace guitest
