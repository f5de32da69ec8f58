#include "ShellScanner.h"

namespace firmware {
namespace {
const QString kKeyPrompt = QStringLiteral("msh>");
const QString kKeySizeRejected = QStringLiteral("firmware size is not");
const QString kKeyTftp = QStringLiteral("TFTP");
const QString kKeyProgramFlash = QStringLiteral("program flash now");
const QString kKeyTimeout = QStringLiteral("timeout");
const QString kKeyRebootNow = QStringLiteral("reboot now");
} // namespace

ShellStep ShellScanner::feed(QByteArrayView read, bool pleaseWaitShown)
{
    if (const qsizetype zero = read.indexOf('\0'); zero >= 0)
        read.truncate(zero);
    m_text.append(QString::fromLatin1(read));
    if (m_text.size() > kTextCap)
        m_text.remove(0, m_text.size() - kTextCap);

    if (m_text.contains(kKeyPrompt) && !pleaseWaitShown) {
        if (m_text.contains(kKeySizeRejected))
            return ShellStep::SizeRejected;
        m_text.clear();
        return ShellStep::TypeFlash;
    }
    if (m_text.contains(kKeyTftp)) {
        m_text.clear();
        return ShellStep::StartUpload;
    }
    if (m_text.contains(kKeyProgramFlash)) {
        m_text.clear();
        return ShellStep::ConfirmFlash;
    }
    if (m_text.contains(kKeyTimeout))
        return ShellStep::DeviceTimeout;
    if (m_text.contains(kKeyRebootNow)) {
        m_text.clear();
        return ShellStep::ConfirmReboot;
    }
    return ShellStep::None;
}
} // namespace firmware
