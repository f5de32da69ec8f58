#include "device/HistoryKeeper.h"

#include "record/RecordFields.h"

namespace device {
HistoryKeeper::HistoryKeeper(QString program, Note note, QString folder)
    : m_program(std::move(program)), m_note(std::move(note)), m_store(std::move(folder))
{
}

int HistoryKeeper::keep(const QString& verb, const EnvRecord& before, const EnvRecord& after)
{
    const std::lock_guard<std::mutex> guard(m_mutex);
    settlePending(m_store, before);
    settings_history::Entry entry;
    entry.time = QDateTime::currentDateTimeUtc();
    entry.program = m_program;
    entry.verb = verb;
    entry.before = before;
    entry.after = after;
    entry.state = settings_history::State::Pending;
    const settings_history::Kept kept = m_store.keep(entry);
    if (!kept.ok() && !std::exchange(m_said, true) && m_note)
        m_note(kept.error);
    return kept.number;
}

void HistoryKeeper::settle(const settings_history::Mac& mac, int number, settings_history::State state)
{
    const std::lock_guard<std::mutex> guard(m_mutex);
    if (number > 0)
        m_store.settle(mac, number, state);
}

void HistoryKeeper::drop(const settings_history::Mac& mac, int number)
{
    const std::lock_guard<std::mutex> guard(m_mutex);
    if (number > 0)
        m_store.discard(mac, number);
}

void settlePending(settings_history::Store& store, const EnvRecord& now)
{
    const settings_history::Mac mac = now.mac();
    store.removeDebris(mac);
    for (const settings_history::Entry& entry : store.entries(mac)) {
        if (entry.state != settings_history::State::Pending)
            continue;
        if (record_fields::changedSettings(entry.after, now).isEmpty())
            store.settle(mac, entry.number, settings_history::State::Settled);
        else if (record_fields::changedSettings(entry.before, now).isEmpty())
            store.discard(mac, entry.number);
        else
            store.settle(mac, entry.number, settings_history::State::Unconfirmed);
    }
}
} // namespace device
