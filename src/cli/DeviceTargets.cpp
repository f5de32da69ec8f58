#include "DeviceTargets.h"
#include "CliTexts.h"
#include "ExitStatus.h"

#include "StopSignals.h"
#include "device/DeviceJobs.h"
#include "net/CNetEnv.h"
#include "protocol/Ipv4.h"

#include <QTextStream>

#include <algorithm>
#include <atomic>
#include <vector>

namespace cli {
namespace {

} // namespace

SearchWait searchWait(const VerbRequest& request)
{
    SearchWait wait;
    wait.waitMs = request.searchWaitMs.value_or(wait.waitMs);
    wait.expect = request.expect.value_or(0);
    return wait;
}

namespace {
std::optional<QList<Target>> everyDeviceFound(const VerbRequest& request, QTextStream& err, int& status)
{
    CNetEnv env(request.profile, request.searchLimit);
    if (const Outcome found = searchEveryDevice(env, request, err, status); found != Outcome::Answered) {
        status = printFailure(err, found, env.openError());
        return std::nullopt;
    }
    env.sortByMac();
    QList<Target> targets;
    for (int i = 0; i < env.count(); ++i) {
        Mac mac{};
        std::copy_n(env.record(i).data(), mac.size(), mac.begin());
        targets << Target{mac, 0, request.bindAddress.value_or(0), request.allAdapters};
    }
    return targets;
}
} // namespace

Outcome searchEveryDevice(CNetEnv& env, const VerbRequest& request, QTextStream& err, int& status)
{
    const Outcome found = searchByMac(env, request.bindAddress.value_or(0), request.allAdapters, searchWait(request));
    status = 0;
    if (found == Outcome::Answered && env.unheld() > 0) {
        err << programText(texts::kNotHeld).arg(env.unheld()).arg(env.tableSize()) << Qt::endl;
        status = kExitFailed;
    }
    return found;
}

Target targetFor(const DeviceName& device, const VerbRequest& request)
{
    return Target{device.mac, device.address, request.bindAddress.value_or(0), request.allAdapters};
}

std::optional<QList<Target>> deviceTargets(const VerbRequest& request, const QStringList& names, const QString& verb,
                                           QTextStream& err, int& status)
{
    status = kExitUsage;
    if (request.all) {
        if (!names.isEmpty()) {
            printUsageError(err, QStringLiteral("%1: --all takes every device a search finds; name none (\"%2\")")
                                     .arg(verb, names.constFirst()));
            return std::nullopt;
        }
        return everyDeviceFound(request, err, status);
    }
    if (names.isEmpty()) {
        printUsageError(err, QStringLiteral("%1: name the device by its MAC (02:11:22:0a:bc:de) or IPv4 address, "
                                            "or --all")
                                 .arg(verb));
        return std::nullopt;
    }
    QList<Target> targets;
    for (const QString& name : names) {
        const DeviceName device = parseDeviceName(name);
        if (!device.error.isEmpty()) {
            printUsageError(err, verb + QStringLiteral(": ") + device.error);
            return std::nullopt;
        }
        if (!device.mac && (request.bindAddress || request.allAdapters)) {
            printUsageError(err, QStringLiteral("%1: --bind and --all-adapters apply to broadcasts only, not to a "
                                                "device named by its IP address (%2)")
                                     .arg(verb, name));
            return std::nullopt;
        }
        targets << targetFor(device, request);
    }
    status = 0;
    return targets;
}

bool confirmedForMany(const VerbRequest& request, qsizetype count, QTextStream& err)
{
    if (count <= 1 || request.yes)
        return true;
    err << programText(texts::kConfirmMany).arg(count) << Qt::endl;
    return false;
}

QString targetText(const Target& target)
{
    return target.mac ? macText(*target.mac) : ipv4::dotted(target.address);
}

QString resultLine(const Target& target, const QString& outcome)
{
    return targetText(target) + QStringLiteral(": ") + outcome;
}

std::optional<QString> ServedDevices::servedBefore(const EnvRecord& record, const QString& name)
{
    const auto [at, added] = m_names.try_emplace(record.mac(), name);
    if (added)
        return std::nullopt;
    return sameDeviceText(at->second);
}

QString ServedDevices::sameDeviceText(const QString& earlier)
{
    return programText(texts::kSameDevice).arg(earlier);
}

int deviceJobs(const VerbRequest& request)
{
    return request.jobs > 0 ? std::min(request.jobs, kMaxDeviceJobs) : kDefaultDeviceJobs;
}

int serveEach(const VerbRequest& request, QTextStream& out, const QList<Target>& targets, int summaryId,
              const ServeDevice& serve, const SettleDevice& settle)
{
    struct Device
    {
        std::optional<EnvRecord> read; // the device's record; none when it could not be read
        DeviceResult result = DeviceResult::Failed;
        QString outcome;
    };
    const int count = static_cast<int>(targets.size());
    const int jobs = deviceJobs(request);
    std::vector<Device> devices(static_cast<std::size_t>(count));
    // Ctrl+C or SIGTERM: the devices under way finish their exchanges, the others are not served, and
    // every device's outcome and the summary are still printed.
    const StopSignals stop;
    std::atomic<bool> stopping = false;
    QObject::connect(&stop, &StopSignals::stopRequested, &stop, [&stopping] { stopping = true; });
    // First every name is resolved to its device, so that a device named twice is known before any is
    // served: the first of its names in the order given serves it, however the reads interleave.
    runJobs(
        count, jobs,
        [&](int i) {
            Device& d = devices[static_cast<std::size_t>(i)];
            CNetEnv env(request.profile);
            if (const Outcome read = readTarget(env, targets.at(i)); read == Outcome::Answered)
                d.read = env.record(0);
            else
                d.outcome = failureLine(read, env.openError());
        },
        [](int) {});
    ServedDevices served;
    int again = 0;
    for (int i = 0; i < count; ++i) {
        Device& d = devices[static_cast<std::size_t>(i)];
        if (!d.read)
            continue;
        if (const std::optional<QString> earlier = served.servedBefore(*d.read, targetText(targets.at(i)))) {
            d.read.reset();
            d.result = DeviceResult::AlreadyServed;
            d.outcome = *earlier;
            ++again;
        }
    }
    int failed = 0;
    runJobs(
        count, jobs,
        [&](int i) {
            Device& d = devices[static_cast<std::size_t>(i)];
            if (d.read && stopping) {
                d.outcome = programText(texts::kStopped);
                return;
            }
            if (d.read)
                d.result = serve(targets.at(i), *d.read, d.outcome);
        },
        [&](int i) {
            Device& d = devices[static_cast<std::size_t>(i)];
            if (settle)
                settle(i, d.result, d.outcome);
            failed += d.result == DeviceResult::Failed ? 1 : 0;
            out << resultLine(targets.at(i), d.outcome) << Qt::endl;
        });
    const int status = summaryId == 0 ? (failed ? kExitFailed : 0) : finishMany(out, summaryId, count - again, failed);
    return stop.stopped() ? stop.exitStatus() : status;
}

int finishMany(QTextStream& out, int summaryId, qsizetype total, int failed)
{
    if (total > 1)
        out << programText(summaryId).arg(total - failed).arg(failed) << Qt::endl;
    return failed ? kExitFailed : 0;
}
} // namespace cli
