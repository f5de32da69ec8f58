// cormapmp-cli search and read: finding devices and printing one device's record, as the search window
// finds and reads them.

#include "device/DeviceName.h"
#include "CliMessages.h"
#include "device/DeviceRequests.h"
#include "DeviceTargets.h"
#include "RecordFormat.h"
#include "Verbs.h"
#include "net/CNetEnv.h"
#include "net/SearchList.h"
#include "protocol/Ipv4.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

namespace cli {
namespace {
void printSearch(const CNetEnv& env, bool byAddress, bool json, QTextStream& out)
{
    if (json) {
        QJsonArray devices;
        for (int i = 0; i < env.count(); ++i)
            devices.append(summaryJson(env.record(i)));
        out << jsonText(QJsonDocument(devices));
    } else {
        for (int i = 0; i < env.count(); ++i) {
            const EnvRecord& r = env.record(i);
            const QString first = byAddress ? ipv4::dotted(r.sourceAddress()) : QString::fromStdString(r.macText());
            out << summaryLine(first, r) << '\n';
        }
    }
    out.flush();
}

/** Why a read's arguments name no device, or nothing; the device's name in `device`. */
std::optional<QString> readRefusal(const VerbRequest& request, DeviceName& device)
{
    if (request.ipAddress)
        return QStringLiteral("read: name the device as an argument, not with --ip");
    if (request.operands.isEmpty())
        return QStringLiteral("read: name the device by its MAC (02:11:22:0a:bc:de) or IPv4 address");
    if (request.operands.size() > 1)
        return QStringLiteral("read: unexpected argument \"%1\"").arg(request.operands.at(1));
    device = parseDeviceName(request.operands.constFirst());
    if (!device.error.isEmpty())
        return QStringLiteral("read: ") + device.error;
    if (!device.mac && (request.bindAddress || request.allAdapters))
        return QStringLiteral("read: --bind and --all-adapters apply to broadcasts only, not to a read by IP address");
    return std::nullopt;
}
} // namespace

int searchVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console&)
{
    if (!request.operands.isEmpty())
        return printUsageError(err,
                               QStringLiteral("search: unexpected argument \"%1\"").arg(request.operands.constFirst()));
    if (request.ipAddress && (request.bindAddress || request.allAdapters))
        return printUsageError(err, QStringLiteral("search: --bind and --all-adapters apply to broadcasts only, not "
                                                   "to a search with --ip"));
    if (request.json && request.csv)
        return printUsageError(err, QStringLiteral("search: --json and --csv exclude each other"));
    CNetEnv env(request.profile, request.searchLimit);
    if (request.ipAddress && (request.searchWaitMs || request.expect))
        return printUsageError(err, QStringLiteral("search: --wait and --expect apply to broadcasts only, not to a "
                                                   "search with --ip"));
    // Devices that answered beyond what the search holds are said on the error stream, and make it exit 1.
    int notHeld = 0;
    const Outcome outcome =
        request.ipAddress ? searchByIp(env, *request.ipAddress) : searchEveryDevice(env, request, err, notHeld);
    if (outcome != Outcome::Answered)
        return printFailure(err, outcome, env.openError());
    if (env.count() > 1)
        env.sortByMac();
    if (request.csv) {
        out << QString::fromUtf8(search_list::csv(env));
        out.flush();
        return notHeld;
    }
    printSearch(env, request.ipAddress.has_value(), request.json, out);
    return notHeld;
}

int readVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console&)
{
    DeviceName device;
    if (const std::optional<QString> refused = readRefusal(request, device))
        return printUsageError(err, *refused);
    CNetEnv env(request.profile);
    const Outcome outcome = device.mac
                                ? readByMac(env, request.bindAddress.value_or(0), *device.mac, request.allAdapters)
                                : readByIp(env, device.address);
    if (outcome != Outcome::Answered)
        return printFailure(err, outcome, env.openError());
    // The table was empty before the request, so the answer is record 0 (with its sourceAddress set).
    if (request.json)
        out << jsonText(QJsonDocument(recordJson(env.record(0))));
    else
        out << recordText(env.record(0));
    out.flush();
    return 0;
}
} // namespace cli
