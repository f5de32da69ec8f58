// cormapmp-cli write: changes settings of a device the way the settings editor writes them.
#include "CliArguments.h"
#include "CliConsole.h"
#include "EditorRequests.h"
#include "EditorVerbs.h"
#include "RecordEdit.h"
#include "net/CNetEnv.h"
#include "protocol/Codec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace cli {
namespace {
constexpr int kStrWritten = 940;
constexpr int kStrDryRun = 941;
constexpr int kStrPasswordPrompt = 942;
constexpr int kStrChangesTo = 943;
constexpr int kStrNothingChanges = 944;
constexpr int kFieldWidth = 22;
constexpr int kExitFailed = 1;
constexpr int kExitBadInput = 2;

/** What a write is about: the device, its record as read and as it will be written. */
struct Plan
{
    Target target;
    QString deviceText; // the MAC (and address) for the messages
    EnvRecord before;
    EnvRecord after;
    QList<FieldDifference> changes;
};

/** The device and the changes of the command line; a usage error's text in `error`. */
std::optional<Target> parseOperands(const VerbRequest& request, QList<Change>& changes, QString& error)
{
    if (request.ipOption) {
        error = QStringLiteral("write: name the device as an argument, not with --ip");
        return std::nullopt;
    }
    if (request.operands.size() < 2) {
        error = request.operands.isEmpty()
                    ? QStringLiteral("write: name the device by its MAC (02:11:22:0a:bc:de) or IPv4 address")
                    : QStringLiteral("write: name at least one change as field=value (like comment=Lab)");
        return std::nullopt;
    }
    const DeviceName device = parseDeviceName(request.operands.constFirst());
    if (!device.error.isEmpty()) {
        error = QStringLiteral("write: ") + device.error;
        return std::nullopt;
    }
    if (!device.mac && request.bindAddress) {
        error = QStringLiteral("write: --bind applies to broadcasts only, not to a device named by its IP address");
        return std::nullopt;
    }
    for (const QString& argument : request.operands.mid(1)) {
        const std::optional<Change> change = parseChange(argument, &error);
        if (!change) {
            error.prepend(QStringLiteral("write: "));
            return std::nullopt;
        }
        changes << *change;
    }
    if (const std::optional<QString> refused = checkChanges(changes)) {
        error = QStringLiteral("write: ") + *refused;
        return std::nullopt;
    }
    return Target{device.mac, device.address, request.bindAddress.value_or(0)};
}

QString describeDevice(const Target& target, const EnvRecord& record)
{
    const QString mac = QString::fromStdString(record.macText());
    return target.mac ? mac : QStringLiteral("%1 (%2)").arg(mac, dottedAddress(target.address));
}

void printChanges(QTextStream& out, const Plan& plan)
{
    out << programText(kStrChangesTo).arg(plan.deviceText) << '\n';
    if (plan.changes.isEmpty())
        out << "  " << programText(kStrNothingChanges) << '\n';
    for (const FieldDifference& d : plan.changes) {
        out << "  " << d.field.leftJustified(kFieldWidth) << ' ' << valueText(d.field, d.before) << " -> "
            << valueText(d.field, d.after) << '\n';
    }
    out.flush();
}

QJsonObject planJson(const Plan& plan)
{
    QJsonArray changes;
    for (const FieldDifference& d : plan.changes)
        changes.append(QJsonObject{
            {QStringLiteral("field"), d.field}, {QStringLiteral("old"), d.before}, {QStringLiteral("new"), d.after}});
    return {{QStringLiteral("mac"), QString::fromStdString(plan.before.macText())},
            {QStringLiteral("changes"), changes}};
}

/** The password a write carries: none for a device without one (the editor's Password box is then
 *  disabled), else from the console. Refused (exit 2) when the form would refuse it. */
std::optional<QByteArray> writePassword(const VerbRequest& request, const Plan& plan, Console& console,
                                        QTextStream& err)
{
    if (!plan.before.hasPassword())
        return QByteArray();
    const QString typed = devicePassword(console, request.passwordStdin,
                                         programText(kStrPasswordPrompt).arg(plan.deviceText) + QStringLiteral(": "));
    if (const std::optional<form::Problem> problem = form::validate(formValues(plan.after, typed))) {
        printUsageError(err, QStringLiteral("write: ") + problem->describe());
        return std::nullopt;
    }
    for (const QChar c : typed) {
        if (c.unicode() == 0 || c.unicode() > 0xFF) {
            printUsageError(err, QStringLiteral("write: password: holds a character a device cannot store"));
            return std::nullopt;
        }
    }
    return typed.toLatin1();
}

/** The device's answer to the write as the editor reports it; the exit status. */
int reportResult(const CNetEnv& env, Outcome outcome, bool json, const Plan& plan, QTextStream& out, QTextStream& err)
{
    if (json) {
        QJsonObject doc = planJson(plan);
        doc.insert(QStringLiteral("sent"), true);
        doc.insert(QStringLiteral("result"),
                   outcome == Outcome::Answered ? QJsonValue(int{env.replyResult()}) : QJsonValue());
        out << QJsonDocument(doc).toJson(QJsonDocument::Indented);
        out.flush();
    }
    if (outcome != Outcome::Answered)
        return printFailure(err, outcome);
    switch (env.replyResult()) {
    case frame::kResultOk:
        if (!json)
            out << programText(kStrWritten) << Qt::endl;
        return 0;
    case frame::kResultWrongPassword:
        err << passwordMismatchText() << Qt::endl;
        return kExitFailed;
    default:
        err << unknownResponseText() << Qt::endl;
        return kExitFailed;
    }
}
} // namespace

int writeVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console)
{
    QList<Change> changes;
    QString error;
    const std::optional<Target> target = parseOperands(request, changes, error);
    if (!target)
        return printUsageError(err, error);
    CNetEnv env(request.profile);
    if (const Outcome outcome = readTarget(env, *target); outcome != Outcome::Answered)
        return printFailure(err, outcome);
    Plan plan{*target, describeDevice(*target, env.record(0)), env.record(0), env.record(0), {}};
    if (const std::optional<QString> refused = applyChanges(plan.after, changes)) {
        err << "cormapmp-cli: write: " << *refused << Qt::endl;
        return kExitBadInput;
    }
    plan.changes = differences(plan.before, plan.after);
    if (!request.json)
        printChanges(out, plan);
    if (request.dryRun) {
        if (request.json) {
            QJsonObject doc = planJson(plan);
            doc.insert(QStringLiteral("sent"), false);
            out << QJsonDocument(doc).toJson(QJsonDocument::Indented);
        } else {
            out << programText(kStrDryRun) << '\n';
        }
        out.flush();
        return 0;
    }
    const std::optional<QByteArray> password = writePassword(request, plan, console, err);
    if (!password)
        return kExitBadInput;
    const Outcome outcome = writeSettings(env, *target, plan.after, *password);
    return reportResult(env, outcome, request.json, plan, out, err);
}
} // namespace cli
