// cormapmp-cli history and diff: what writes replaced, and the differences between two records, each
// from a device, a settings file or a history entry.
#include "HistoryVerbs.h"
#include "device/DeviceName.h"
#include "device/HistoryKeeper.h"
#include "CliTexts.h"
#include "ExitStatus.h"
#include "SettingsFileLoad.h"
#include "Verbs.h"
#include "net/CNetEnv.h"
#include "record/RecordFields.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTextStream>

namespace cli {
namespace {

/** One side of a diff: a record and where it came from. */
struct Side
{
    EnvRecord record;
    bool file = false; // a settings file carries no MAC and no password
};

std::optional<Side> deviceSide(const QString& operand, const VerbRequest& request, QTextStream& err)
{
    const std::optional<Target> target = targetOf(operand, request, QStringLiteral("diff"), err);
    if (!target)
        return std::nullopt;
    CNetEnv env(request.profile);
    if (const Outcome read = readTarget(env, *target); read != Outcome::Answered) {
        printFailure(err, read, env.openError());
        return std::nullopt;
    }
    return Side{env.record(0), false};
}

std::optional<Side> sideOf(const QString& operand, const VerbRequest& request, QTextStream& err)
{
    if (operand.contains(u'@')) {
        const std::optional<settings_history::Entry> entry = historyEntry(operand, request, err);
        return entry ? std::optional<Side>(Side{entry->before, false}) : std::nullopt;
    }
    // A name with a colon or of digits and dots is a device; anything else a settings file.
    static const QRegularExpression address(QRegularExpression::anchoredPattern(QStringLiteral("\\s*[0-9.]+\\s*")));
    if (operand.contains(u':') || address.match(operand).hasMatch())
        return deviceSide(operand, request, err);
    int status = 0;
    const std::optional<EnvRecord> record = loadFile(operand, err, status);
    return record ? std::optional<Side>(Side{*record, true}) : std::nullopt;
}

QJsonValue jsonOf(const record_fields::Difference& d, const EnvRecord& record, const QString& text)
{
    const std::optional<record_fields::FieldRef> ref = record_fields::resolve(d.field);
    return ref ? record_fields::jsonValue(*ref, record) : QJsonValue(text);
}

QJsonObject entryJson(const settings_history::Entry& entry)
{
    return {{QStringLiteral("number"), entry.number},
            {QStringLiteral("time"), entry.time.toUTC().toString(Qt::ISODateWithMs)},
            {QStringLiteral("program"), entry.program},
            {QStringLiteral("verb"), entry.verb},
            {QStringLiteral("changed"), QJsonArray::fromStringList(entry.changed())}};
}

/** The MAC of the device `operand` names: as given, or asked of the device at an address. */
std::optional<Mac> macOfDevice(const QString& operand, const VerbRequest& request, QTextStream& err, int& status)
{
    status = kExitUsage;
    const std::optional<Target> target = targetOf(operand, request, QStringLiteral("history"), err);
    if (!target)
        return std::nullopt;
    if (target->mac)
        return target->mac;
    CNetEnv env(request.profile);
    if (const Outcome read = readTarget(env, *target); read != Outcome::Answered) {
        status = printFailure(err, read, env.openError());
        return std::nullopt;
    }
    return env.record(0).mac();
}
} // namespace

settings_history::Store historyStore(const VerbRequest& request)
{
    return request.history ? request.history->store() : settings_history::Store();
}

std::optional<settings_history::Entry> findEntry(const settings_history::Store& store, const Mac& mac,
                                                 const QString& number, QTextStream& err)
{
    static const QRegularExpression digits(QRegularExpression::anchoredPattern(QStringLiteral("[1-9][0-9]{0,8}")));
    std::optional<settings_history::Entry> entry;
    if (number == QLatin1String("latest"))
        entry = store.latest(mac);
    else if (digits.match(number).hasMatch())
        entry = store.entry(mac, number.toInt());
    else
        printUsageError(err,
                        QStringLiteral("\"%1\" names no history entry: give its number or \"latest\"").arg(number));
    if (!entry && (number == QLatin1String("latest") || digits.match(number).hasMatch()))
        printUsageError(err, programText(texts::kNoEntry).arg(number, macText(mac), store.deviceFolder(mac)));
    return entry;
}

std::optional<settings_history::Entry> historyEntry(const QString& operand, const VerbRequest& request,
                                                    QTextStream& err)
{
    const qsizetype at = operand.indexOf(u'@');
    const std::optional<Mac> mac = parseMac(operand.left(at));
    if (!mac) {
        printUsageError(err, QStringLiteral("\"%1\" names no history entry: write MAC@NUMBER or MAC@latest, like "
                                            "02:11:22:0a:bc:de@3")
                                 .arg(operand));
        return std::nullopt;
    }
    return findEntry(historyStore(request), *mac, operand.mid(at + 1), err);
}

QList<record_fields::Difference> settingsDifferences(const EnvRecord& a, const EnvRecord& b, bool fileInvolved)
{
    QList<record_fields::Difference> list;
    for (const record_fields::Difference& d : record_fields::differences(a, b)) {
        // What the device changes by itself is no setting; a settings file carries no MAC and no password.
        const bool own = d.field == QLatin1String("password") || d.field == QLatin1String("sourceAddress");
        const bool notInFiles = d.field == QLatin1String("mac") || d.field == QLatin1String("passwordSet");
        if (!own && !(fileInvolved && notInFiles))
            list << d;
    }
    return list;
}

int historyVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console&)
{
    if (request.operands.size() != 1 || request.ipAddress)
        return printUsageError(err, QStringLiteral("history: name one device by its MAC or IPv4 address"));
    int status = 0;
    const std::optional<Mac> mac = macOfDevice(request.operands.constFirst(), request, err, status);
    if (!mac)
        return status;
    const settings_history::Store store = historyStore(request);
    const QList<settings_history::Entry> entries = store.entries(*mac);
    if (request.json) {
        QJsonArray list;
        for (const settings_history::Entry& e : entries)
            list.append(entryJson(e));
        out << QJsonDocument(QJsonObject{{QStringLiteral("mac"), macText(*mac)},
                                         {QStringLiteral("folder"), store.deviceFolder(*mac)},
                                         {QStringLiteral("entries"), list}})
                   .toJson(QJsonDocument::Indented);
        out.flush();
        return 0;
    }
    if (entries.isEmpty()) {
        out << programText(texts::kNoHistory).arg(macText(*mac), store.deviceFolder(*mac)) << Qt::endl;
        return 0;
    }
    out << programText(texts::kHistoryOf).arg(macText(*mac)).arg(entries.size()).arg(store.deviceFolder(*mac)) << '\n';
    for (const settings_history::Entry& e : entries) {
        const QStringList changed = e.changed();
        out << QStringLiteral("%1  %2  %3 %4  ")
                   .arg(e.number, 5)
                   .arg(e.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), e.program, e.verb)
            << (changed.isEmpty() ? programText(texts::kNothingChanged) : changed.join(QStringLiteral(", "))) << '\n';
    }
    out.flush();
    return 0;
}

int diffVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console&)
{
    if (request.operands.size() != 2 || request.ipAddress)
        return printUsageError(err, QStringLiteral("diff: name two records, each a device (MAC or IPv4 address), a "
                                                   "settings file or a history entry (MAC@NUMBER, MAC@latest)"));
    // Anything that cannot be compared (a bad name, no answer, an unreadable file) is no answer to "do
    // they differ?": exit status 2, never 1.
    const std::optional<Side> a = sideOf(request.operands.at(0), request, err);
    if (!a)
        return kExitUsage;
    const std::optional<Side> b = sideOf(request.operands.at(1), request, err);
    if (!b)
        return kExitUsage;
    const QList<record_fields::Difference> list = settingsDifferences(a->record, b->record, a->file || b->file);
    if (request.json) {
        QJsonArray differences;
        for (const record_fields::Difference& d : list)
            differences.append(QJsonObject{{QStringLiteral("field"), d.field},
                                           {QStringLiteral("a"), jsonOf(d, a->record, d.before)},
                                           {QStringLiteral("b"), jsonOf(d, b->record, d.after)}});
        out << QJsonDocument(QJsonObject{{QStringLiteral("a"), request.operands.at(0)},
                                         {QStringLiteral("b"), request.operands.at(1)},
                                         {QStringLiteral("equal"), list.isEmpty()},
                                         {QStringLiteral("differences"), differences}})
                   .toJson(QJsonDocument::Indented);
    } else {
        for (const record_fields::Difference& d : list)
            out << d.field << ": " << d.before << " -> " << d.after << '\n';
    }
    out.flush();
    return list.isEmpty() ? 0 : kExitDiffer;
}
} // namespace cli
