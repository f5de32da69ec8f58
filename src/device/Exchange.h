#pragma once

// The wait of one request, written once for the search window, the settings editor and the command line:
// once both copies of the request are out, the endpoint is looked at on every tick of a precise timer
// and the moment an answer is taken; the wait ends as soon as the answer is in (or, for a search, at
// the first tick at which it is in), and after the last tick at the latest.

#include "net/ReplyWaits.h"

#include <QObject>
#include <QTimer>

#include <functional>

class CNetEnv;

namespace device {
/** How a wait ends before its last tick. */
enum class WaitEnd
{
    OnAnswer, // as soon as the answer is in (both copies of the request are out when the wait starts)
    AtTick,   // at the first tick at which it is in: a search, which cannot know that every device answered
};

class Exchange final : public QObject
{
    Q_OBJECT

public:
    explicit Exchange(CNetEnv& env, QObject* parent = nullptr);

    /** Starts the wait of the request just sent: at most `ticks` ticks of `periodMs`; the answer is in
     *  when `answered` holds (default: the endpoint took an answer). `finished` follows on the event loop,
     *  never from inside start(), even when the answer is already in. */
    void start(int periodMs, std::function<bool()> answered = {}, WaitEnd end = WaitEnd::OnAnswer,
               int ticks = reply_wait::kTicks);
    /** Ends the wait at once without `finished` (the caller gave up on the request). */
    void cancel();
    /** start(), then the calling thread's event loop runs until the wait ends. Closes the endpoint. */
    void run(int periodMs, std::function<bool()> answered = {}, WaitEnd end = WaitEnd::OnAnswer,
             int ticks = reply_wait::kTicks);

    bool running() const { return m_running; }
    const QTimer& timer() const { return m_timer; }
    int ticks() const { return m_tick; }

signals:
    /** The wait ended: the answer is in, or the last tick passed. The endpoint is still open. */
    void finished();

private:
    void onTick();
    void onAnswer();
    void finish();

    CNetEnv& m_env;
    QTimer m_timer;
    std::function<bool()> m_answered;
    WaitEnd m_end = WaitEnd::OnAnswer;
    int m_ticks = reply_wait::kTicks;
    int m_tick = 0;
    bool m_running = false;
    QMetaObject::Connection m_answerConnection;
};
} // namespace device
