#include "WriteReport.h"

#include "CliMessages.h"
#include "CliTool.h"
#include "device/HistoryKeeper.h"
#include "net/CNetEnv.h"

#include <QTextStream>

namespace cli {
namespace {
constexpr int kStrConflict = 1104;
constexpr int kStrRemade = 1105;
constexpr int kStrStoredLate = 1800;
constexpr int kStrNotStored = 1801;
constexpr int kStrUnknown = 1802;
constexpr int kStrMismatch = 1803;
constexpr int kStrLockTimeout = 1805;
constexpr int kStrNoResponse = 166;
constexpr int kMsPerSecond = 1000;

QString joined(const QStringList& fields)
{
    return fields.join(QStringLiteral(", "));
}

/** Why nothing (or not the right thing) was written, in one text; empty for a stored write. */
QString problemText(const WriteOutcome& o, const QString& device, bool oneLine)
{
    switch (o.status) {
    case WriteOutcome::Written:
    case WriteOutcome::WrittenLate:
        return {};
    case WriteOutcome::Mismatch:
        return programText(kStrMismatch).arg(device, joined(o.fields));
    case WriteOutcome::Refused:
        return passwordMismatchText();
    case WriteOutcome::NotStored: {
        const QString notStored = programText(kStrNotStored).arg(device);
        if (o.result < 0)
            return notStored;
        return unknownResponseText() + (oneLine ? QStringLiteral(" ") : QStringLiteral("\n")) + notStored;
    }
    case WriteOutcome::Unknown: {
        // Without any answer the program's own message comes first, as for every silent device.
        const QString unknown = programText(kStrUnknown).arg(device);
        if (o.result >= 0)
            return unknownResponseText() + (oneLine ? QStringLiteral(" ") : QStringLiteral("\n")) + unknown;
        return oneLine ? unknown : programText(kStrNoResponse) + u'\n' + unknown;
    }
    case WriteOutcome::Conflict:
    case WriteOutcome::Cancelled:
        return programText(kStrConflict).arg(device, joined(o.fields));
    case WriteOutcome::RemakeRefused:
        return o.reason;
    case WriteOutcome::LockTimeout:
        return lockTimeoutText(device, o.holder);
    case WriteOutcome::NoAnswer:
        return oneLine ? failureLine(Outcome::NoAnswer, {}) : failureText(Outcome::NoAnswer, {});
    case WriteOutcome::CannotOpen:
        return oneLine ? failureLine(Outcome::CannotOpen, o.reason) : failureText(Outcome::CannotOpen, o.reason);
    }
    return {};
}
} // namespace

WriteOutcome runGuardedWrite(const VerbRequest& request, const WritePlan& plan)
{
    CNetEnv env(request.profile);
    GuardedWrite write(env, request.history.get());
    return write.run(plan);
}

int printWriteOutcome(const WriteOutcome& outcome, const QString& device, bool json, QTextStream& out,
                      QTextStream& err, int writtenId)
{
    if (outcome.stored()) {
        if (!json)
            out << (outcome.status == WriteOutcome::Written ? programText(writtenId)
                                                             : programText(kStrStoredLate).arg(device))
                << Qt::endl;
        return CliTool::kExitOk;
    }
    err << problemText(outcome, device, false) << Qt::endl;
    return CliTool::kExitFailed;
}

QString writeOutcomeLine(const WriteOutcome& outcome, const QString& device, const QString& writtenText)
{
    if (outcome.status == WriteOutcome::Written)
        return writtenText;
    if (outcome.status == WriteOutcome::WrittenLate)
        return programText(kStrStoredLate).arg(device);
    return problemText(outcome, device, true);
}

QString remadeLine(const WriteOutcome& outcome, const QString& device)
{
    return outcome.remade ? programText(kStrRemade).arg(device, joined(outcome.remadeFields)) : QString();
}

QString lockTimeoutText(const QString& device, const QString& holder)
{
    return programText(kStrLockTimeout)
        .arg(device)
        .arg(kLockWaitMs / kMsPerSecond)
        .arg(holder.isEmpty() ? QStringLiteral("?") : holder);
}

QString outcomeName(const WriteOutcome& outcome)
{
    static const char* const names[] = {"written", "stored-late", "mismatch", "refused",   "not-stored",
                                        "unknown", "conflict",    "cancelled", "refused-remake", "lock-timeout",
                                        "no-answer", "cannot-open"};
    return QString::fromLatin1(names[outcome.status]);
}
} // namespace cli
