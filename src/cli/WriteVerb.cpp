// cormapmp-cli write: changes settings of a device the way the settings editor writes them.
#include "WriteVerb.h"
#include "device/DeviceName.h"
#include "CliConsole.h"
#include "device/DeviceJobs.h"
#include "DeviceTargets.h"
#include "device/EditorRequests.h"
#include "WriteReport.h"
#include "record/RecordEdit.h"
#include "CliTexts.h"
#include "ExitStatus.h"
#include "device/HistoryKeeper.h"
#include "Verbs.h"
#include "net/CNetEnv.h"
#include "protocol/Codec.h"
#include "protocol/Ipv4.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <vector>

namespace cli {
namespace {
constexpr int kFieldWidth = 22;

/** What a write is about: the device, its record as read and as it will be written. */
struct Plan
{
    Target target;
    QString deviceText; // the MAC (and address) for the messages
    EnvRecord before;
    EnvRecord after;
    QList<record_fields::Difference> changes;
};

/** True for an operand that names a device rather than a change: a MAC or an address, no "=". */
bool looksLikeDevice(const QString& operand)
{
    static const QRegularExpression digitsAndDots(QRegularExpression::anchoredPattern(QStringLiteral("[0-9.]+")));
    return !operand.contains(u'=') && (operand.contains(u':') || digitsAndDots.match(operand).hasMatch());
}

/** Splits the operands into device names and changes: without --all the first operand names a device
 *  and so does each further one that looks like a device name; the rest are changes. The changes are
 *  checked here; a usage error's text in `error`. */
bool parseOperands(const VerbRequest& request, QStringList& names, QList<Change>& changes, QString& error)
{
    if (request.ipAddress) {
        error = QStringLiteral("write: name the device as an argument, not with --ip");
        return false;
    }
    qsizetype first = 0;
    if (!request.all) {
        while (first < request.operands.size() && (first == 0 || looksLikeDevice(request.operands.at(first))))
            names << request.operands.at(first++);
    }
    if (names.isEmpty() && !request.all) {
        error = QStringLiteral("write: name the device by its MAC (02:11:22:0a:bc:de) or IPv4 address, or --all");
        return false;
    }
    if (first >= request.operands.size()) {
        error = QStringLiteral("write: name at least one change as field=value (like comment=Lab)");
        return false;
    }
    for (const QString& argument : request.operands.mid(first)) {
        const std::optional<Change> change = parseChange(argument, &error);
        if (!change) {
            error.prepend(QStringLiteral("write: "));
            return false;
        }
        changes << *change;
    }
    if (const std::optional<QString> refused = checkChanges(changes)) {
        error = QStringLiteral("write: ") + *refused;
        return false;
    }
    return true;
}

QString describeDevice(const Target& target, const EnvRecord& record)
{
    const QString mac = QString::fromStdString(record.macText());
    return target.mac ? mac : QStringLiteral("%1 (%2)").arg(mac, ipv4::dotted(target.address));
}

void printChanges(QTextStream& out, const Plan& plan)
{
    out << programText(texts::kChangesTo).arg(plan.deviceText) << '\n';
    if (plan.changes.isEmpty())
        out << "  " << programText(texts::kNothingChanges) << '\n';
    for (const record_fields::Difference& d : plan.changes)
        out << "  " << d.field.leftJustified(kFieldWidth) << ' ' << d.before << " -> " << d.after << '\n';
    out.flush();
}

QJsonObject planJson(const Plan& plan)
{
    return {{QStringLiteral("mac"), QString::fromStdString(plan.before.macText())},
            {QStringLiteral("changes"), changesJson(plan.changes, plan.before, plan.after)}};
}

/** Why the form would refuse `typed` as the password of a write, or nothing. The record's other fields
 *  were checked when the changes were made. */
std::optional<QString> passwordRefusal(const EnvRecord&, const QString& typed)
{
    const record_fields::FieldRef password{&record_fields::field(record_fields::Id::Password), -1};
    if (const std::optional<form::Problem> problem = form::checkTyped(password, typed))
        return problem->describe();
    return std::nullopt;
}

/** The password a write carries: none for a device without one (the editor's Password box is then
 *  disabled), else from the console. Refused (exit 2) when the form would refuse it. */
std::optional<QByteArray> writePassword(const VerbRequest& request, const Plan& plan, Console& console,
                                        QTextStream& err)
{
    if (!plan.before.hasPassword())
        return QByteArray();
    const QString typed =
        devicePassword(console, request.passwordStdin,
                       programText(texts::kPasswordPrompt).arg(plan.deviceText) + QStringLiteral(": "));
    if (const std::optional<QString> refused = passwordRefusal(plan.after, typed)) {
        printUsageError(err, QStringLiteral("write: ") + *refused);
        return std::nullopt;
    }
    return typed.toLatin1();
}

/** The changes as made on a record of the device's settings. */
MakeChanges changesOf(const QList<Change>& changes)
{
    return [&changes](EnvRecord& record) { return applyChanges(record, changes); };
}

/** The fields the changes name: they set them whatever the device holds. */
QStringList namedFields(const QList<Change>& changes)
{
    QStringList names;
    for (const Change& change : changes)
        names << change.field;
    return names;
}

/** The verb that writes through here names itself in the history (write, apply). */
QString historyVerb(const VerbRequest& request)
{
    return request.verb.isEmpty() ? QStringLiteral("write") : request.verb;
}

/** The write of one device named alone: the changes (old -> new) printed, then the device's result. */
int writeOne(const VerbRequest& request, const Target& target, const QList<Change>& changes, QTextStream& out,
             QTextStream& err, Console& console)
{
    CNetEnv env(request.profile);
    if (const Outcome outcome = readTarget(env, target); outcome != Outcome::Answered)
        return printFailure(err, outcome, env.openError());
    Plan plan{target, describeDevice(target, env.record(0)), env.record(0), env.record(0), {}};
    QStringList warnings;
    if (const std::optional<QString> refused = applyChanges(plan.after, changes, &warnings)) {
        err << "cormapmp-cli: write: " << *refused << Qt::endl;
        return kExitUsage;
    }
    printLeftAsIs(err, QStringLiteral("write"), QString(), warnings);
    plan.changes = record_fields::differences(plan.before, plan.after);
    if (plan.changes.isEmpty()) {
        // The device already holds every value asked for: nothing is sent, and that is said once.
        if (request.json) {
            QJsonObject doc = planJson(plan);
            doc.insert(QStringLiteral("sent"), false);
            doc.insert(QStringLiteral("outcome"), QStringLiteral("already-set"));
            out << QJsonDocument(doc).toJson(QJsonDocument::Indented);
        } else {
            out << programText(texts::kAlreadySetAll) << '\n';
        }
        out.flush();
        return 0;
    }
    if (!request.json)
        printChanges(out, plan);
    if (request.dryRun) {
        if (request.json) {
            QJsonObject doc = planJson(plan);
            doc.insert(QStringLiteral("sent"), false);
            out << QJsonDocument(doc).toJson(QJsonDocument::Indented);
        } else {
            out << programText(texts::kDryRun) << '\n';
        }
        out.flush();
        return 0;
    }
    const std::optional<QByteArray> password = writePassword(request, plan, console, err);
    if (!password)
        return kExitUsage;
    // Under the device's lock the device is read again before the whole record goes out.
    const WriteOutcome written =
        runGuardedWrite(request, {target, plan.before, plan.after, *password, changesOf(changes), namedFields(changes),
                                  historyVerb(request)});
    if (written.remade) {
        plan.before = written.before;
        plan.after = written.after;
        plan.changes = record_fields::differences(plan.before, plan.after);
        if (!request.json)
            out << remadeLine(written, plan.deviceText) << Qt::endl;
    }
    if (request.json) {
        QJsonObject doc = planJson(plan);
        doc.insert(QStringLiteral("sent"), written.sent());
        doc.insert(QStringLiteral("result"), written.result >= 0 ? QJsonValue(written.result) : QJsonValue());
        doc.insert(QStringLiteral("outcome"), outcomeName(written));
        if (written.status == WriteOutcome::Conflict)
            doc.insert(QStringLiteral("changedMeanwhile"), QJsonArray::fromStringList(written.fields));
        out << QJsonDocument(doc).toJson(QJsonDocument::Indented);
        out.flush();
    }
    return printWriteOutcome(written, plan.deviceText, request.json, out, err, texts::kWritten);
}

/** writeOneOfMany once the device has been read (`before`); `report` is filled as the write goes on. */
bool writeReadDevice(const VerbRequest& request, const Target& target, const EnvRecord& before,
                     const QList<Change>& changes, PasswordOnce& password, QString& outcome, DeviceWrite& report)
{
    EnvRecord after = before;
    if (const std::optional<QString> refused = applyChanges(after, changes, &report.warnings)) {
        outcome = *refused;
        return false;
    }
    report.before = before;
    report.after = after;
    report.made = true;
    if (record_fields::differences(before, after).isEmpty()) {
        // Nothing to send: the device already holds every value asked for.
        if (!report.skipUnchanged)
            outcome = programText(texts::kAlreadySet);
        return true;
    }
    if (request.dryRun) {
        outcome = programText(texts::kDryRunMany).arg(record_fields::differences(before, after).size());
        return true;
    }
    const QString typed =
        before.hasPassword()
            ? password.get(programText(texts::kPasswordPrompt).arg(targetText(target)) + QStringLiteral(": "))
            : QString();
    if (const std::optional<QString> refused = passwordRefusal(after, typed)) {
        outcome = *refused;
        return false;
    }
    const WriteOutcome written =
        runGuardedWrite(request, {target, before, after, typed.toLatin1(), changesOf(changes), namedFields(changes),
                                  historyVerb(request)});
    // Made again on new settings, the changes are those from the new settings.
    report.before = written.before;
    report.after = written.after;
    report.sent = written.sent();
    outcome = writeOutcomeLine(written, targetText(target), programText(texts::kWrittenShort));
    return written.stored();
}
} // namespace

QJsonArray changesJson(const QList<record_fields::Difference>& differences, const EnvRecord& before,
                       const EnvRecord& after)
{
    QJsonArray changes;
    for (const record_fields::Difference& d : differences) {
        // Named fields carry their values as read --json shows them; other bytes their hex.
        const std::optional<record_fields::FieldRef> ref = record_fields::resolve(d.field);
        changes.append(
            QJsonObject{{QStringLiteral("field"), d.field},
                        {QStringLiteral("old"), ref ? record_fields::jsonValue(*ref, before) : QJsonValue(d.before)},
                        {QStringLiteral("new"), ref ? record_fields::jsonValue(*ref, after) : QJsonValue(d.after)}});
    }
    return changes;
}

DeviceResult writeOneOfMany(const VerbRequest& request, const Target& target, const EnvRecord& before,
                            const QList<Change>& changes, PasswordOnce& password, QString& outcome, DeviceWrite* report)
{
    DeviceWrite unused;
    return writeReadDevice(request, target, before, changes, password, outcome, report ? *report : unused)
               ? DeviceResult::Done
               : DeviceResult::Failed;
}

int writeVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console)
{
    QStringList names;
    QList<Change> changes;
    QString error;
    if (!parseOperands(request, names, changes, error))
        return printUsageError(err, error);
    const bool many = request.all || names.size() > 1;
    if (many && request.json)
        return printUsageError(err, QStringLiteral("write: --json reports on one device; name one"));
    int status = 0;
    const std::optional<QList<Target>> targets = deviceTargets(request, names, QStringLiteral("write"), err, status);
    if (!targets)
        return status;
    if (!many)
        return writeOne(request, targets->constFirst(), changes, out, err, console);
    if (!confirmedForMany(request, targets->size(), err))
        return kExitUsage;
    PasswordOnce password(console, request.passwordStdin);
    // Each device's values left as it holds them, said on this thread beside its result line.
    std::vector<QStringList> warnings(static_cast<std::size_t>(targets->size()));
    // A dry run wrote nothing, so it has no "written" summary: its lines say what would change.
    // Devices a search of --all could not hold (status 1, already said) make the run fail whatever the
    // others did.
    return std::max(status, serveEach(
        request, out, *targets, request.dryRun ? 0 : texts::kWrittenSummary,
        [&](const Target& target, const EnvRecord& before, QString& outcome) {
            const qsizetype i = &target - targets->constData(); // serveEach hands out the list's own items
            DeviceWrite report;
            const DeviceResult result = writeOneOfMany(request, target, before, changes, password, outcome, &report);
            warnings[static_cast<std::size_t>(i)] = report.warnings;
            return result;
        },
        [&](int i, DeviceResult, QString&) {
            printLeftAsIs(err, QStringLiteral("write"), targetText(targets->at(i)),
                          warnings.at(static_cast<std::size_t>(i)));
        }));
}
} // namespace cli
