#include "device/DeviceRequests.h"

#include "net/CNetEnv.h"

#include <algorithm>
#include <optional>

namespace device {
namespace {
Outcome judgeByCount(const CNetEnv& env)
{
    return env.count() > 0 ? Outcome::Answered : Outcome::NoAnswer;
}

Outcome judgeByAnswered(const CNetEnv& env)
{
    return env.answered() && env.count() > 0 ? Outcome::Answered : Outcome::NoAnswer;
}

/** A unicast read (all-zero body: the device is addressed by its IP alone), the search by IP and the
 *  read by IP alike; only the tick period differs. Only an answer from the device asked counts: where
 *  the device port is shared, another program's answers may arrive here too. */
Outcome unicastRead(CNetEnv& env, std::uint32_t deviceAddress, int periodMs, WaitEnd end)
{
    if (const auto failure = open(env, Mode::Unicast, deviceAddress, frame::kRead))
        return *failure;
    env.SendUnicast(deviceAddress);
    waitUntil(
        env, periodMs, [&env, deviceAddress] { return hasAnswerFrom(env, deviceAddress); }, end);
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

std::optional<Outcome> open(CNetEnv& env, Mode mode, std::uint32_t address, int command, bool everyAdapter, int limit)
{
    if (!env.hasTable())
        return Outcome::NoTable;
    if (!(mode == Mode::Unicast ? env.OpenRemote(address) : openBroadcast(env, address, everyAdapter)))
        return Outcome::CannotOpen;
    env.requestFrame().fill(0);
    env.setCount(0);
    env.setLimit(limit > 0 ? limit : env.tableSize());
    env.setCommand(command);
    return std::nullopt;
}

bool hasAnswerFrom(const CNetEnv& env, std::uint32_t asked)
{
    for (int i = 0; i < env.count(); ++i) {
        if (cameFromAsked(env.record(i), asked))
            return true;
    }
    return false;
}

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

void waitForAnswer(CNetEnv& env, int periodMs, WaitEnd end, int ticks)
{
    waitUntil(
        env, periodMs, [&env] { return env.answered() != 0; }, end, ticks);
}

void waitUntil(CNetEnv& env, int periodMs, const std::function<bool()>& answered, WaitEnd end, int ticks)
{
    Exchange(env).run(periodMs, answered, end, ticks);
}

bool openBroadcast(CNetEnv& env, std::uint32_t bindAddress, bool everyAdapter)
{
    return everyAdapter ? env.OpenEveryAdapter() : env.OpenLocal(bindAddress);
}

Outcome searchByMac(CNetEnv& env, std::uint32_t bindAddress, bool everyAdapter, SearchWait wait)
{
    if (const auto failure = open(env, Mode::Broadcast, bindAddress, frame::kSearch, everyAdapter))
        return *failure;
    env.SendBroadcast();
    // Ten ticks over the whole wait, as the search window's; the progress of a long wait shows in them.
    const int periodMs = std::max(1, wait.waitMs / reply_wait::kTicks);
    if (wait.expect > 0)
        waitUntil(
            env, periodMs, [&env, &wait] { return env.answered() != 0 || env.count() >= wait.expect; },
            WaitEnd::OnAnswer);
    else
        waitForAnswer(env, periodMs, WaitEnd::AtTick);
    return judgeByCount(env);
}

Outcome searchByIp(CNetEnv& env, std::uint32_t deviceAddress)
{
    return unicastRead(env, deviceAddress, reply_wait::kSearchTickMs, WaitEnd::AtTick);
}

Outcome readByMac(CNetEnv& env, std::uint32_t bindAddress, const Mac& mac, bool everyAdapter)
{
    if (const auto failure = open(env, Mode::Broadcast, bindAddress, frame::kRead, everyAdapter))
        return *failure;
    std::copy(mac.begin(), mac.end(), env.requestBody());
    env.SendBroadcast();
    waitForAnswer(env, reply_wait::kReadTickMs);
    return judgeByAnswered(env);
}

Outcome readByIp(CNetEnv& env, std::uint32_t deviceAddress)
{
    return unicastRead(env, deviceAddress, reply_wait::kReadTickMs, WaitEnd::OnAnswer);
}
} // namespace device
