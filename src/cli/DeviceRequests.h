#pragma once

// The request pattern of the search window and the settings editor, for the command-line tool: open the
// endpoint, fill the request, send it twice, poll the endpoint from a timer until it answers or the
// wait runs out, close. The waits are the program's (net/ReplyWaits.h).

#include "CliArguments.h"
#include "net/ReplyWaits.h"

#include <cstdint>
#include <functional>
#include <optional>

class CNetEnv;
class EnvRecord;

namespace cli {
enum class Outcome
{
    Answered,   // at least one record is in the endpoint's table
    NoAnswer,   // the wait ran out
    CannotOpen, // the endpoint could not be opened (CNetEnv::openError says why)
    NoTable,    // the endpoint has no device table
};

/** The longest search wait --wait takes, in milliseconds. */
constexpr int kMaxSearchWaitMs = 60000;

/** How long a search waits: the full 10 ticks of 300 ms, or `waitMs`; with `expect` it ends as soon as
 *  that many devices have answered. */
struct SearchWait
{
    std::optional<int> waitMs;
    std::optional<int> expect;
};

/** Opens the endpoint for broadcast requests: from every adapter (CNetEnv::OpenEveryAdapter), or from
 *  `bindAddress` (0: unbound). */
bool openBroadcast(CNetEnv& env, std::uint32_t bindAddress, bool everyAdapter);

/** Broadcasts a search (command 1) from `bindAddress` (0: unbound) or from every adapter, and waits the
 *  full 10 ticks (or `wait.waitMs`), as every device on the LAN may still answer, unless `wait.expect`
 *  devices answer sooner. Answered when the table holds at least one record. */
Outcome searchByMac(CNetEnv& env, std::uint32_t bindAddress, bool everyAdapter = false, const SearchWait& wait = {});

/** Sends a unicast read (command 2, all-zero body) to `deviceAddress`; the wait ends at the first tick
 *  after an accepted answer (a directed broadcast address may reach several devices). The stored record's sourceAddress
 * is the address the answer came from. */
Outcome searchByIp(CNetEnv& env, std::uint32_t deviceAddress, const SearchWait& wait = {});

/** Broadcasts a read (command 2) for the device with `mac`; only an answer carrying that MAC counts.
 *  On Answered, record 0 of the table is the device's record. */
Outcome readByMac(CNetEnv& env, std::uint32_t bindAddress, const Mac& mac, bool everyAdapter = false);

/** Sends a unicast read (command 2) to `deviceAddress`. On Answered, record 0 of the table is the
 *  device's record, with the address the answer came from as its sourceAddress. */
Outcome readByIp(CNetEnv& env, std::uint32_t deviceAddress);

/** True when the unicast answer carrying `record` came from the device asked at `asked`: it came from that
 *  address, or the device is a multi-IP one and both the address asked and the one it answered from are
 *  its own (its ipAddress or one of its ports' addresses). An answer from anywhere else is another
 *  device's, e.g. one meant for another program sharing the device port. */
bool cameFromAsked(const EnvRecord& record, std::uint32_t asked);

/** Keeps in the endpoint's table only the records that came from the device asked at `asked`, in their
 *  order from record 0; the others are dropped. Returns how many were kept. */
int keepAnswersFrom(CNetEnv& env, std::uint32_t asked);

/** When a wait for an answer ends: at the first tick after it (a search by IP, as the search window's),
 *  or as soon as it is in (a read, write, status or password change: both copies of the request have
 *  been sent by then). The longest wait is the same either way. */
enum class AnswerEnds
{
    AtTick,
    AtOnce,
};

/** Polls the endpoint every `periodMs` from a timer in a local event loop, as the program's windows do:
 *  ends at the first tick at which answered is set, or at the `ticks`-th tick. Closes the endpoint. */
void waitForAnswer(CNetEnv& env, int periodMs, int ticks = reply_wait::kTicks);

/** As waitForAnswer, but the wait ends at the first tick at which `answered` holds. */
void waitUntil(CNetEnv& env, int periodMs, const std::function<bool()>& answered, int ticks = reply_wait::kTicks);

/** As waitUntil; with AnswerEnds::AtOnce the wait also ends as soon as a reply merged makes `answered`
 *  hold, or at once when it holds already. */
void waitUntil(CNetEnv& env, int periodMs, const std::function<bool()>& answered, int ticks, AnswerEnds ends);

/** As waitForAnswer (10 ticks of `periodMs` at most), ending as soon as the endpoint is answered. */
void waitForAnswerAtOnce(CNetEnv& env, int periodMs);
} // namespace cli
