#pragma once

// The settings history: before a write replaces a device's settings, the record the device held is kept
// in a folder of the user's own, one folder per device (by its MAC), one file per entry. An entry also
// names the time, the program and the verb that wrote, and holds the record written after it, so the
// user can see what changed and put the old settings back.

#include "record/EnvRecord.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace settings_history {
using Mac = std::array<std::uint8_t, 6>;

/** How many entries a device keeps: the 101st drops the oldest. */
constexpr int kKeptPerDevice = 100;
/** The version of the entry file's layout. */
constexpr int kFormat = 1;

/** Whether the write an entry was kept for is known to have reached the device. */
enum class State
{
    Settled,     // the device took the write
    Pending,     // kept before the write went out; not yet known (a run killed meanwhile leaves it so)
    Unconfirmed, // the device gave no clear answer and could not be read back: it may hold either record
};

/** One kept write. */
struct Entry
{
    int number = 0;   // counts up per device from 1; never reused while an entry of the device is kept
    QDateTime time;   // when the write went out (UTC)
    QString program;  // "cormapmp" or "cormapmp-cli"
    QString verb;     // "write", "import", "restore", "editor write"
    EnvRecord before; // the device's record as read just before the write (its password only as a hash)
    EnvRecord after;  // the record the write sent
    State state = State::Settled;

    Mac mac() const { return before.mac(); }
    /** The settings the write changed, by read --json's names. */
    QStringList changed() const;
};

/** The entry as its file holds it: a JSON object with the records in hex. */
QByteArray encode(const Entry& entry);
/** An entry file's content; nothing when it is not one (damaged, another layout, records of two MACs). */
std::optional<Entry> decode(QByteArrayView bytes);

/** The history folder of this user: the desktop program's data folder ("VarkonSystems/CormapMP" in
 *  the user's data folder), shared by the command line. */
QString defaultFolder();

/** What keeping an entry came to: its number, or why it could not be kept. */
struct Kept
{
    int number = 0;
    QString error; // "PATH: [28] No space left on device"
    bool ok() const { return error.isEmpty(); }
};

/** One user's history folder. Entries of a device are numbered under a lock file in the device's folder,
 *  so two programs writing at once never take one number, and each file is saved whole or not at all. */
class Store
{
public:
    explicit Store(QString folder = defaultFolder());

    const QString& folder() const { return m_folder; }
    /** The folder of one device's entries. */
    QString deviceFolder(const Mac& mac) const;

    /** Keeps `entry` (its number is given here) and drops the oldest entries past kKeptPerDevice. Folders
     *  are made private to the user (0700), files too (0600). */
    Kept keep(const Entry& entry);
    /** Removes one entry (a write the device refused changed nothing); true when it is gone. */
    bool discard(const Mac& mac, int number);
    /** Gives a kept entry its new state, saved whole; true when saved. */
    bool settle(const Mac& mac, int number, State state);
    /** Removes what a run killed while saving left in the device's folder: temporary files older than a
     *  minute (a save under way now is younger). */
    void removeDebris(const Mac& mac) const;
    /** The device's entries, oldest first; files that are not entries are passed over. */
    QList<Entry> entries(const Mac& mac) const;
    /** One entry by its number; nothing when it is not kept. */
    std::optional<Entry> entry(const Mac& mac, int number) const;
    /** The newest entry, or nothing. */
    std::optional<Entry> latest(const Mac& mac) const;

private:
    QList<int> numbers(const Mac& mac) const;
    QString entryPath(const Mac& mac, int number) const;

    QString m_folder;
};
} // namespace settings_history
