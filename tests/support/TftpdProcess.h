#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>

/**
 * Debian's TFTP server (tftpd-hpa, /usr/sbin/in.tftpd) run by a test in the foreground on a loopback
 * address and an unprivileged port, serving a temporary folder of its own. Stopped with the object.
 */
class TftpdProcess final
{
public:
    static constexpr const char* kProgram = "/usr/sbin/in.tftpd";

    TftpdProcess() = default;
    ~TftpdProcess();
    TftpdProcess(const TftpdProcess&) = delete;
    TftpdProcess& operator=(const TftpdProcess&) = delete;

    /** True when tftpd-hpa is installed. */
    static bool available();

    /** Starts the server at `address`:`port`; `create` lets uploads make new files. Waits until the port
     *  is taken; false with errorText() when it did not come up. */
    bool start(std::uint32_t address, std::uint16_t port, bool create = true, int timeoutMs = 5000);
    void stop();

    /** The folder the server serves (uploads land here). */
    QString folder() const { return m_dir.path(); }
    /** The bytes of an uploaded file; empty when it does not exist. */
    QByteArray file(const QString& name) const;
    bool exists(const QString& name) const;
    QString errorText();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_error;
};
