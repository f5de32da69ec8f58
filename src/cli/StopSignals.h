#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace cli {
/**
 * Catches Ctrl+C (SIGINT) and SIGTERM while it lives, so a long-running verb can end cleanly: finish
 * what it is doing, write what it owes and print its summary. The signal only writes a byte to a pipe;
 * the event loop hears it and emits stopRequested. The handlers in place before are put back when it
 * goes. One at a time.
 */
class StopSignals final : public QObject
{
    Q_OBJECT

public:
    StopSignals();
    ~StopSignals() override;

    /** True once a signal came. */
    bool stopped() const { return m_stopped; }
    /** The exit status of a program ended by the signal that came: 130 for SIGINT, 143 for SIGTERM. */
    int exitStatus() const { return kSignalExitBase + m_signal; }

signals:
    void stopRequested();

private:
    void onSignal();

    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_stopped = false;
    int m_signal = 0;
    static constexpr int kSignalExitBase = 128;
};
} // namespace cli
