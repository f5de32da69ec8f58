#include "DeviceRequests.h"

#include "net/CNetEnv.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <optional>

namespace cli {
namespace {
enum class Mode
{
    Broadcast, // OpenLocal, bound to the address given (0: unbound)
    Unicast,   // OpenRemote to the device address given
};

/** Opens the endpoint, zeroes the request frame, restarts the table (so the answer to this request is
 *  record 0) and sets the command. What went wrong, or nothing. */
std::optional<Outcome> open(CNetEnv& env, Mode mode, std::uint32_t address, int command, bool everyAdapter = false)
{
    if (!env.hasTable())
        return Outcome::NoTable;
    if (!(mode == Mode::Unicast ? env.OpenRemote(address) : openBroadcast(env, address, everyAdapter)))
        return Outcome::CannotOpen;
    env.requestFrame().fill(0);
    env.setCount(0);
    env.setLimit(CNetEnv::kTableSize);
    env.setCommand(command);
    return std::nullopt;
}

Outcome judgeByCount(const CNetEnv& env)
{
    return env.count() > 0 ? Outcome::Answered : Outcome::NoAnswer;
}

Outcome judgeByAnswered(const CNetEnv& env)
{
    return env.answered() && env.count() > 0 ? Outcome::Answered : Outcome::NoAnswer;
}

int answersFrom(const CNetEnv& env, std::uint32_t asked)
{
    int answers = 0;
    for (int i = 0; i < env.count(); ++i)
        answers += cameFromAsked(env.record(i), asked) ? 1 : 0;
    return answers;
}

bool hasAnswerFrom(const CNetEnv& env, std::uint32_t asked)
{
    return answersFrom(env, asked) > 0;
}

/** A unicast read (all-zero body: the device is addressed by its IP alone), the search by IP and the
 *  read by IP alike; the tick period differs, and a read ends with its answer while a search by IP ends
 *  at the tick after it (as the search window's does). Only an answer from the device asked counts: where
 *  the device port is shared, another program's answers may arrive here too. */
Outcome unicastRead(CNetEnv& env, std::uint32_t deviceAddress, int periodMs, AnswerEnds ends)
{
    if (const auto failure = open(env, Mode::Unicast, deviceAddress, frame::kRead))
        return *failure;
    env.SendUnicast(deviceAddress);
    waitUntil(
        env, periodMs, [&env, deviceAddress] { return hasAnswerFrom(env, deviceAddress); }, reply_wait::kTicks, ends);
    return env.answered() && keepAnswersFrom(env, deviceAddress) > 0 ? Outcome::Answered : Outcome::NoAnswer;
}

bool isDeviceAddress(const EnvRecord& record, std::uint32_t address)
{
    if (address == record.ipAddress())
        return true;
    for (int p = 0; p < EnvRecord::kPortCount; ++p) {
        if (record.port(p).localIp() == address)
            return true;
    }
    return false;
}
} // namespace

bool cameFromAsked(const EnvRecord& record, std::uint32_t asked)
{
    const std::uint32_t from = record.sourceAddress();
    if (from == asked)
        return true;
    return record.multiIp() && isDeviceAddress(record, asked) && isDeviceAddress(record, from);
}

int keepAnswersFrom(CNetEnv& env, std::uint32_t asked)
{
    int kept = 0;
    for (int i = 0; i < env.count(); ++i) {
        if (cameFromAsked(env.record(i), asked))
            env.record(kept++) = env.record(i);
    }
    env.setCount(kept);
    return kept;
}

void waitForAnswer(CNetEnv& env, int periodMs, int ticks)
{
    waitUntil(
        env, periodMs, [&env] { return env.answered() != 0; }, ticks);
}

void waitForAnswerAtOnce(CNetEnv& env, int periodMs)
{
    waitUntil(
        env, periodMs, [&env] { return env.answered() != 0; }, reply_wait::kTicks, AnswerEnds::AtOnce);
}

void waitUntil(CNetEnv& env, int periodMs, const std::function<bool()>& answered, int ticks)
{
    waitUntil(env, periodMs, answered, ticks, AnswerEnds::AtTick);
}

void waitUntil(CNetEnv& env, int periodMs, const std::function<bool()>& answered, int ticks, AnswerEnds ends)
{
    // The request and its second copy went out before the wait begins (CNetEnv sends both before it
    // returns), so an answer already in ends the wait at once.
    if (ends == AnswerEnds::AtOnce && answered()) {
        env.Close();
        return;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    int tick = 0;
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        ++tick;
        if (tick >= ticks || answered()) {
            timer.stop();
            loop.quit();
        }
    });
    if (ends == AnswerEnds::AtOnce) {
        // The loop ends once the reply that answers has been merged; the endpoint closes after it.
        QObject::connect(&env, &CNetEnv::replyAccepted, &loop, [&] {
            if (answered())
                loop.quit();
        });
    }
    timer.start(periodMs);
    loop.exec();
    env.Close();
}

