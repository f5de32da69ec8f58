#pragma once

// The request pattern of the search window and the settings editor, for the command-line tool: open the
// endpoint, fill the request, send it twice, poll the endpoint from a timer until it answers or the
// wait runs out, close. The waits are the program's (net/ReplyWaits.h).

#include "CliArguments.h"
#include "net/ReplyWaits.h"

#include <cstdint>
#include <functional>

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

/** Opens the endpoint for broadcast requests: from every adapter (CNetEnv::OpenEveryAdapter), or from
 *  `bindAddress` (0: unbound). */
bool openBroadcast(CNetEnv& env, std::uint32_t bindAddress, bool everyAdapter);

/** Broadcasts a search (command 1) from `bindAddress` (0: unbound) or from every adapter, and always
 *  waits the full 10 ticks, as every device on the LAN may still answer. Answered when the table holds
 *  at least one record. */
Outcome searchByMac(CNetEnv& env, std::uint32_t bindAddress, bool everyAdapter = false);

/** Sends a unicast read (command 2, all-zero body) to `deviceAddress`; the wait ends at the first tick
 *  after an accepted answer. The stored record's sourceAddress is the address the answer came from. */
Outcome searchByIp(CNetEnv& env, std::uint32_t deviceAddress);

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

/** Polls the endpoint every `periodMs` from a timer in a local event loop, as the program's windows do:
 *  ends at the first tick at which answered is set, or at the `ticks`-th tick. Closes the endpoint. */
void waitForAnswer(CNetEnv& env, int periodMs, int ticks = reply_wait::kTicks);

/** As waitForAnswer, but the wait ends at the first tick at which `answered` holds. */
void waitUntil(CNetEnv& env, int periodMs, const std::function<bool()>& answered, int ticks = reply_wait::kTicks);
} // namespace cli
