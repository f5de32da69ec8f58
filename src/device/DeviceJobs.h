#pragma once

// Several devices at once: the verbs that act on many devices (write, passwd, import, status, apply) run
// their exchanges side by side, each device's in a thread of its own with its own endpoint, so each exchange
// has its own socket and no answer can reach another device's exchange.

#include <QString>

#include <functional>

namespace device {
/** How many devices' exchanges run at once unless --jobs says otherwise, and the most it may say. Each
 *  exchange spends most of its time waiting (the 10 ms between the two copies of a request, the device's
 *  answer), so on two cores 32 jobs serve a fleet of a thousand devices in about half the time of 16, and
 *  64 gain little more. A device named by its MAC is asked by broadcast, which every device on the LAN
 *  takes in: many more at once than this would flood small devices with requests for others. */
constexpr int kDefaultDeviceJobs = 32;
constexpr int kMaxDeviceJobs = 32;

/**
 * Runs `work(i)` for every i in 0..count-1, at most `jobs` at a time, each in a thread with an event loop
 * of its own, while the calling thread runs its event loop; `done(i)` runs on the calling thread, in the
 * order of i, as soon as job i and every job before it have finished (so lines print in a stable order
 * while later jobs still run). With `jobs` 1,
 * or a single job, everything runs on the calling thread, one job after another.
 */
void runJobs(int count, int jobs, const std::function<void(int)>& work, const std::function<void(int)>& done);

} // namespace device
