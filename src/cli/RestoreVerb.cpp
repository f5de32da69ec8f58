// cormapmp-cli restore: writes a record the settings history kept back to its device, with the checks,
// password handling and output of write.
#include "CliConsole.h"
#include "CliTexts.h"
#include "DeviceTargets.h"
#include "WriteReport.h"
#include "device/HistoryKeeper.h"
#include "ExitStatus.h"
#include "HistoryVerbs.h"
#include "record/RecordEdit.h"
#include "SettingsFileLoad.h"
#include "Verbs.h"
#include "net/CNetEnv.h"
#include "protocol/Codec.h"
#include "protocol/Ipv4.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace cli {
namespace {
constexpr int kFieldWidth = 22;

/** The entry a restore names: of the device itself ("3", "latest") or with a MAC ("02:…@3"). */
struct EntryName
{
    std::optional<Mac> mac;
    QString number = QStringLiteral("latest");
    QString text; // as typed
};

std::optional<EntryName> entryName(const VerbRequest& request, QTextStream& err)
{
    EntryName name;
    if (request.operands.size() < 2)
        return name;
    name.text = request.operands.at(1);
    name.number = name.text;
    if (const qsizetype at = name.text.indexOf(u'@'); at >= 0) {
        name.mac = parseMac(name.text.left(at));
        name.number = name.text.mid(at + 1);
        if (!name.mac) {
            printUsageError(err, QStringLiteral("restore: \"%1\" names no history entry: write NUMBER, latest or "
                                                "MAC@NUMBER")
                                     .arg(name.text));
            return std::nullopt;
        }
    }
    return name;
}

/** Refuses an entry of another device: identity bytes never come from an entry. */
bool refuseOtherDevice(const EntryName& name, const Mac& device, QTextStream& err)
{
    if (!name.mac || *name.mac == device)
        return false;
    printUsageError(err,
                    QStringLiteral("restore: ") + programText(texts::kOtherDevice).arg(name.text, macText(device)));
    return true;
}

/** The record a restore writes: the kept settings, the device's own MAC. */
EnvRecord restored(const settings_history::Entry& entry, const EnvRecord& device)
{
    EnvRecord record = entry.before;
    record.setMac(device.mac());
    return record;
}

QJsonObject planJson(const EnvRecord& before, const EnvRecord& after, int number, bool sent)
{
    QJsonArray changes;
    for (const record_fields::Difference& d : settingsDifferences(before, after, false)) {
        const std::optional<record_fields::FieldRef> ref = record_fields::resolve(d.field);
        changes.append(
            QJsonObject{{QStringLiteral("field"), d.field},
                        {QStringLiteral("old"), ref ? record_fields::jsonValue(*ref, before) : QJsonValue(d.before)},
                        {QStringLiteral("new"), ref ? record_fields::jsonValue(*ref, after) : QJsonValue(d.after)}});
    }
    return {{QStringLiteral("mac"), QString::fromStdString(before.macText())},
            {QStringLiteral("entry"), number},
            {QStringLiteral("changes"), changes},
            {QStringLiteral("sent"), sent}};
}

void printChanges(QTextStream& out, const QString& device, const EnvRecord& before, const EnvRecord& after)
{
    out << programText(texts::kChangesTo).arg(device) << '\n';
    const QList<record_fields::Difference> changes = settingsDifferences(before, after, false);
    if (changes.isEmpty())
        out << "  " << programText(texts::kNothingChanges) << '\n';
    for (const record_fields::Difference& d : changes)
        out << "  " << d.field.leftJustified(kFieldWidth) << ' ' << d.before << " -> " << d.after << '\n';
    out.flush();
}

/** The write of the restored record, once the device has been read into `env` and the entry found. */
int writeBack(const VerbRequest& request, const Target& target, CNetEnv& env, const settings_history::Entry& entry,
              QTextStream& out, QTextStream& err, Console& console)
{
    EnvRecord before = env.record(0);
    EnvRecord after = restored(entry, before);
    const QString device = targetText(target);
    if (!request.json)
        printChanges(out, device, before, after);
    if (request.dryRun) {
        if (request.json)
            out << QJsonDocument(planJson(before, after, entry.number, false)).toJson(QJsonDocument::Indented);
        else
            out << programText(texts::kDryRun) << '\n';
        out.flush();
        return 0;
    }
    QString typed;
    if (before.hasPassword())
        typed = devicePassword(console, request.passwordStdin,
                               programText(texts::kPasswordPrompt).arg(device) + QStringLiteral(": "));
    // The fields the entry sets (those whose values it changes) are checked; the rest go back as they are.
    QStringList warnings;
    if (const std::optional<QString> refused = checkWrite(before, after, typed, {}, &warnings))
        return printUsageError(err, QStringLiteral("restore: ") + *refused);
    printLeftAsIs(err, QStringLiteral("restore"), QString(), warnings);
    const MakeChanges again = [&entry](EnvRecord& record) {
        record = restored(entry, record);
        return std::optional<QString>();
    };
    const WriteOutcome written = runGuardedWrite(request, {target, before, after, typed.toLatin1(), again,
                                                           record_fields::changedSettings(before, after),
                                                           QStringLiteral("restore")});
    if (request.json && written.status != WriteOutcome::LockTimeout && written.status != WriteOutcome::Conflict &&
        written.status != WriteOutcome::NoAnswer) {
        QJsonObject doc = planJson(written.before, written.after, entry.number, true);
        doc.insert(QStringLiteral("result"), written.result >= 0 ? QJsonValue(written.result) : QJsonValue());
        doc.insert(QStringLiteral("outcome"), outcomeName(written));
        out << QJsonDocument(doc).toJson(QJsonDocument::Indented);
        out.flush();
    }
    return printWriteOutcome(written, device, request.json, out, err, texts::kWritten);
}
} // namespace

int restoreVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console)
{
    if (request.operands.isEmpty() || request.operands.size() > 2 || request.ipAddress || request.all)
        return printUsageError(err, QStringLiteral("restore: name one device (MAC or IPv4 address) and, if not the "
                                                   "latest, the history entry to write back"));
    const std::optional<Target> target = targetOf(request.operands.at(0), request, QStringLiteral("restore"), err);
    if (!target)
        return kExitUsage;
    const std::optional<EntryName> name = entryName(request, err);
    if (!name)
        return kExitUsage;
    // A device named by its MAC is refused another device's entry before anything is sent.
    if (target->mac && refuseOtherDevice(*name, *target->mac, err))
        return kExitUsage;
    CNetEnv env(request.profile);
    if (const Outcome read = readTarget(env, *target); read != Outcome::Answered)
        return printFailure(err, read, env.openError());
    const Mac mac = env.record(0).mac();
    if (refuseOtherDevice(*name, mac, err))
        return kExitUsage;
    const std::optional<settings_history::Entry> entry = findEntry(historyStore(request), mac, name->number, err);
    if (!entry)
        return kExitUsage;
    return writeBack(request, *target, env, *entry, out, err, console);
}
} // namespace cli
