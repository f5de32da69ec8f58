#include "device/HistoryKeeper.h"

#include "record/RecordFields.h"

namespace device {
HistoryKeeper::HistoryKeeper(QString program, Note note, QString folder)
    : m_program(std::move(program)), m_note(std::move(note)), m_store(std::move(folder))
{
}

int HistoryKeeper::keep(const QString& verb, const EnvRecord& before, const EnvRecord& after)
{
    // No lock of the keeper's own around the saves: the devices of a fleet keep their entries side by
    // side; the store numbers each device's entries under that device's lock file, and the device lock
    // of the write keeps a second writer of the device out meanwhile.
    settlePending(m_store, before);
    settings_history::Entry entry;
    entry.time = QDateTime::currentDateTimeUtc();
    entry.program = m_program;
    entry.verb = verb;
    entry.before = before;
    entry.after = after;
    entry.state = settings_history::State::Pending;
    const settings_history::Kept kept = m_store.keep(entry);
    if (!kept.ok()) {
        const std::lock_guard<std::mutex> guard(m_mutex);
        if (!std::exchange(m_said, true) && m_note)
            m_note(kept.error);
    }
    return kept.number;
}

void HistoryKeeper::settle(const settings_history::Mac& mac, int number, settings_history::State state)
{
    if (number > 0)
        m_store.settle(mac, number, state);
}

void HistoryKeeper::drop(const settings_history::Mac& mac, int number)
{
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
