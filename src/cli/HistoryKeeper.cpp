#include "HistoryKeeper.h"

#include "CliMessages.h"
#include "Verbs.h"
#include "net/CNetEnv.h"
#include "protocol/Codec.h"

#include <QTextStream>

namespace cli {
namespace {
constexpr int kStrHistoryNotKept = 1600;
} // namespace

HistoryKeeper::HistoryKeeper(QTextStream& err, QString program, QString folder)
    : m_err(err), m_program(std::move(program)), m_store(std::move(folder))
{
}

int HistoryKeeper::keep(const QString& verb, const EnvRecord& before, const EnvRecord& after)
{
    settings_history::Entry entry;
    entry.time = QDateTime::currentDateTimeUtc();
    entry.program = m_program;
    entry.verb = verb;
    entry.before = before;
    entry.after = after;
    // Devices' entries are kept side by side (each is flushed to disk before its write goes out, and
    // flushes taken one at a time would cost a fleet one disk wait per device); the store numbers each
    // device's entries under a lock of that device's own.
    const settings_history::Kept kept = m_store.keep(entry);
    const std::lock_guard<std::mutex> guard(m_mutex);
    if (!kept.ok() && !std::exchange(m_said, true))
        m_err << "cormapmp-cli: " << programText(kStrHistoryNotKept).arg(kept.error) << Qt::endl;
    return kept.number;
}

void HistoryKeeper::drop(const settings_history::Mac& mac, int number)
{
    const std::lock_guard<std::mutex> guard(m_mutex);
    if (number > 0)
        m_store.discard(mac, number);
}

int keepBeforeWrite(const VerbRequest& request, const QString& verb, const EnvRecord& before, const EnvRecord& after)
{
    return request.history ? request.history->keep(verb, before, after) : 0;
}

void settleAfterWrite(const VerbRequest& request, const CNetEnv& env, Outcome written, const EnvRecord& before,
                      int number)
{
    const bool tookIt = written == Outcome::Answered && env.replyResult() == frame::kResultOk;
    if (request.history && !tookIt && written != Outcome::NoAnswer)
        request.history->drop(before.mac(), number);
}
} // namespace cli
