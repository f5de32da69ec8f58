// The settings editor's Write, part of CQorv400Dlg: a Write sends the whole record, so the device is
// read again first and compared with the record the form was loaded from. If another writer changed it
// meanwhile, the editor names the fields and asks before writing over them.
#include "CQorv400Dlg.h"

#include "gui/MessageService.h"
#include "net/ReplyWaits.h"
#include "record/RecordFields.h"
#include "text/StringTable.h"

namespace {
constexpr int kStrNoResponse = 166;
constexpr int kStrWriting = 167;
constexpr int kStrReading = 170;
constexpr int kStrChangedMeanwhile = 1107;
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
    sendFrame(frame::kWrite, reply_wait::kWriteTickMs, kStrWriting, body);
}
