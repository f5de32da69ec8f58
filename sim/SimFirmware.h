#pragma once

#include "ShellServer.h"
#include "protocol/NetworkProfile.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class TftpServer;

/** How the simulated devices take firmware. */
struct SimFirmwareOptions
{
    ShellEnding ending = ShellEnding::Normal;
    int tftpError = -1; // >= 0: every write request is answered by an error packet with this code
    bool shell = true;  // false: no shell listens, connections to the shell port are refused
    int flashMs = ShellServer::kDefaultFlashMs;
};

/** The ending named on the command line: normal, size, timeout, close, silent. */
std::optional<ShellEnding> shellEndingNamed(const QString& name);

/**
 * The firmware side of simulated devices: each device's TFTP server at the profile's TFTP port and its
 * shell at the shell port, on the device's own address. An upload that arrives is handed to the
 * device's shell (which goes on with its conversation) and reported with firmwareReceived.
 */
class SimFirmware final : public QObject
{
    Q_OBJECT

public:
    explicit SimFirmware(const NetworkProfile& profile, QObject* parent = nullptr);
    ~SimFirmware() override;

    /** Opens the servers of one device per address (host order). False with a message when a port is
     *  taken; then nothing stays open. */
    bool start(const std::vector<std::uint32_t>& addresses, const SimFirmwareOptions& options,
               QString* error = nullptr);
    void stop();
    bool isRunning() const { return !m_devices.empty(); }
    int deviceCount() const { return static_cast<int>(m_devices.size()); }
    /** The device's shell; nullptr when the shell is off. */
    ShellServer* shell(int device) const;
    TftpServer* tftp(int device) const;

signals:
    /** Device `device` received an image. */
    void firmwareReceived(int device, const QByteArray& fileName, const QByteArray& image);

private:
    struct Device;

    NetworkProfile m_profile;
    std::vector<std::unique_ptr<Device>> m_devices;
};
