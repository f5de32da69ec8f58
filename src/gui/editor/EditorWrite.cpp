// The settings editor's Write, part of CQorv400Dlg. It goes through the device layer's guarded write, as
// the command line's writes do: the same device lock, the same read before the write, the same history.
// When someone else changed the device since the form was read, the editor asks: keep their changes to
// the settings the user did not edit (the default), write everything on screen, or cancel.
#include "CQorv400Dlg.h"

#include "CConflictDlg.h"
#include "CHistoryDlg.h"

#include "gui/CMsgDlg.h"
#include "gui/MessageService.h"
#include "protocol/Codec.h"
#include "protocol/Ipv4.h"
#include "text/FixedTexts.h"
#include "text/StringTable.h"

#include <QLineEdit>

namespace {
constexpr int kStrNoResponse = 166;
constexpr int kStrWriting = 167;
constexpr int kStrReading = 170;
constexpr int kStrPasswordMismatch = 961;
constexpr int kStrUnknownResponse = 962;
constexpr int kStrChangedAgain = 1821;
constexpr int kStrHistoryNotKept = 1600;
constexpr int kStrNotStored = 1801;
constexpr int kStrUnknown = 1802;
constexpr int kStrMismatch = 1803;
constexpr int kStrWaitingForLock = 1804;
constexpr int kStrLockTimeout = 1805;
constexpr int kMsPerSecond = 1000;
} // namespace

device::Target CQorv400Dlg::target(const EnvRecord& body) const
{
    device::Target target;
    if (m_mode == kModeLocal) {
        device::Mac mac{};
        std::copy_n(body.data(), mac.size(), mac.begin());
        target.mac = mac;
        target.everyAdapter = m_binding.isEveryAdapter();
        target.bindAddress = target.everyAdapter ? 0 : m_binding.address;
    } else {
        target.address = m_remoteAddress;
    }
    return target;
}

void CQorv400Dlg::startWrite(const EnvRecord& body)
{
    device::WritePlan plan;
    plan.target = target(body);
    plan.base = m_readRecord;
    plan.mine = body;
    plan.password = m_controls.password->text().toLatin1();
    // What the history keeps of the write is the password as it goes out: hashed, never as typed.
    if (IsPasswordSet(plan.mine.passwordField()))
        HashPassword(plan.mine.passwordField());
    plan.verb = QStringLiteral("write");
    m_focusBeforeRequest = focusWidget();
    m_messageWindow->ShowProgress();
    setEnabled(false);
    m_write.start(plan);
}

void CQorv400Dlg::onWriteStep(device::GuardedWrite::Step step, const QString& detail)
{
    const QString device = m_mode == kModeLocal ? QStringLiteral("MAC address ") + ipv4::macText(m_shown.data())
                                                : QStringLiteral("IP address ") + ipv4::dotted(m_remoteAddress);
    QString line;
    switch (step) {
    case device::GuardedWrite::Step::Locking:
        if (detail.isEmpty())
            return;
        line = text(kStrWaitingForLock)
                   .arg(QString::fromStdString(m_shown.macText()), detail)
                   .arg(device::kLockWaitMs / kMsPerSecond);
        break;
    case device::GuardedWrite::Step::Checking:
    case device::GuardedWrite::Step::Verifying:
        line = text(kStrReading);
        break;
    case device::GuardedWrite::Step::Writing:
        line = text(kStrWriting);
        break;
    }
    m_messageWindow->SetProgressText(line + QStringLiteral("\r\n") + device);
}

device::Resolution CQorv400Dlg::decideConflict(const device::Conflict& conflict)
{
    // The progress window steps aside while the user decides.
    m_messageWindow->HideProgress();
    CConflictDlg question(m_context.strings, conflict, this);
    const device::Resolution resolution = question.ask();
    if (resolution != device::Resolution::Cancel)
        m_messageWindow->ShowProgress();
    return resolution;
}

void CQorv400Dlg::noteHistoryNotKept(const QString& why)
{
    // Said once per editor; the write the user asked for goes on.
    m_context.messages.information(this, text(kStrHistoryNotKept).arg(why), text(StringTable::kProgramTitle));
}

void CQorv400Dlg::completeWrite(const device::WriteOutcome& outcome)
{
    m_endpoint.setLimit(kTableLimit);
    setEnabled(true);
    m_messageWindow->HideProgress();
    restoreFocus();
    const QString title = text(StringTable::kProgramTitle);
    const QString mac = QString::fromStdString(m_shown.macText());
    m_confirmedPassword.clear();
    using Status = device::WriteOutcome::Status;
    switch (outcome.status) {
    case Status::Written:
    case Status::WrittenLate:
        // The device holds what was sent: the form shows the device's record from now on.
    {
        // The device holds what was sent: the form shows the device's record from now on (as read back,
        // or as written with the device's own password field when it was not read back).
        m_confirmedPassword = m_controls.password->text();
        EnvRecord now = outcome.after;
        if (outcome.verified && m_endpoint.count() > 0)
            now = m_endpoint.record(0);
        else
            std::copy_n(outcome.before.passwordField(), EnvRecord::kPasswordFieldSize, now.passwordField());
        m_readRecord = now;
        m_endpoint.record(0) = now;
        ShowRecord(now);
        UpdateControlStates();
        reportOutcome(frame::kWrite, true);
        return;
    }
    case Status::Refused:
        m_context.messages.error(this, text(kStrPasswordMismatch), title);
        m_controls.password->clear();
        return;
    case Status::Mismatch:
        m_context.messages.error(this, text(kStrMismatch).arg(mac, outcome.fields.join(QStringLiteral(", "))), title);
        return;
    case Status::NotStored:
        m_context.messages.error(this,
                                 (outcome.result >= 0 ? text(kStrUnknownResponse) + QStringLiteral("\r\n\r\n") : QString()) +
                                     text(kStrNotStored).arg(mac),
                                 title);
        return;
    case Status::Unknown:
        m_context.messages.error(this,
                                 text(outcome.result >= 0 ? kStrUnknownResponse : kStrNoResponse) +
                                     QStringLiteral("\r\n\r\n") + text(kStrUnknown).arg(mac),
                                 title);
        return;
    case Status::Conflict:
        m_context.messages.error(
            this, text(kStrChangedAgain).arg(mac) + QStringLiteral("\r\n") + outcome.fields.join(QStringLiteral(", ")),
            title);
        return;
    case Status::Cancelled:
        return; // nothing was sent; every edit stays on screen
    case Status::RemakeRefused:
        m_context.messages.error(this, outcome.reason, title);
        return;
    case Status::LockTimeout:
        m_context.messages.error(
            this, text(kStrLockTimeout).arg(mac).arg(device::kLockWaitMs / kMsPerSecond).arg(outcome.holder), title);
        return;
    case Status::NoAnswer:
        m_context.messages.error(this, text(kStrNoResponse), title);
        return;
    case Status::CannotOpen:
        m_context.messages.error(this, fixed_text::cannotOpenSocket(), title);
        return;
    }
}

void CQorv400Dlg::onHistory()
{
    CHistoryDlg history(m_context.strings, m_history.store(), m_shown.mac(), this);
    if (history.exec() != QDialog::Accepted || !history.chosen())
        return;
    // As loading a settings file: the kept settings go into the form, the device's identity stays, and
    // nothing is sent until the user writes.
    EnvRecord record = history.chosen()->before;
    record.setMac(m_shown.mac());
    m_endpoint.record(0) = record;
    ShowRecord(record);
    UpdateControlStates();
}
