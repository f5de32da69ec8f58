#pragma once

// What the firmware dialog's tests share: the services, a simulated device's firmware side (127.0.10.2)
// and a plain-socket device (127.0.10.3) on ports 52869/52823, firmware files in a temporary folder, and
// the user's actions on the dialog. Each test program that includes it sets FWDLG_INSTANCE (0, 1, …) so
// that programs run side by side use addresses (127.0.10.x, 127.0.11.x, …) and ports of their own.

#include "FirmwarePeers.h"
#include "GuiTestSupport.h"
#include "SimFirmware.h"

#include "gui/CMsgDlg.h"
#include "app/CQorvApp.h"
#include "app/CQorvDlg.h"
#include "gui/firmware/CChangeFWDlg.h"
#include "firmware/CQuickBurnWnd.h"
#include "firmware/TftpPacket.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>

namespace fwdlg {
using namespace Qt::StringLiterals;

#ifndef FWDLG_INSTANCE
#error "FWDLG_INSTANCE must name this test program's own addresses and ports"
#endif
constexpr std::uint32_t kInstanceOffset = static_cast<std::uint32_t>(FWDLG_INSTANCE);
constexpr std::uint32_t kSimDevice = 0x7F000A02 + (kInstanceOffset << 8);  // 127.0.10.2, 127.0.11.2, …
constexpr std::uint32_t kFakeDevice = 0x7F000A03 + (kInstanceOffset << 8); // 127.0.10.3, 127.0.11.3, …
constexpr std::uint16_t kPortOffset = static_cast<std::uint16_t>(500 * FWDLG_INSTANCE);
constexpr std::uint16_t kTftpPort = 52869 + kPortOffset;
constexpr std::uint16_t kShellPort = 52823 + kPortOffset;

inline NetworkProfile testProfile()
{
    NetworkProfile p = NetworkProfile::loopbackProfile();
    p.devicePort = static_cast<std::uint16_t>(52805 + kPortOffset);
    p.tftpPort = kTftpPort;
    p.shellPort = kShellPort;
    return p;
}

/** CRC-16/X-25 computed by Qt, independently of the program's own table. */
inline QString x25(const QByteArray& bytes)
{
    return QString::asprintf("%04X", qChecksum(QByteArrayView(bytes), Qt::ChecksumIso3309));
}

inline QString systemText(int code)
{
    return u"[%1] %2"_s.arg(code).arg(QString::fromLocal8Bit(std::strerror(code)));
}
} // namespace fwdlg

class FirmwareDialogFixture : public QObject
{
protected:
    void setUpProfile() { guitest::isolateProfile(m_profileDir); }
    void makeServices()
    {
        m_services =
            std::make_unique<guitest::Services>(UiLanguage::English, primary_language::kEnglish, fwdlg::testProfile());
    }
    void tearDown()
    {
        m_dialog.reset();
        m_sim.reset();
        m_services.reset();
    }

    std::unique_ptr<CChangeFWDlg> openDialog(int productCode = 0, std::uint32_t target = fwdlg::kSimDevice);
    void startSim(const SimFirmwareOptions& options = {});
    QString writeFile(const QString& name, const QByteArray& bytes);
    void choose(const QString& path);
    void click(const char* button);
    /** Waits for the message the transfer ends with. */
    bool waitForMessage(int count = 1, int timeoutMs = 15000);
    template <typename T> T* child(const char* name)
    {
        T* w = m_dialog->findChild<T*>(QString::fromLatin1(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    bool buttonsEnabled();

    QTemporaryDir m_profileDir;
    QTemporaryDir m_files;
    std::unique_ptr<guitest::Services> m_services;
    std::unique_ptr<SimFirmware> m_sim;
    std::unique_ptr<CChangeFWDlg> m_dialog;
};

inline std::unique_ptr<CChangeFWDlg> FirmwareDialogFixture::openDialog(int productCode, std::uint32_t target)
{
    auto dialog = std::make_unique<CChangeFWDlg>(m_services->context());
    dialog->setProductCode(productCode);
    dialog->setTargetAddress(target);
    dialog->show();
    if (!QTest::qWaitForWindowExposed(dialog.get()))
        qWarning("the firmware dialog was not exposed");
    return dialog;
}

inline void FirmwareDialogFixture::startSim(const SimFirmwareOptions& options)
{
    SimFirmwareOptions o = options;
    o.flashMs = 10;
    m_sim = std::make_unique<SimFirmware>(fwdlg::testProfile());
    QString problem;
    QVERIFY2(m_sim->start({fwdlg::kSimDevice}, o, &problem), qPrintable(problem));
}

inline QString FirmwareDialogFixture::writeFile(const QString& name, const QByteArray& bytes)
{
    const QString path = m_files.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

inline void FirmwareDialogFixture::choose(const QString& path)
{
    m_services->files.setNextFileName(path);
    click("firmwareButton");
}

inline void FirmwareDialogFixture::click(const char* button)
{
    QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton);
}

inline bool FirmwareDialogFixture::waitForMessage(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return m_services->messages.shown().size() >= count; }, timeoutMs);
}

inline bool FirmwareDialogFixture::buttonsEnabled()
{
    const bool firmware = child<QPushButton>("firmwareButton")->isEnabled();
    const bool send = child<QPushButton>("sendButton")->isEnabled();
    const bool close = child<QPushButton>("closeButton")->isEnabled();
    if (firmware != send || send != close)
        qWarning("the three buttons disagree");
    return firmware && send && close;
}
