// cormapmp-cli apply: brings devices into the state a file declares, writing only what differs.
#include "CliMessages.h"
#include "device/DesiredState.h"
#include "DeviceTargets.h"
#include "PasswordOnce.h"
#include "CliTexts.h"
#include "ExitStatus.h"
#include "Verbs.h"
#include "WriteVerb.h"
#include "files/BoundedRead.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>

namespace cli {
namespace {
constexpr qint64 kFileLimit = 16 * 1024 * 1024; // far more than a desired state of 4096 devices takes
constexpr int kFieldWidth = 22;

/** How one device of the file ended. */
enum class State
{
    Unchanged,
    Changed, // or with --dry-run: would change
    Failed,
    SameDevice, // named before under another name
};

struct DeviceOutcome
{
    State state = State::Failed;
    QString line; // the outcome on the device's result line
    QList<record_fields::Difference> changes;
    DeviceWrite report;
};

/** The text of the file, or nothing (the message printed, `status` set). */
std::optional<QByteArray> readDesiredFile(const QString& path, QTextStream& err, int& status)
{
    const bounded_read::Result read = bounded_read::read(path, kFileLimit);
    if (printReadProblem(path, read, err, status))
        return std::nullopt;
    status = kExitUsage;
    if (read.tooLarge) {
        printUsageError(
            err, QStringLiteral("apply: %1: longer than %2 bytes; not a desired state").arg(path).arg(kFileLimit));
        return std::nullopt;
    }
    status = 0;
    return read.bytes;
}

/** `text` with its control characters shown as \xNN: a refusal quotes the file's keys and values, and a
 *  file from elsewhere must not move the cursor or recolour the terminal it is printed to. */
QString visibleText(const QString& text)
{
    QString shown;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || (c.unicode() >= 0x80 && c.unicode() < 0xA0))
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

/** The desired state the request's file declares, or nothing (the message printed, `status` set). */
std::optional<DesiredState> desiredState(const VerbRequest& request, QTextStream& err, int& status)
{
    status = kExitUsage;
    if (request.operands.size() != 1) {
        printUsageError(err, QStringLiteral("apply: name one file of desired state (apply FILE)"));
        return std::nullopt;
    }
    if (request.all || request.ipAddress) {
        printUsageError(err, QStringLiteral("apply: the file names the devices; --all and --ip do not apply"));
        return std::nullopt;
    }
    const QString path = request.operands.constFirst();
    const std::optional<QByteArray> text = readDesiredFile(path, err, status);
    if (!text)
        return std::nullopt;
    QString error;
    std::optional<DesiredState> state = parseDesiredState(*text, error);
    if (!state) {
        status = printUsageError(err, QStringLiteral("apply: %1: %2").arg(path, visibleText(error)));
        return std::nullopt;
    }
    status = 0;
    return state;
}

QString changeLines(const QList<record_fields::Difference>& changes)
{
    QString lines;
    for (const record_fields::Difference& d : changes)
        lines += QStringLiteral("\n  ") + d.field.leftJustified(kFieldWidth) + QLatin1Char(' ') + d.before +
                 QStringLiteral(" -> ") + d.after;
    return lines;
}

/** Brings one device, read as `before`, into its declared state through the write path of `write`. */
DeviceOutcome applyTo(const VerbRequest& request, const Target& target, const EnvRecord& before,
                      const DesiredDevice& desired, PasswordOnce& password)
{
    DeviceOutcome o;
    o.report.skipUnchanged = true;
    QString outcome;
    const DeviceResult result = writeOneOfMany(request, target, before, desired.fields, password, outcome, &o.report);
    if (o.report.made)
        o.changes = record_fields::differences(o.report.before, o.report.after);
    if (result == DeviceResult::Failed) {
        o.line = programText(texts::kApplyFailed).arg(outcome);
    } else if (o.changes.isEmpty()) {
        o.state = State::Unchanged;
        o.line = programText(texts::kApplyUnchanged);
    } else {
        o.state = State::Changed;
        o.line = programText(request.dryRun ? texts::kApplyWouldChange : texts::kApplyChanged) + changeLines(o.changes);
    }
    return o;
}

QString stateName(State state, bool dryRun)
{
    switch (state) {
    case State::Unchanged:
        return QStringLiteral("unchanged");
    case State::Changed:
        return dryRun ? QStringLiteral("wouldChange") : QStringLiteral("changed");
    case State::SameDevice:
        return QStringLiteral("sameDevice");
    case State::Failed:
        break;
    }
    return QStringLiteral("failed");
}

QJsonObject deviceJson(const DesiredDevice& desired, const DeviceOutcome& o, bool dryRun)
{
    QJsonObject device{{QStringLiteral("device"), desired.name},
                       {QStringLiteral("result"), stateName(o.state, dryRun)},
                       {QStringLiteral("written"), o.report.sent}};
    if (o.report.made)
        device.insert(QStringLiteral("mac"), QString::fromStdString(o.report.before.macText()));
    if (o.state == State::Changed || o.state == State::Unchanged)
        device.insert(QStringLiteral("changes"), changesJson(o.changes, o.report.before, o.report.after));
    if (o.state == State::Failed || o.state == State::SameDevice)
        device.insert(QStringLiteral("message"), o.line);
    return device;
}

int countOf(const QList<DeviceOutcome>& outcomes, State state)
{
    return static_cast<int>(std::count_if(outcomes.cbegin(), outcomes.cend(),
                                          [state](const DeviceOutcome& o) { return o.state == state; }));
}

void printSummary(const DesiredState& state, const QList<DeviceOutcome>& outcomes, const VerbRequest& request,
                  QTextStream& out)
{
    const int changed = countOf(outcomes, State::Changed);
    const int unchanged = countOf(outcomes, State::Unchanged);
    const int failed = countOf(outcomes, State::Failed);
    if (request.json) {
        QJsonArray devices;
        for (qsizetype i = 0; i < outcomes.size(); ++i)
            devices.append(deviceJson(state.devices.at(i), outcomes.at(i), request.dryRun));
        const QJsonObject doc{{QStringLiteral("devices"), devices},
                              {QStringLiteral("dryRun"), request.dryRun},
                              {QStringLiteral("changed"), changed},
                              {QStringLiteral("unchanged"), unchanged},
                              {QStringLiteral("failed"), failed}};
        out << QJsonDocument(doc).toJson(QJsonDocument::Indented);
    } else if (request.dryRun) {
        out << programText(texts::kApplyDryRunSummary).arg(changed).arg(unchanged).arg(failed) << '\n';
    } else {
        out << programText(texts::kApplySummary).arg(changed + unchanged).arg(changed).arg(unchanged).arg(failed)
            << '\n';
    }
    out.flush();
}
} // namespace

int applyVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console)
{
    int status = 0;
    const std::optional<DesiredState> state = desiredState(request, err, status);
    if (!state)
        return status;
    QStringList names;
    for (const DesiredDevice& device : state->devices)
        names << device.name;
    const std::optional<QList<Target>> targets = deviceTargets(request, names, QStringLiteral("apply"), err, status);
    if (!targets)
        return status;
    // One slot per device of the file (the targets are in the file's order), each filled by the job that
    // serves its device; a device that could not be read, or was named before, is settled on this thread.
    QList<DeviceOutcome> outcomes(state->devices.size());
    DeviceOutcome* slot = outcomes.data();
    PasswordOnce password(console, request.passwordStdin);
    QString unused;
    QTextStream discard(&unused);
    status = serveEach(
        request, request.json ? discard : out, *targets, 0,
        [&](const Target& target, const EnvRecord& before, QString& outcome) {
            const qsizetype i = &target - targets->constData(); // serveEach hands out the list's own items
            Q_ASSERT(i >= 0 && i < targets->size());
            slot[i] = applyTo(request, target, before, state->devices.at(i), password);
            outcome = slot[i].line;
            return slot[i].state == State::Failed ? DeviceResult::Failed : DeviceResult::Done;
        },
        [&](int i, DeviceResult result, QString& outcome) {
            DeviceOutcome& o = slot[i];
            printLeftAsIs(err, QStringLiteral("apply"), state->devices.at(i).name, o.report.warnings);
            if (result == DeviceResult::AlreadyServed) {
                o.state = State::SameDevice;
                o.line = outcome;
            } else if (o.line.isEmpty()) { // never served: it could not be read
                o.line = programText(texts::kApplyFailed).arg(outcome);
            }
            outcome = o.line;
        });
    printSummary(*state, outcomes, request, out);
    return status;
}
} // namespace cli
