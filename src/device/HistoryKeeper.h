#pragma once

// The settings history as both faces keep it: before a write goes out, the record the device held is
// kept as a pending entry; after it, the entry is settled: kept, removed (the device refused the write,
// so nothing changed), or marked unconfirmed (nobody can tell). If the history folder cannot take an
// entry, the face is told once and the write goes on.

#include "history/SettingsHistory.h"

#include <QString>

#include <functional>
#include <mutex>

namespace device {
class HistoryKeeper
{
public:
    /** Said once when an entry cannot be kept: the reason, e.g. "PATH: [28] No space left on device". */
    using Note = std::function<void(const QString& why)>;

    /** Keeps entries for `program` ("cormapmp", "cormapmp-cli") in `folder`. */
    HistoryKeeper(QString program, Note note, QString folder = settings_history::defaultFolder());

    /** Keeps `before`, the device's record just read, and `after`, the record about to be written, for
     *  `verb`, as pending. The entry's number; 0 when it could not be kept (said once per keeper). */
    int keep(const QString& verb, const EnvRecord& before, const EnvRecord& after);
    /** The write of entry `number` (0: none) ended: `state` Settled keeps it, Unconfirmed marks it. */
    void settle(const settings_history::Mac& mac, int number, settings_history::State state);
    /** A write that certainly changed nothing (never sent, or refused by the device): its entry goes. */
    void drop(const settings_history::Mac& mac, int number);

    settings_history::Store& store() { return m_store; }
    const QString& program() const { return m_program; }

private:
    QString m_program;
    Note m_note;
    settings_history::Store m_store;
    bool m_said = false;
    std::mutex m_mutex;
};

/**
 * Entries a killed run left pending for the device: each is settled by comparing with `now`, the record
 * the device holds: it holds the entry's `after` (the write landed) -> settled; it holds the entry's
 * `before` (the write never landed) -> removed; anything else -> unconfirmed. Stale temporary files go
 * too. Done before a new write of the device keeps its own entry.
 */
void settlePending(settings_history::Store& store, const EnvRecord& now);
} // namespace device
