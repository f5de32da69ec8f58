// cormapmp-cli firmware: checks its arguments, loads the file, finds the device and runs the upload
// (FirmwareUpload), or hands several devices to FirmwareMany.

#include "device/DeviceName.h"
#include "CliMessages.h"
#include "device/DeviceRequests.h"
#include "ExitStatus.h"
#include "FirmwareMany.h"
#include "FirmwareUpload.h"
#include "Verbs.h"
#include "firmware/FirmwareImage.h"
#include "net/CNetEnv.h"
#include "protocol/Ipv4.h"
#include "text/StringTable.h"

#include <QFileInfo>
#include <QLocale>
#include <QTextStream>

namespace cli {
namespace {

/** Reads the device with `mac` for its address and product code, as the search window has them; an exit
 *  status. */
int findByMac(const VerbRequest& request, const Mac& mac, std::uint32_t& address, int& productCode, QTextStream& err)
{
    CNetEnv env(request.profile);
    const Outcome outcome = readByMac(env, request.bindAddress.value_or(0), mac, request.allAdapters);
    if (outcome != Outcome::Answered)
        return printFailure(err, outcome, env.openError());
    address = env.record(0).ipAddress();
    productCode = env.record(0).productCode();
    if (!ipv4::isUnicastDeviceAddress(address)) {
        err << "cormapmp-cli: firmware: the device reports the address " << ipv4::dotted(address)
            << ", which names no single device" << Qt::endl;
        return kExitFailed;
    }
    return 0;
}

/** Why the arguments name no upload, or nothing; the one device's name in `device`. */
std::optional<QString> checkArguments(const VerbRequest& request, bool many, DeviceName& device)
{
    if (request.operands.isEmpty() || (request.operands.size() < 2 && !request.all))
        return QStringLiteral("firmware: name the file and the device (MAC or IPv4 address)");
    if (request.ipAddress)
        return QStringLiteral("firmware: name the device as an argument, not with --ip");
    // Uploads are heavier than exchanges: firmware keeps a cap of its own.
    if (request.jobs > kMaxFirmwareJobs)
        return QStringLiteral("--jobs: \"%1\" is not a number from 1 to %2").arg(request.jobs).arg(kMaxFirmwareJobs);
    if (many)
        return std::nullopt;
    device = parseDeviceName(request.operands.at(1));
    if (!device.error.isEmpty())
        return QStringLiteral("firmware: ") + device.error;
    if (!device.mac && (request.bindAddress || request.allAdapters))
        return QStringLiteral("firmware: --bind and --all-adapters apply to a device named by its MAC only");
    return std::nullopt;
}

/** The image's refusal as a usage error: a file that cannot be read, a stream too long for one upload, a
 *  silent or empty stream. */
std::optional<QString> imageRefusal(const FirmwareImage& image, const QString& path)
{
    if (image.errorCode != 0)
        return QStringLiteral("firmware: ") + fileProblem(path, image.errorCode);
    if (image.loaded())
        return std::nullopt;
    const QLocale locale = QLocale::system();
    const QString text =
        image.problemText(StringTable(StringTable::languageFor(locale)), locale, QFileInfo(path).fileName());
    return QString(text).replace(QStringLiteral("\r\n"), QStringLiteral(" "));
}
} // namespace

int firmwareVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console&)
{
    const bool many = request.operands.size() > 2 || request.all;
    DeviceName device;
    if (const std::optional<QString> refused = checkArguments(request, many, device))
        return printUsageError(err, *refused);
    // The whole file (or stream), read once before anything is sent; what is sent is what was read.
    const QString path = request.operands.at(0);
    const FirmwareImage image = FirmwareImage::load(path);
    if (const std::optional<QString> refused = imageRefusal(image, path))
        return printUsageError(err, *refused);
    const QString fileName = QFileInfo(path).fileName();
    if (many)
        return firmwareToMany(request, image.bytes, fileName, out, err);
    FirmwareJob job{image.bytes, fileName, device.address, false};
    int productCode = -1;
    if (device.mac) {
        if (const int status = findByMac(request, *device.mac, job.target, productCode, err); status != 0)
            return status;
    }
    job.shell = usesShell(request.way, productCode);
    out << "Sending " << fileName << " (" << image.bytes.size() << " bytes, CRC " << image.crcText() << ") to "
        << ipv4::dotted(job.target) << (job.shell ? " through the shell" : " by TFTP") << '\n';
    out.flush();
    return runFirmwareUpload(request.profile, job, out, err, request.terminal) ? 0 : kExitFailed;
}
} // namespace cli
