#include "device/Exchange.h"

#include "net/CNetEnv.h"

#include <QEventLoop>

namespace device {
Exchange::Exchange(CNetEnv& env, QObject* parent) : QObject(parent), m_env(env)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Exchange::onTick);
}

void Exchange::start(int periodMs, std::function<bool()> answered, WaitEnd end, int ticks)
{
    m_answered = answered ? std::move(answered) : std::function<bool()>([this] { return m_env.answered() != 0; });
    m_end = end;
    m_ticks = ticks;
    m_tick = 0;
    m_running = true;
    m_timer.start(periodMs);
    disconnect(m_answerConnection);
    if (end == WaitEnd::OnAnswer) {
        // Queued: the answer is taken inside the socket's own notification, and whoever hears `finished`
        // may close the endpoint, which must not happen under the socket's feet.
        m_answerConnection = connect(&m_env, &CNetEnv::replyAccepted, this, &Exchange::onAnswer, Qt::QueuedConnection);
        // An answer taken while the second copy was being sent ends the wait at once.
        QMetaObject::invokeMethod(this, &Exchange::onAnswer, Qt::QueuedConnection);
    }
}

void Exchange::cancel()
{
    m_timer.stop();
    disconnect(m_answerConnection);
    m_running = false;
}

void Exchange::run(int periodMs, std::function<bool()> answered, WaitEnd end, int ticks)
{
    // An answer that came in while the second copy was being sent ends the wait before it starts.
    const std::function<bool()> in = answered ? answered : [this] { return m_env.answered() != 0; };
    if (end == WaitEnd::OnAnswer && in()) {
        m_env.Close();
        return;
    }
    QEventLoop loop;
    const QMetaObject::Connection done = connect(this, &Exchange::finished, &loop, &QEventLoop::quit);
    start(periodMs, in, end, ticks);
    if (m_running)
        loop.exec();
    disconnect(done);
    m_env.Close();
}

void Exchange::onTick()
{
    ++m_tick;
    if (m_tick >= m_ticks || m_answered())
        finish();
}

void Exchange::onAnswer()
{
    if (m_running && m_answered())
        finish();
}

void Exchange::finish()
{
    if (!m_running)
        return;
    cancel();
    emit finished();
}
} // namespace device
