#pragma once

// The devices a verb acts on when it takes several: the MACs and addresses named, or with --all every
// device a search finds; and the one line per device and the summary such a verb prints.

#include "CliMessages.h"
#include "device/EditorRequests.h"
#include "Verbs.h"
#include "record/EnvRecord.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <optional>

class CNetEnv;
class QTextStream;

namespace cli {
/** The search's wait as --wait and --expect ask for it. */
SearchWait searchWait(const VerbRequest& request);

/** Searches by broadcast into `env` (made with the request's searchLimit) as --bind, --all-adapters, --wait
 *  and --expect ask. When more devices answered than the table holds, says how many were left out (on
 *  `err`) and sets `status` to 1; else `status` is 0. */
Outcome searchEveryDevice(CNetEnv& env, const VerbRequest& request, QTextStream& err, int& status);

/** The device of one name, broadcast from the request's --bind address or from every adapter. */
Target targetFor(const DeviceName& device, const VerbRequest& request);

/** The devices `names` name (in their order), or with --all (and no names) every device a search finds,
 *  sorted by MAC. Nothing when a name is bad (usage error printed, `status` 2) or the search found none
 *  (the message printed, `status` 1). With targets, `status` is 1 when more devices answered the search
 *  than it holds (said on `err`: they are not served, and the verb's exit status must be 1), else 0. */
std::optional<QList<Target>> deviceTargets(const VerbRequest& request, const QStringList& names, const QString& verb,
                                           QTextStream& err, int& status);

/** True when the verb may go ahead: one device, or several with --yes. Otherwise prints how many
 *  would be changed and that --yes is needed. */
bool confirmedForMany(const VerbRequest& request, qsizetype count, QTextStream& err);

/** How a device is named in its result line: its MAC, or the address it was named by. */
QString targetText(const Target& target);

/** The result line of one device: "02:11:22:0a:bc:de: written". */
QString resultLine(const Target& target, const QString& outcome);

/** How one device of several ended. */
enum class DeviceResult
{
    Done,
    Failed,
    AlreadyServed, // named a second time (by another name, or the same): served once only
};

/** The devices a verb has served so far, by their MAC: once names are resolved to devices (by reading
 *  them), a device named twice (an address and its MAC, or one name twice) is served once. */
class ServedDevices
{
public:
    /** Nothing when `record`'s device is new (from now on it counts as served under `name`); else the
     *  line's outcome for a name of a device already served. */
    std::optional<QString> servedBefore(const EnvRecord& record, const QString& name);
    /** The outcome for a name whose device was served under `earlier`. */
    static QString sameDeviceText(const QString& earlier);

private:
    std::map<Mac, QString> m_names;
};

/** Prints the summary "%1 … written, %2 failed" (string `summaryId`) when there was more than one
 *  device; the exit status: 0 when none failed, else 1. */
int finishMany(QTextStream& out, int summaryId, qsizetype total, int failed);

/** Serves one of several devices once it has been read (`read`: its record); the outcome for its line. It
 *  runs beside other devices' (at most --jobs at a time) and makes its own exchanges with an endpoint of
 *  its own. */
using ServeDevice = std::function<DeviceResult(const Target&, const EnvRecord& read, QString& outcome)>;

/** Called on the calling thread for target `index` once it is settled (served, not read, or a device
 *  served under an earlier name), before its line is printed: a verb that reports more than the line
 *  takes the result here, and may reword `outcome`. */
using SettleDevice = std::function<void(int index, DeviceResult result, QString& outcome)>;

/** How many devices' exchanges run at once: --jobs, or the default. */
int deviceJobs(const VerbRequest& request);

/** Reads every target, then runs `serve` once for each distinct device (a device named again, by the same
 *  name or another, is served under its first name only and its later lines say so), at most --jobs
 *  devices at a time. Prints one result line per target in their order, then the summary `summaryId`
 *  (none for 0) over the distinct devices. The exit status as finishMany. */
int serveEach(const VerbRequest& request, QTextStream& out, const QList<Target>& targets, int summaryId,
              const ServeDevice& serve, const SettleDevice& settle = nullptr);
} // namespace cli