bool openBroadcast(CNetEnv& env, std::uint32_t bindAddress, bool everyAdapter)
{
    return everyAdapter ? env.OpenEveryAdapter() : env.OpenLocal(bindAddress);
}

namespace {
/** Runs a search's wait: 10 ticks of `periodMs`, or one of wait.waitMs; ends early once `expect`
 *  devices have answered. */
void waitForSearch(CNetEnv& env, int periodMs, const SearchWait& wait, const std::function<int()>& answers,
                   const std::function<bool()>& answered)
{
    const int period = wait.waitMs.value_or(periodMs);
    const int ticks = wait.waitMs ? 1 : reply_wait::kTicks;
    if (wait.expect) {
        const int expect = *wait.expect;
        waitUntil(
            env, period, [&] { return answers() >= expect; }, ticks, AnswerEnds::AtOnce);
        return;
    }
    waitUntil(env, period, answered, ticks);
}
} // namespace

Outcome searchByMac(CNetEnv& env, std::uint32_t bindAddress, bool everyAdapter, const SearchWait& wait)
{
    if (const auto failure = open(env, Mode::Broadcast, bindAddress, frame::kSearch, everyAdapter))
        return *failure;
    env.SendBroadcast();
    waitForSearch(
        env, reply_wait::kSearchTickMs, wait, [&env] { return env.count(); }, [&env] { return env.answered() != 0; });
    return judgeByCount(env);
}

Outcome searchByIp(CNetEnv& env, std::uint32_t deviceAddress, const SearchWait& wait)
{
    if (!wait.waitMs && !wait.expect)
        return unicastRead(env, deviceAddress, reply_wait::kSearchTickMs, AnswerEnds::AtTick);
    if (const auto failure = open(env, Mode::Unicast, deviceAddress, frame::kRead))
        return *failure;
    env.SendUnicast(deviceAddress);
    waitForSearch(
        env, reply_wait::kSearchTickMs, wait, [&env, deviceAddress] { return answersFrom(env, deviceAddress); },
        [&env, deviceAddress] { return answersFrom(env, deviceAddress) > 0; });
    return env.answered() && keepAnswersFrom(env, deviceAddress) > 0 ? Outcome::Answered : Outcome::NoAnswer;
}

Outcome readByMac(CNetEnv& env, std::uint32_t bindAddress, const Mac& mac, bool everyAdapter)
{
    if (const auto failure = open(env, Mode::Broadcast, bindAddress, frame::kRead, everyAdapter))
        return *failure;
    std::copy(mac.begin(), mac.end(), env.requestBody());
    env.SendBroadcast();
    waitForAnswerAtOnce(env, reply_wait::kReadTickMs);
    return judgeByAnswered(env);
}

Outcome readByIp(CNetEnv& env, std::uint32_t deviceAddress)
{
    return unicastRead(env, deviceAddress, reply_wait::kReadTickMs, AnswerEnds::AtOnce);
}
} // namespace cli
