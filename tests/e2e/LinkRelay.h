#pragma once

// A bad link made in user space, for kernels without the netem discipline: a thread in a namespace
// between the client and the devices forwards every Ethernet frame from one veth to the other, and loses,
// duplicates, delays (with jitter) and reorders IPv4 frames the way `tc netem` arguments ask.

#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

namespace netns {
/** The faults of a link, as netem's arguments give them ("loss 20%", "delay 60ms 50ms", ...). */
struct LinkFaults
{
    double loss = 0;      // share 0..1 of frames dropped
    double duplicate = 0; // share sent twice
    int delayMs = 0;
    int jitterMs = 0;   // the delay varies by up to this much either way
    double reorder = 0; // share sent at once while the others wait their delay

    /** Reads netem arguments; nothing on an argument it does not know. */
    static std::optional<LinkFaults> fromNetem(const QStringList& args);
};

class LinkRelay final
{
public:
    /** Forwards between interfaces `a` and `b` of namespace `ns` until destroyed. */
    LinkRelay(const QString& ns, const QString& a, const QString& b);
    ~LinkRelay();
    LinkRelay(const LinkRelay&) = delete;
    LinkRelay& operator=(const LinkRelay&) = delete;

    /** Empty once the relay runs, else why it could not start. */
    QString error() const;
    void setFaults(const LinkFaults& faults);

private:
    void run(QString ns, QString a, QString b);

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_started{false};
    mutable std::mutex m_mutex;
    LinkFaults m_faults;
    QString m_error;
};
} // namespace netns
