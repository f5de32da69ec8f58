// The settings editor's status line: what the last request did, to which device and when, or where the
// form's settings came from while they are not yet written. Part of CQorv400Dlg.
#include "CQorv400Dlg.h"

#include "gui/editor/CPppoeDlg.h"
#include "protocol/Codec.h"
#include "text/StringTable.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QTime>

namespace {
constexpr int kStrWrittenTo = 2100;
constexpr int kStrReadFrom = 2101;
constexpr int kStrPasswordChanged = 2102;
constexpr int kStrPasswordCleared = 2103;
constexpr int kStrFromHistory = 2104;
constexpr int kStrFromFile = 2105;
constexpr int kStrAccountChanged = 2106;

QString clockNow()
{
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
}
} // namespace

void CQorv400Dlg::announce(const QString& line)
{
    m_controls.statusLine->setText(line);
    // A screen reader announces a change of the description of the control that has the focus: the
    // button the user pressed hears what it did. The line itself announces its new text as its name.
    QWidget* focus = focusWidget(); // the editor's focus child, also while another window is in front
    if (!focus)
        focus = m_controls.statusLine;
    if (m_announcedOn && m_announcedOn != focus)
        m_announcedOn->setAccessibleDescription({});
    m_announcedOn = focus;
    focus->setAccessibleDescription(line);
    QAccessibleEvent described(focus, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&described);
}

void CQorv400Dlg::markFormSource(FormSource source, const QString& detail)
{
    const QString device = QString::fromStdString(m_shown.macText());
    switch (source) {
    case FormSource::History:
        announce(text(kStrFromHistory).arg(device));
        break;
    case FormSource::SettingsFile:
        announce(text(kStrFromFile).arg(device, detail));
        break;
    case FormSource::Account:
        announce(text(kStrAccountChanged).arg(device));
        break;
    }
}

void CQorv400Dlg::reportOutcome(int command, bool accepted)
{
    if (!accepted)
        return; // the message box said what went wrong; the line keeps saying where the form stands
    const QString device = QString::fromStdString(m_shown.macText());
    switch (command) {
    case frame::kRead:
        announce(text(kStrReadFrom).arg(device, clockNow()));
        break;
    case frame::kWrite:
        announce(text(kStrWrittenTo).arg(device, clockNow()));
        break;
    case frame::kChangePassword:
        announce(text(m_noPassword ? kStrPasswordCleared : kStrPasswordChanged).arg(device, clockNow()));
        break;
    default:
        break;
    }
}

void CQorv400Dlg::onAccountButton()
{
    const QString userName = m_account->userName();
    const QString password = m_account->password();
    m_account->runAccountFlow();
    if (m_account->userName() != userName || m_account->password() != password)
        markFormSource(FormSource::Account);
}
