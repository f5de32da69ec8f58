#pragma once

#include "TesselSim.h"

#include <QThread>

#include <array>
#include <atomic>
#include <functional>
#include <memory>

/**
 * Simulated devices answering from a thread of their own, so that they answer while the test's thread is
 * blocked: within a millisecond of a request's first copy, before the program sends the second. Counts
 * the request copies each command's requests reached the devices with.
 */
class SimThread final
{
public:
    /** Starts `count` devices (127.0.0.2 and up) on `profile`; false (with `error`) when they cannot. */
    bool start(const NetworkProfile& profile, int count, QString* error = nullptr);
    ~SimThread();

    /** Request copies handled for `command` (answered, or repeated), by every device together. */
    int copies(int command) const { return m_copies[static_cast<std::size_t>(command & 0xFF)].load(); }
    /** Runs `change` on the devices' thread, and waits for it (e.g. setFaults, a device's record). */
    void onSimThread(const std::function<void(TesselSim&)>& change);

private:
    QThread m_thread;
    std::unique_ptr<QObject> m_context;
    TesselSim* m_sim = nullptr;
    std::array<std::atomic<int>, 256> m_copies{};
};
