// The settings editor's Write, part of CQorv400Dlg: a Write sends the whole record, so the device is
// read again first and compared with the record the form was loaded from. If another writer changed it
// meanwhile, the editor names the fields and asks before writing over them.
#include "CQorv400Dlg.h"

#include "CHistoryDlg.h"

#include "gui/MessageService.h"
#include "net/ReplyWaits.h"
#include "record/RecordFields.h"
#include "text/StringTable.h"

namespace {
constexpr int kStrNoResponse = 166;
constexpr int kStrWriting = 167;
constexpr int kStrReading = 170;
constexpr int kStrChangedMeanwhile = 1107;
constexpr int kStrHistoryNotKept = 1600;
} // namespace

void CQorv400Dlg::startWriteCheck(const EnvRecord& body)
{
    m_checkingBeforeWrite = true;
    sendFrame(frame::kRead, reply_wait::kReadTickMs, kStrReading, body);
}

void CQorv400Dlg::completeWriteCheck()
{
    const QString title = text(StringTable::kProgramTitle);
    if (!m_endpoint.answered() || m_endpoint.count() == 0) {
        // Nothing is written to a device that does not answer; the form stays as the user left it.
        m_confirmedPassword.clear();
        m_context.messages.error(this, text(kStrNoResponse), title);
        return;
    }
    const QStringList changed = record_fields::changedSettings(m_readRecord, m_endpoint.record(0));
    if (!changed.isEmpty() &&
        !m_context.messages.askYesNo(this, text(kStrChangedMeanwhile).arg(changed.join(QStringLiteral(", "))), title))
        return;
    sendWrite();
}

void CQorv400Dlg::sendWrite()
{
    if (!openEndpoint())
        return;
    EnvRecord body = BuildRecord();
    if (IsPasswordSet(body.passwordField()))
        HashPassword(body.passwordField());
    // The record the device holds now (just read) is kept before the write replaces it.
    keepHistory(m_endpoint.record(0), body);
    sendFrame(frame::kWrite, reply_wait::kWriteTickMs, kStrWriting, body);
}

void CQorv400Dlg::keepHistory(const EnvRecord& before, const EnvRecord& after)
{
    settings_history::Entry entry;
    entry.time = QDateTime::currentDateTimeUtc();
    entry.program = QStringLiteral("cormapmp");
    entry.verb = QStringLiteral("write");
    entry.before = before;
    entry.after = after;
    const settings_history::Kept kept = m_history.keep(entry);
    m_historyEntry = kept.number;
    // Said once per editor; the write the user asked for goes on.
    if (!kept.ok() && !std::exchange(m_historyNoted, true))
        m_context.messages.information(this, text(kStrHistoryNotKept).arg(kept.error),
                                       text(StringTable::kProgramTitle));
}

void CQorv400Dlg::settleHistory(bool answered, int result)
{
    // A write the device answered with a refusal changed nothing; one without an answer may have landed.
    if (answered && result != 0 && m_historyEntry > 0)
        m_history.discard(m_shown.mac(), m_historyEntry);
    m_historyEntry = 0;
}

void CQorv400Dlg::onHistory()
{
    CHistoryDlg history(m_context.strings, m_history, m_shown.mac(), this);
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
