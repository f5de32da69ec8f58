#include "WriteReport.h"

#include "CliMessages.h"
#include "CliTexts.h"
#include "CliTool.h"
#include "device/HistoryKeeper.h"
#include "net/CNetEnv.h"

#include <QTextStream>

namespace cli {
namespace {
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
        return programText(texts::kMismatch).arg(device, joined(o.fields));
    case WriteOutcome::Refused:
        return passwordMismatchText();
    case WriteOutcome::NotStored: {
        const QString notStored = programText(texts::kNotStored).arg(device);
        if (o.result < 0)
            return notStored;
        return unknownResponseText() + (oneLine ? QStringLiteral(" ") : QStringLiteral("\n")) + notStored;
    }
    case WriteOutcome::Unknown: {
        // Without any answer the program's own message comes first, as for every silent device.
        const QString unknown = programText(texts::kUnknownOutcome).arg(device);
        if (o.result >= 0)
            return unknownResponseText() + (oneLine ? QStringLiteral(" ") : QStringLiteral("\n")) + unknown;
        return oneLine ? failureLine(Outcome::NoAnswer, {}) + u' ' + unknown
                       : programText(texts::kNoResponse) + u'\n' + unknown;
    }
    case WriteOutcome::Conflict:
    case WriteOutcome::Cancelled:
        return programText(texts::kConflict).arg(device, joined(o.fields));
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
                                                             : programText(texts::kStoredLate).arg(device))
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
        return programText(texts::kStoredLate).arg(device);
    return problemText(outcome, device, true);
}

QString remadeLine(const WriteOutcome& outcome, const QString& device)
{
    return outcome.remade ? programText(texts::kRemade).arg(device, joined(outcome.remadeFields)) : QString();
}

QString lockTimeoutText(const QString& device, const QString& holder)
{
    return programText(texts::kLockTimeout)
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
