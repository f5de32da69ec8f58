#include "SimFirmware.h"

#include "TftpServer.h"

#include <map>

struct SimFirmware::Device
{
    std::unique_ptr<TftpServer> tftp;
    std::unique_ptr<ShellServer> shell;
};

std::optional<ShellEnding> shellEndingNamed(const QString& name)
{
    static const std::map<QString, ShellEnding> kNames = {
        {QStringLiteral("normal"), ShellEnding::Normal},   {QStringLiteral("size"), ShellEnding::SizeRejected},
        {QStringLiteral("timeout"), ShellEnding::Timeout}, {QStringLiteral("close"), ShellEnding::CloseEarly},
        {QStringLiteral("silent"), ShellEnding::Silent},
    };
    const auto it = kNames.find(name);
    if (it == kNames.end())
        return std::nullopt;
    return it->second;
}

SimFirmware::SimFirmware(const NetworkProfile& profile, QObject* parent) : QObject(parent), m_profile(profile) {}

SimFirmware::~SimFirmware()
{
    stop();
}

bool SimFirmware::start(const std::vector<std::uint32_t>& addresses, const SimFirmwareOptions& options, QString* error)
{
    stop();
    for (const std::uint32_t address : addresses) {
        auto device = std::make_unique<Device>();
        device->tftp = std::make_unique<TftpServer>();
        device->tftp->setErrorReply(options.tftpError);
        if (!device->tftp->listen(address, m_profile.tftpPort, error)) {
            stop();
            return false;
        }
        if (options.shell) {
            device->shell = std::make_unique<ShellServer>();
            device->shell->setEnding(options.ending);
            device->shell->setFlashMs(options.flashMs);
            if (!device->shell->listen(address, m_profile.shellPort, error)) {
                stop();
                return false;
            }
        }
        const int index = static_cast<int>(m_devices.size());
        ShellServer* shell = device->shell.get();
        connect(device->tftp.get(), &TftpServer::uploadReceived, this,
                [this, index, shell](const QByteArray& fileName, const QByteArray& image) {
                    emit firmwareReceived(index, fileName, image);
                    if (shell)
                        shell->uploadReceived(image);
                });
        m_devices.push_back(std::move(device));
    }
    return true;
}

void SimFirmware::stop()
{
    m_devices.clear();
}

ShellServer* SimFirmware::shell(int device) const
{
    return m_devices.at(static_cast<std::size_t>(device))->shell.get();
}

TftpServer* SimFirmware::tftp(int device) const
{
    return m_devices.at(static_cast<std::size_t>(device))->tftp.get();
}
