#include "FirmwareMany.h"
#include "CliTexts.h"
#include "ExitStatus.h"

#include "device/DeviceRequests.h"
#include "DeviceTargets.h"
#include "firmware/CQuickBurnWnd.h"
#include "firmware/PleaseWaitWindow.h"
#include "net/CNetEnv.h"
#include "protocol/Ipv4.h"
#include "text/StringTable.h"

#include <QEventLoop>
#include <QLocale>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace cli {
namespace {

/** Several uploads at once show no please-wait window: each device's line says how it ended. */
class NoWindow final : public PleaseWaitWindow
{
public:
    void ShowProgress(const QString&) override {}
    void HideProgress() override {}
};

/** One device's upload: where it goes, how, and how it ended. */
struct Upload
{
    Target target;
    FirmwareJob job;
    QString outcome; // the line's text once the device is done (or could not be found)
    bool failed = false;
    bool repeated = false; // the device of an earlier name: not uploaded to again
    bool started = false;
    bool done = false;
    std::unique_ptr<CQuickBurnWnd> engine;
};

/** Finds a device named by its MAC: its address and product, as the search window has them. */
bool locate(const VerbRequest& request, Upload& upload, FirmwareWay way)
{
    int productCode = -1;
    if (upload.target.mac) {
        CNetEnv env(request.profile);
        if (const Outcome read = readTarget(env, upload.target); read != Outcome::Answered) {
            upload.outcome = failureLine(read, env.openError());
            return false;
        }
        upload.job.target = env.record(0).ipAddress();
        productCode = env.record(0).productCode();
        if (!ipv4::isUnicastDeviceAddress(upload.job.target)) {
            upload.outcome = QStringLiteral("the device reports the address %1, which names no single device")
                                 .arg(ipv4::dotted(upload.job.target));
            return false;
        }
    } else {
        upload.job.target = upload.target.address;
    }
    upload.job.shell = usesShell(way, productCode);
    return true;
}

/** Once the names are resolved to the addresses the images go to, a device named twice (by its address
 *  and its MAC, or one name twice) gets one upload: two at once to one device would run into each other.
 *  Marks the later names and returns how many there were. */
int markRepeatedDevices(std::vector<Upload>& uploads)
{
    std::map<std::uint32_t, QString> first;
    int again = 0;
    for (Upload& u : uploads) {
        if (u.failed)
            continue;
        const auto [at, added] = first.try_emplace(u.job.target, targetText(u.target));
        if (added)
            continue;
        u.repeated = true;
        u.failed = true; // nothing is started for it
        u.outcome = ServedDevices::sameDeviceText(at->second);
        ++again;
    }
    return again;
}

/** Runs the uploads, at most `jobs` at a time, in one event loop until every one has ended. */
void runAll(const NetworkProfile& profile, std::vector<Upload>& uploads, int jobs)
{
    const StringTable strings(StringTable::languageFor(QLocale::system()));
    NoWindow window;
    QEventLoop loop;
    int running = 0;
    std::size_t next = 0;
    std::function<void()> startMore = [&] {
        while (running < jobs && next < uploads.size()) {
            Upload& u = uploads[next++];
            if (u.failed)
                continue;
            u.engine = std::make_unique<CQuickBurnWnd>(profile, &window);
            QObject::connect(u.engine.get(), &CQuickBurnWnd::transferNotification, &loop,
                             [&, up = &u](int code, qint64 value, const QString& message) {
                                 if (code == CQuickBurnWnd::kProgress)
                                     return;
                                 // A close with an error may add its code after the first: it still fails.
                                 up->failed = up->failed || code != CQuickBurnWnd::kComplete;
                                 if (up->outcome.isEmpty() || code != CQuickBurnWnd::kComplete)
                                     up->outcome =
                                         firmwareResultText(strings, code, value, message).section(u'\r', 0, 0);
                                 if (up->done)
                                     return;
                                 up->done = true;
                                 --running;
                                 QMetaObject::invokeMethod(&loop, startMore, Qt::QueuedConnection);
                             });
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(u.job.image.constData());
            const auto length = static_cast<std::uint32_t>(u.job.image.size());
            ++running;
            u.started = true;
            if (u.job.shell)
                u.engine->StartShellUpload(u.job.target, u.job.fileName, bytes, length);
            else
                u.engine->StartTftpUpload(u.job.target, u.job.fileName, bytes, length);
        }
        if (running == 0 && next >= uploads.size())
            loop.quit();
    };
    QMetaObject::invokeMethod(&loop, startMore, Qt::QueuedConnection);
    loop.exec();
}
} // namespace

int firmwareToMany(const VerbRequest& request, const QByteArray& image, const QString& fileName, QTextStream& out,
                   QTextStream& err)
{
    int status = 0;
    const std::optional<QList<Target>> targets =
        deviceTargets(request, request.operands.mid(1), QStringLiteral("firmware"), err, status);
    if (!targets)
        return status;
    if (!confirmedForMany(request, targets->size(), err))
        return kExitUsage;
    std::vector<Upload> uploads;
    for (const Target& target : *targets) {
        Upload u;
        u.target = target;
        u.job = FirmwareJob{image, fileName, 0, false};
        u.failed = !locate(request, u, request.way);
        uploads.push_back(std::move(u));
    }
    const int again = markRepeatedDevices(uploads);
    runAll(request.profile, uploads, std::clamp(request.jobs, 1, kMaxFirmwareJobs));
    int failed = 0;
    for (const Upload& u : uploads) {
        failed += u.failed && !u.repeated ? 1 : 0;
        out << resultLine(u.target, u.outcome) << '\n';
    }
    out.flush();
    // status: 1 when the search of --all left devices out (already said).
    return std::max(status, finishMany(out, texts::kFirmwareSummary, static_cast<qsizetype>(uploads.size()) - again, failed));
}
} // namespace cli
