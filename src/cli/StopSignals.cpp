#include "StopSignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace cli {
namespace {
#ifdef Q_OS_UNIX
int g_pipe[2] = {-1, -1};
struct sigaction g_previousInt
{
};
struct sigaction g_previousTerm
{
};

extern "C" void onStopSignal(int signal)
{
    const int saved = errno;
    const auto byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1); // a full pipe already says it
    errno = saved;
}
#endif
} // namespace

StopSignals::StopSignals()
{
#ifdef Q_OS_UNIX
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action
    {
    };
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &g_previousInt);
    ::sigaction(SIGTERM, &action, &g_previousTerm);
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &StopSignals::onSignal);
#endif
}

StopSignals::~StopSignals()
{
#ifdef Q_OS_UNIX
    if (!m_notifier)
        return;
    m_notifier.reset();
    ::sigaction(SIGINT, &g_previousInt, nullptr);
    ::sigaction(SIGTERM, &g_previousTerm, nullptr);
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
#endif
}

void StopSignals::onSignal()
{
#ifdef Q_OS_UNIX
    char bytes[16];
    ssize_t got = 0;
    while ((got = ::read(g_pipe[0], bytes, sizeof bytes)) > 0) {
        if (m_signal == 0)
            m_signal = static_cast<unsigned char>(bytes[0]);
    }
#endif
    if (m_stopped)
        return;
    m_stopped = true;
    emit stopRequested();
}
} // namespace cli
