#include "device/GuardedWrite.h"

#include "device/HistoryKeeper.h"
#include "net/CNetEnv.h"
#include "protocol/Codec.h"
#include "record/RecordFields.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace device {
namespace {
constexpr int kLockPollMs = 50;

QStringList common(const QStringList& a, const QStringList& b)
{
    QStringList both;
    for (const QString& field : a) {
        if (b.contains(field))
            both << field;
    }
    return both;
}

/** Whole values for every field but the words that other fields are parts of and the device password. */
bool mergedWhole(const record_fields::Field& field)
{
    if (field.kind == record_fields::Kind::Password || field.readOnly())
        return false;
    // A word holding named parts (flags, a serial format) is merged bit by bit.
    const auto fields = record_fields::all();
    return std::none_of(fields.begin(), fields.end(),
                        [&field](const record_fields::Field& f) { return f.partOf == field.id; });
}
} // namespace

EnvRecord mergeChanges(const EnvRecord& base, const EnvRecord& mine, const EnvRecord& theirs)
{
    // Bit by bit first: the bits I changed are mine, every other bit is theirs.
    EnvRecord merged = theirs;
    for (std::size_t i = 0; i < EnvRecord::kSize; ++i) {
        const auto changed = static_cast<std::uint8_t>(base.data()[i] ^ mine.data()[i]);
        merged.raw()[i] = static_cast<std::uint8_t>((theirs.data()[i] & ~changed) | (mine.data()[i] & changed));
    }
    // Then whole values, so that a number both changed is mine and never a mix of the two.
    for (const record_fields::Field& field : record_fields::all()) {
        if (!mergedWhole(field))
            continue;
        for (int port = field.perPort ? 0 : -1; port < (field.perPort ? EnvRecord::kPortCount : 0); ++port) {
            const record_fields::FieldRef ref{&field, port};
            if (field.kind == record_fields::Kind::Text) {
                if (record_fields::text(ref, base) != record_fields::text(ref, mine))
                    record_fields::setText(ref, merged, record_fields::text(ref, mine));
            } else if (record_fields::value(ref, base) != record_fields::value(ref, mine)) {
                record_fields::setValue(ref, merged, record_fields::value(ref, mine));
            }
        }
    }
    // The device password field is the device's own (a hash); what the write carries is set when it goes.
    std::copy_n(theirs.passwordField(), EnvRecord::kPasswordFieldSize, merged.passwordField());
    return merged;
}

GuardedWrite::GuardedWrite(CNetEnv& env, HistoryKeeper* history, QObject* parent)
    : QObject(parent), m_env(env), m_history(history), m_exchange(env)
{
    connect(&m_exchange, &Exchange::finished, this, &GuardedWrite::onExchangeEnd);
}

GuardedWrite::~GuardedWrite() = default;

void GuardedWrite::start(const WritePlan& plan)
{
    m_plan = plan;
    m_outcome = WriteOutcome{};
    m_outcome.before = plan.base;
    m_outcome.after = plan.mine;
    m_running = true;
    m_checks = 0;
    m_holderSaid = false;
    m_afterOk = false;
    m_lock = std::make_unique<DeviceLock>(plan.base.mac());
    m_lockWait.start();
    enter(Step::Locking);
    tryLock();
}

WriteOutcome GuardedWrite::run(const WritePlan& plan)
{
    QEventLoop loop;
    const QMetaObject::Connection done = connect(this, &GuardedWrite::finished, &loop, &QEventLoop::quit);
    start(plan);
    if (m_running)
        loop.exec();
    disconnect(done);
    return m_outcome;
}

void GuardedWrite::enter(Step step, const QString& detail)
{
    m_step = step;
    emit stepChanged(step, detail);
}

void GuardedWrite::tryLock()
{
    if (m_lock->tryAcquire()) {
        check();
        return;
    }
    m_outcome.holder = m_lock->holder();
    if (m_lockWait.elapsed() >= kLockWaitMs) {
        finish(WriteOutcome::LockTimeout);
        return;
    }
    if (!std::exchange(m_holderSaid, true))
        emit stepChanged(Step::Locking, m_outcome.holder);
    QTimer::singleShot(kLockPollMs, this, &GuardedWrite::tryLock);
}

void GuardedWrite::check()
{
    enter(Step::Checking);
    ++m_checks;
    if (const Outcome sent = sendRead(m_env, m_plan.target); sent != Outcome::Answered) {
        m_outcome.reason = m_env.openError();
        finish(sent == Outcome::CannotOpen ? WriteOutcome::CannotOpen : WriteOutcome::NoAnswer);
        return;
    }
    m_exchange.start(reply_wait::kReadTickMs, readAnswered(m_env, m_plan.target));
}

void GuardedWrite::onExchangeEnd()
{
    switch (m_step) {
    case Step::Checking:
        onChecked();
        break;
    case Step::Writing:
        onWritten();
        break;
    case Step::Verifying:
        onReadBack();
        break;
    case Step::Locking:
        break;
    }
}

