#pragma once

// The one way both faces write a device's settings. Every write sends the whole record, so two writers
// must not silently undo each other: the writer takes the device's lock (shared by every writer on this
// machine), reads the device again and compares it with the record its changes were made on; changed by
// someone else, the changes are made again on the new settings, or the face's question decides. The
// record the device held is kept in the settings history as pending, the write goes out, and the outcome
// is settled by the device's answer and, where the answer does not tell, by reading the device back.
// The protocol has no compare-and-swap: the check before the write narrows the window of a writer on
// another machine, the read after it tells when that window was hit.

#include "device/DeviceLock.h"
#include "device/EditorRequests.h"
#include "device/Exchange.h"
#include "record/EnvRecord.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class CNetEnv;

namespace device {
class HistoryKeeper;

/** Makes a writer's changes on a record of the device's settings; why they cannot be made, or nothing. */
using MakeChanges = std::function<std::optional<QString>(EnvRecord&)>;

/** What a writer asks for. */
struct WritePlan
{
    Target target;
    EnvRecord base; // the record the changes were made on
    EnvRecord mine; // the record to write
    /** The device password as typed (hashed when it goes out). */
    QByteArray password;
    /** Makes the changes again on other settings; empty: every field that differs between `base` and
     *  `mine` takes its value from `mine` (bits of a word one by one). */
    MakeChanges remake;
    /** Fields the changes set whatever their value (every field a settings file carries), by read --json's
     *  names; a change of theirs by someone else is a change in a field both changed. */
    QStringList claimed;
    /** The verb the history names ("write", "import", "restore", "apply", "editor write"). */
    QString verb = QStringLiteral("write");
};

/** Someone else changed the device since `base` was read. */
struct Conflict
{
    EnvRecord base;
    EnvRecord mine;
    EnvRecord theirs;        // the device's record now
    QStringList theirFields; // changed by someone else (read --json's names)
    QStringList myFields;    // changed (or claimed) by this writer
    QStringList bothFields;  // in both lists
};

/** What the face decides about a Conflict. */
enum class Resolution
{
    KeepTheirs, // make my changes on their settings: their changes to fields I did not change stay
    Overwrite,  // write everything of mine over theirs
    Cancel,     // write nothing
};

/** Decides a Conflict; it may ask the user (a modal window). No decider: changes only in fields this
 *  writer does not touch are kept (KeepTheirs), a change in a field both changed cancels. */
using ConflictDecider = std::function<Resolution(const Conflict&)>;

/** How a guarded write ended. */
struct WriteOutcome
{
    enum Status
    {
        Written,     // the device answered that it took the write (and, read back, holds it when `verified`)
        WrittenLate, // no answer, or an unknown result, but read back the device holds what was written
        Mismatch,    // the device answered that it took it, but read back holds other values (`fields`)
        Refused,     // the device answered result 2: the password did not match; nothing changed
        NotStored,   // no answer, or an unknown result, and read back the device holds its old settings
        Unknown,     // no clear answer and no read back: the history entry stays, unconfirmed
        Conflict,    // changed by someone else in a field this writer touches, or changed again (`fields`)
        Cancelled,   // the face's decider said Cancel
        RemakeRefused, // the changes cannot be made on the new settings (`reason`)
        LockTimeout, // another writer held the device all the wait long (`holder`)
        NoAnswer,    // the device did not answer the read before the write: nothing was sent
        CannotOpen,  // the endpoint could not be opened (`reason` is the endpoint's openError)
    } status = NoAnswer;
    /** The device's result byte when it answered the write; -1 when it did not. */
    int result = -1;
    /** Conflict: the fields changed meanwhile. Mismatch: the fields that differ from what was written. */
    QStringList fields;
    QString reason;
    QString holder;
    /** The settings were changed by someone else and the changes made again on them (KeepTheirs). */
    bool remade = false;
    QStringList remadeFields;
    /** Read back after the write, and found as written. */
    bool verified = false;
    /** The device's record as read just before the write, and the record sent (or that would have been). */
    EnvRecord before;
    EnvRecord after;
    /** The history entry kept for the write (0: none). */
    int entry = 0;
    /** Later answers to the write's second copy, dropped: the first answer decides. */
    int laterAnswers = 0;

    /** The device holds what was written (Written, WrittenLate). */
    bool stored() const { return status == Written || status == WrittenLate; }
    /** Something went out to the device. */
    bool sent() const { return result >= 0 || status == WrittenLate || status == NotStored || status == Unknown; }
};

/** Every field that differs between `base` and `mine` takes its value from `mine` on `theirs`: whole
 *  values for numbers, addresses, lists and texts, bit by bit within the words (flags, serial formats),
 *  byte by byte for bytes no field interprets. The device password field stays `theirs`. */
EnvRecord mergeChanges(const EnvRecord& base, const EnvRecord& mine, const EnvRecord& theirs);

/**
 * One guarded write of one device, on the caller's endpoint and event loop: start() returns at once and
 * `finished` follows; run() waits for it in a local event loop (the command line, a worker thread).
 * Steps: lock (polled, never blocking the loop, at most kLockWaitMs), read again, compare and decide,
 * keep the history entry as pending, write (the read's wait), settle: result 0 -> read back once to
 * verify; result 2 -> refused, the entry goes; no answer or another result -> read back to tell stored
 * from not stored.
 */
class GuardedWrite final : public QObject
{
    Q_OBJECT

public:
    enum class Step
    {
        Locking,
        Checking,
        Writing,
        Verifying,
    };

    GuardedWrite(CNetEnv& env, HistoryKeeper* history, QObject* parent = nullptr);
    ~GuardedWrite() override;

    void setDecider(ConflictDecider decider) { m_decider = std::move(decider); }
    /** Read back after a write the device took (on by default). */
    void setVerify(bool verify) { m_verify = verify; }

    void start(const WritePlan& plan);
    WriteOutcome run(const WritePlan& plan);

    bool running() const { return m_running; }
    Step step() const { return m_step; }
    /** The wait of the request under way (its timer is what the face shows as busy). */
    const Exchange& exchange() const { return m_exchange; }

signals:
    /** A new step began; Locking names the writer that holds the device (`detail`). */
    void stepChanged(GuardedWrite::Step step, const QString& detail);
    void finished(const device::WriteOutcome& outcome);

private:
    void tryLock();
    void check();
    void onChecked();
    void write();
    void onWritten();
    void readBack();
    void onReadBack();
    void onExchangeEnd();
    void finish(WriteOutcome::Status status);
    void enter(Step step, const QString& detail = {});

    CNetEnv& m_env;
    HistoryKeeper* m_history;
    Exchange m_exchange;
    ConflictDecider m_decider;
    bool m_verify = true;
    bool m_running = false;
    Step m_step = Step::Locking;
    WritePlan m_plan;
    WriteOutcome m_outcome;
    std::unique_ptr<DeviceLock> m_lock;
    QElapsedTimer m_lockWait;
    bool m_holderSaid = false;
    int m_checks = 0;
    bool m_afterOk = false; // reading back a write the device answered with 0
};
} // namespace device
