// cormapmp-cli status: a device's status report, decoded as the status dialog shows it.
#include "device/DeviceName.h"
#include "CliTexts.h"
#include "DeviceTargets.h"
#include "device/EditorRequests.h"
#include "StatusWatch.h"
#include "Verbs.h"
#include "net/CNetEnv.h"
#include "status/StatusReport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>

namespace cli {
namespace {
using status::Field;

constexpr int kLabelWidth = 10;
constexpr int kCounterWidth = 12;

/** The report's fields by the dialog's labels and by their JSON names. */
struct FieldName
{
    Field field;
    const char* label;
    const char* key;
};
constexpr FieldName kIdentity[] = {
    {Field::Version, "Version", "version"},
    {Field::Uptime, "Uptime", "uptime"},
    {Field::Mac, "MAC", "mac"},
    {Field::LocalIp, "Local IP", "localIp"},
    {Field::Subnet, "Subnet", "subnet"},
    {Field::Gateway, "Gateway", "gateway"},
};

/** The device's line breaks ("\r\n", or a lone CR or LF) as "\n". */
QString lineBreaks(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

QString reportText(const status::StatusFields& fields, QString text)
{
    QString out;
    for (const FieldName& f : kIdentity)
        out += QString::fromLatin1(f.label).leftJustified(kLabelWidth) + fields[f.field] + QLatin1Char('\n');
    out += QString(kLabelWidth, QLatin1Char(' ')) + QStringLiteral("RX").leftJustified(kCounterWidth) +
           QStringLiteral("TX\n");
    for (int port = 0; port < 4; ++port) {
        out += QStringLiteral("COM%1").arg(port + 1).leftJustified(kLabelWidth) +
               fields[status::comField(port, false)].leftJustified(kCounterWidth) +
               fields[status::comField(port, true)] + QLatin1Char('\n');
    }
    text = lineBreaks(text);
    if (!text.isEmpty())
        out += QLatin1Char('\n') + text + (text.endsWith(QLatin1Char('\n')) ? QString() : QStringLiteral("\n"));
    return out;
}

/** Absent fields are null; the counters are numbers. */
QJsonObject reportJson(const status::StatusFields& fields, const QString& text, int result)
{
    QJsonObject json;
    const auto value = [](const QString& s) { return s.isEmpty() ? QJsonValue() : QJsonValue(s); };
    for (const FieldName& f : kIdentity)
        json.insert(QLatin1String(f.key), value(fields[f.field]));
    for (int port = 0; port < 4; ++port) {
        for (const bool tx : {false, true}) {
            const QString counter = fields[status::comField(port, tx)];
            json.insert(QStringLiteral("com%1%2").arg(port + 1).arg(tx ? QStringLiteral("Tx") : QStringLiteral("Rx")),
                        counter.isEmpty() ? QJsonValue() : QJsonValue(counter.toDouble()));
        }
    }
    json.insert(QStringLiteral("text"), lineBreaks(text));
    json.insert(QStringLiteral("result"), result);
    return json;
}
/** One device's report on one line, for a status of several devices. */
QString reportLine(const status::StatusFields& fields)
{
    QString line = QStringLiteral("version %1  uptime %2").arg(fields[Field::Version], fields[Field::Uptime]);
    for (int port = 0; port < 4; ++port)
        line += QStringLiteral("  COM%1 RX %2 TX %3")
                    .arg(port + 1)
                    .arg(fields[status::comField(port, false)], fields[status::comField(port, true)]);
    return line;
}

/** The status of one of several devices once it has been read: its report on one line. */
DeviceResult statusOfOne(const VerbRequest& request, const Target& target, const EnvRecord& record, QString& outcome)
{
    CNetEnv env(request.profile);
    if (const Outcome answered = requestStatus(env, target, record); answered != Outcome::Answered) {
        outcome = failureLine(answered, env.openError());
        return DeviceResult::Failed;
    }
    status::StatusFields fields;
    status::decode(env.statusData(), fields);
    outcome = reportLine(fields);
    return DeviceResult::Done;
}

/** `status` of several devices (or --all): one line per device, then a summary. */
int statusOfMany(const VerbRequest& request, QTextStream& out, QTextStream& err)
{
    if (request.json)
        return printUsageError(err, QStringLiteral("status: --json reports on one device; name one"));
    int status = 0;
    const std::optional<QList<Target>> targets =
        deviceTargets(request, request.operands, QStringLiteral("status"), err, status);
    if (!targets)
        return status;
    // status: 1 when the search of --all left devices out (already said).
    return std::max(status, serveEach(request, out, *targets, texts::kAnsweredSummary,
                                      [&request](const Target& target, const EnvRecord& record, QString& outcome) {
                                          return statusOfOne(request, target, record, outcome);
                                      }));
}
} // namespace

int statusVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console&)
{
    if (request.watch)
        return statusWatch(request, out, err);
    if (request.interval || request.count || request.openMetrics)
        return printUsageError(err, QStringLiteral("status: --interval, --count and --openmetrics go with --watch"));
    if (request.ipAddress)
        return printUsageError(err, QStringLiteral("status: name the device as an argument, not with --ip"));
    if (request.dryRun || request.passwordStdin)
        return printUsageError(err, QStringLiteral("status: --dry-run and --password-stdin apply to write only"));
    if (request.all || request.operands.size() > 1)
        return statusOfMany(request, out, err);
    if (request.operands.isEmpty())
        return printUsageError(
            err, QStringLiteral("status: name the device by its MAC (02:11:22:0a:bc:de) or IPv4 address, or --all"));
    const DeviceName device = parseDeviceName(request.operands.constFirst());
    if (!device.error.isEmpty())
        return printUsageError(err, QStringLiteral("status: ") + device.error);
    if (!device.mac && (request.bindAddress || request.allAdapters))
        return printUsageError(err, QStringLiteral("status: --bind and --all-adapters apply to broadcasts only, not "
                                                   "to a device named by its IP address"));
    const Target target = targetFor(device, request);
    CNetEnv env(request.profile);
    Outcome outcome = readTarget(env, target);
    if (outcome == Outcome::Answered)
        outcome = requestStatus(env, target, env.record(0));
    if (outcome != Outcome::Answered)
        return printFailure(err, outcome, env.openError());
    status::StatusFields fields;
    const QString text = status::decode(env.statusData(), fields);
    if (request.json)
        out << QJsonDocument(reportJson(fields, text, env.replyResult())).toJson(QJsonDocument::Indented);
    else
        out << reportText(fields, text);
    out.flush();
    return 0;
}
} // namespace cli