void GuardedWrite::onChecked()
{
    const bool answered = readOutcome(m_env, m_plan.target) == Outcome::Answered;
    m_env.Close();
    if (!answered) {
        finish(WriteOutcome::NoAnswer);
        return;
    }
    const EnvRecord now = m_env.record(0);
    Conflict conflict{m_plan.base, m_plan.mine, now, record_fields::changedSettings(m_plan.base, now), {}, {}};
    if (conflict.theirFields.isEmpty()) {
        m_outcome.before = now;
        m_outcome.after = m_plan.mine;
        write();
        return;
    }
    m_outcome.fields = conflict.theirFields;
    if (m_checks > 1) { // changed again while the changes were being made on the new settings
        finish(WriteOutcome::Conflict);
        return;
    }
    conflict.myFields = record_fields::changedSettings(m_plan.base, m_plan.mine);
    for (const QString& field : m_plan.claimed) {
        if (!conflict.myFields.contains(field))
            conflict.myFields << field;
    }
    conflict.bothFields = common(conflict.myFields, conflict.theirFields);
    const Resolution resolution = m_decider                       ? m_decider(conflict)
                                  : conflict.bothFields.isEmpty() ? Resolution::KeepTheirs
                                                                  : Resolution::Cancel;
    if (resolution == Resolution::Cancel) {
        finish(m_decider ? WriteOutcome::Cancelled : WriteOutcome::Conflict);
        return;
    }
    if (resolution == Resolution::Overwrite) {
        m_outcome.before = now;
        m_outcome.after = m_plan.mine;
        write();
        return;
    }
    EnvRecord remade = now;
    if (m_plan.remake) {
        if (const std::optional<QString> refused = m_plan.remake(remade)) {
            m_outcome.reason = *refused;
            finish(WriteOutcome::RemakeRefused);
            return;
        }
    } else {
        remade = mergeChanges(m_plan.base, m_plan.mine, now);
    }
    m_outcome.remade = true;
    m_outcome.remadeFields = conflict.theirFields;
    m_plan.base = now;
    m_plan.mine = remade;
    check(); // nobody may have changed it again meanwhile
}

void GuardedWrite::write()
{
    enter(Step::Writing);
    m_outcome.entry = m_history ? m_history->keep(m_plan.verb, m_outcome.before, m_outcome.after) : 0;
    if (const Outcome sent = sendWrite(m_env, m_plan.target, m_outcome.after, m_plan.password);
        sent != Outcome::Answered) {
        m_outcome.reason = m_env.openError();
        if (m_history)
            m_history->drop(m_outcome.before.mac(), m_outcome.entry);
        finish(WriteOutcome::CannotOpen);
        return;
    }
    m_exchange.start(reply_wait::kWriteTickMs);
}

void GuardedWrite::onWritten()
{
    const bool answered = m_env.answered() != 0;
    m_outcome.result = answered ? m_env.replyResult() : -1;
    m_outcome.laterAnswers = m_env.laterAnswers();
    m_env.Close();
    if (answered && m_outcome.result == frame::kResultWrongPassword) {
        // The device refused the write: nothing changed, and nothing replaced needs keeping.
        if (m_history)
            m_history->drop(m_outcome.before.mac(), m_outcome.entry);
        finish(WriteOutcome::Refused);
        return;
    }
    m_afterOk = answered && m_outcome.result == frame::kResultOk;
    if (m_afterOk && m_history)
        m_history->settle(m_outcome.before.mac(), m_outcome.entry, settings_history::State::Settled);
    // A unicast write that moves the device to another address is not followed there: the read back
    // would go to an address nobody asked this program to talk to.
    const bool moved = !m_plan.target.mac && m_outcome.after.ipAddress() != m_outcome.before.ipAddress();
    if ((m_afterOk && !m_verify) || moved) {
        if (!m_afterOk && m_history)
            m_history->settle(m_outcome.before.mac(), m_outcome.entry, settings_history::State::Unconfirmed);
        finish(m_afterOk ? WriteOutcome::Written : WriteOutcome::Unknown);
        return;
    }
    readBack();
}

void GuardedWrite::readBack()
{
    enter(Step::Verifying);
    if (sendRead(m_env, m_plan.target) != Outcome::Answered) {
        onReadBack();
        return;
    }
    m_exchange.start(reply_wait::kReadTickMs, readAnswered(m_env, m_plan.target));
}

void GuardedWrite::onReadBack()
{
    const bool answered = m_env.isOpen() && readOutcome(m_env, m_plan.target) == Outcome::Answered;
    m_env.Close();
    const settings_history::Mac mac = m_outcome.before.mac();
    if (!answered) {
        if (!m_afterOk && m_history)
            m_history->settle(mac, m_outcome.entry, settings_history::State::Unconfirmed);
        finish(m_afterOk ? WriteOutcome::Written : WriteOutcome::Unknown);
        return;
    }
    const EnvRecord back = m_env.record(0);
    const QStringList differ = record_fields::changedSettings(m_outcome.after, back);
    if (m_afterOk) {
        m_outcome.verified = differ.isEmpty();
        m_outcome.fields = differ;
        finish(differ.isEmpty() ? WriteOutcome::Written : WriteOutcome::Mismatch);
        return;
    }
    if (differ.isEmpty()) {
        if (m_history)
            m_history->settle(mac, m_outcome.entry, settings_history::State::Settled);
        m_outcome.verified = true;
        finish(WriteOutcome::WrittenLate);
    } else if (record_fields::changedSettings(m_outcome.before, back).isEmpty()) {
        if (m_history)
            m_history->drop(mac, m_outcome.entry);
        finish(WriteOutcome::NotStored);
    } else {
        if (m_history)
            m_history->settle(mac, m_outcome.entry, settings_history::State::Unconfirmed);
        m_outcome.fields = differ;
        finish(WriteOutcome::Unknown);
    }
}

void GuardedWrite::finish(WriteOutcome::Status status)
{
    m_exchange.cancel();
    m_env.Close();
    if (m_lock)
        m_lock->release();
    m_outcome.status = status;
    m_running = false;
    emit finished(m_outcome);
}
} // namespace device
