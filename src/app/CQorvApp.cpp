#include "CQorvApp.h"

#include "gui/editor/CQorv400Dlg.h"

#include "app/CAgreementDlg.h"
#include "gui/MessageService.h"
#include "gui/UserProfile.h"
#include "gui/firmware/CChangeFWDlg.h"
#include "text/StringTable.h"

#include <QPointer>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>
#else
#include <QUdpSocket>
#endif

namespace {
constexpr int kStrSocketsFailed = 103;
constexpr int kAgreementAccepted = 1;
constexpr int kExitSocketLayer = 1;
} // namespace

CQorvApp::CQorvApp(const AppContext& context, SearchHooks hooks, SocketLayerCheck socketLayer)
    : m_context(context), m_hooks(std::move(hooks)), m_socketLayer(std::move(socketLayer))
{
    if (!m_socketLayer)
        m_socketLayer = &CQorvApp::socketLayerAvailable;
    if (!m_hooks.openEditor) {
        // Read's completion opens the settings editor on the record read, modally, over the search window.
        m_hooks.openEditor = [this](QWidget* owner, const EnvRecord& record, int mode, std::uint32_t remoteAddress) {
            CQorv400Dlg editor(m_context, m_binding, record, mode, remoteAddress, owner);
            editor.exec();
        };
    }
}

bool CQorvApp::socketLayerAvailable()
{
#ifdef Q_OS_UNIX
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
#else
    // Qt opens its datagram socket on bind: a loopback port of the system's choosing proves the layer.
    QUdpSocket probe;
    return probe.bind(QHostAddress::LocalHost, 0);
#endif
}

int CQorvApp::run()
{
    // 1. The socket layer.
    if (!m_socketLayer()) {
        m_context.messages.error(nullptr, m_context.strings.text(kStrSocketsFailed), fixedMessageCaption());
        return kExitSocketLayer;
    }
    // 2-4. The rich-text view needs no set-up here; the language and the profile come with the context.
    // 5. The disclaimer, until it has been accepted once.
    int agreement = m_context.profile.agreement();
    if (agreement == 0) {
        CAgreementDlg disclaimer(m_context);
        if (disclaimer.exec() == QDialog::Accepted) {
            m_context.profile.setAgreement(kAgreementAccepted);
            agreement = kAgreementAccepted;
        }
    }
    // 6. Declined, or a stored value other than 0 and 1: end without a message.
    if (agreement != kAgreementAccepted)
        return 0;
    // 7. The search window. QRandomGenerator::global() (request words, random ports) seeds itself.
    // It owns one firmware dialog for the whole run, made at its first use, so that the chosen
    // file and its CRC are shown again at the next opening.
    SearchHooks hooks = m_hooks;
    QPointer<CChangeFWDlg> firmware;
    if (!hooks.openFirmware) {
        hooks.openFirmware = [this, &firmware](QWidget* owner, int productCode, std::uint32_t targetAddress) {
            if (!firmware)
                firmware = new CChangeFWDlg(m_context, owner);
            firmware->setProductCode(productCode);
            firmware->setTargetAddress(targetAddress);
            firmware->exec();
        };
    }
    CQorvDlg searchWindow(m_context, m_binding, hooks);
    searchWindow.exec();
    return 0;
}
