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

signals:
    void stopRequested();

private:
    void onSignal();

    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_stopped = false;
};
} // namespace cli
