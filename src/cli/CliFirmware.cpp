// The firmware verb of CliTool: checks its arguments, loads the file, finds the device and runs the
// upload (FirmwareUpload).

#include "CliArguments.h"
#include "CliTool.h"
#include "DeviceRequests.h"
#include "FirmwareMany.h"
#include "FirmwareUpload.h"
#include "firmware/FirmwareImage.h"
#include "net/CNetEnv.h"
#include "text/StringTable.h"

#include <QFileInfo>
#include <QLocale>
#include <QTextStream>

int CliTool::findByMac(const Request& request, const cli::Mac& mac, std::uint32_t& address, int& productCode)
{
    // The device's address and product come from its record, as the search window has them.
    CNetEnv env(request.profile);
    const cli::Outcome outcome = cli::readByMac(env, request.bindAddress.value_or(0), mac);
    if (outcome != cli::Outcome::Answered)
        return failure(outcome);
    address = env.record(0).ipAddress();
    productCode = env.record(0).productCode();
    if (!cli::isUnicastTarget(address)) {
        m_err << "cormapmp-cli: firmware: the device reports the address " << cli::dottedAddress(address)
              << ", which names no single device" << Qt::endl;
        return kExitFailed;
    }
    return kExitOk;
}

int CliTool::firmware(const Request& request, const cli::VerbRequest& verbRequest)
{
    const bool many = request.operands.size() > 2 || request.all;
    if (request.operands.isEmpty() || (request.operands.size() < 2 && !request.all))
        return usageError(QStringLiteral("firmware: name the file and the device (MAC or IPv4 address)"));
    if (request.ipAddress)
        return usageError(QStringLiteral("firmware: name the device as an argument, not with --ip"));
    const QString path = request.operands.at(0);
    cli::DeviceName device;
    if (!many) {
        device = cli::parseDeviceName(request.operands.at(1));
        if (!device.error.isEmpty())
            return usageError(QStringLiteral("firmware: ") + device.error);
        if (!device.mac && request.bindAddress)
            return usageError(QStringLiteral("firmware: --bind applies to a device named by its MAC only"));
    }

    // The whole file (or stream), read once before anything is sent; what is sent is what was read.
    const FirmwareImage image = FirmwareImage::load(path);
    if (image.errorCode != 0)
        return usageError(QStringLiteral("firmware: %1: %2").arg(path, systemErrorMessage(image.errorCode)));
    const QString fileName = QFileInfo(path).fileName();
    if (!image.loaded()) {
        const QLocale locale = QLocale::system();
        const QString text = image.problemText(StringTable(StringTable::languageFor(locale)), locale, fileName);
        return usageError(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral(" ")));
    }

    if (many)
        return cli::firmwareToMany(verbRequest, request.way, request.jobs, image.bytes, fileName, m_out, m_err);
    cli::FirmwareJob job{image.bytes, fileName, device.address, false};
    int productCode = -1;
    if (device.mac) {
        if (const int status = findByMac(request, *device.mac, job.target, productCode); status != kExitOk)
            return status;
    }
    job.shell = cli::usesShell(request.way, productCode);
    m_out << "Sending " << fileName << " (" << image.bytes.size() << " bytes, CRC " << image.crcText() << ") to "
          << cli::dottedAddress(job.target) << (job.shell ? " through the shell" : " by TFTP") << '\n';
    m_out.flush();
    return cli::runFirmwareUpload(request.profile, job, m_out, m_err, m_terminal) ? kExitOk : kExitFailed;
}
