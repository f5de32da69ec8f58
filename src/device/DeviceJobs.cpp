#include "device/DeviceJobs.h"

#include <QEventLoop>
#include <QThreadPool>

#include <vector>

namespace device {
void runJobs(int count, int jobs, const std::function<void(int)>& work, const std::function<void(int)>& done)
{
    if (jobs <= 1 || count <= 1) {
        for (int i = 0; i < count; ++i) {
            work(i);
            done(i);
        }
        return;
    }
    // The calling thread keeps its event loop running meanwhile (whatever else lives on it goes on), and
    // takes each finished job's report there, in order.
    QEventLoop loop;
    std::vector<char> finished(static_cast<std::size_t>(count), 0);
    int next = 0;
    const auto finish = [&](int i) {
        finished[static_cast<std::size_t>(i)] = 1;
        while (next < count && finished[static_cast<std::size_t>(next)])
            done(next++);
        if (next == count)
            loop.quit();
    };
    QThreadPool pool;
    pool.setMaxThreadCount(jobs);
    // The jobs start in index order, so the earliest lines are the first to be ready.
    for (int i = 0; i < count; ++i) {
        pool.start([&, i] {
            work(i);
            QMetaObject::invokeMethod(
                &loop, [&finish, i] { finish(i); }, Qt::QueuedConnection);
        });
    }
    loop.exec();
    pool.waitForDone();
}
} // namespace device
