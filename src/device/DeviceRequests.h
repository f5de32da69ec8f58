#pragma once

// The request pattern of the search window and the settings editor, for the command-line tool: open the
// endpoint, fill the request, send it twice, poll the endpoint from a timer until it answers or the
// wait runs out, close. The waits are the program's (net/ReplyWaits.h).

#include "device/DeviceName.h"
#include "device/Exchange.h"
#include "net/ReplyWaits.h"

#include <cstdint>
#include <functional>
#include <optional>

class CNetEnv;
class EnvRecord;

namespace device {
enum class Outcome
{
    Answered,   // at least one record is in the endpoint's table
    NoAnswer,   // the wait ran out
    CannotOpen, // the endpoint could not be opened (CNetEnv::openError says why)
    NoTable,    // the endpoint has no device table
};

enum class Mode
{
    Broadcast, // OpenLocal, bound to the address given (0: unbound), or from every adapter
    Unicast,   // OpenRemote to the device address given
};

/** Opens the endpoint, zeroes the request frame, restarts the table (so the answer to this request is
 *  record 0), limits it to `limit` records (0: as many as its table holds) and sets the command. What went
 *  wrong, or nothing. */
std::optional<Outcome> open(CNetEnv& env, Mode mode, std::uint32_t address, int command, bool everyAdapter = false,
                            int limit = 0);

/** True when the table holds an answer from the device asked at `asked` (see cameFromAsked). */
bool hasAnswerFrom(const CNetEnv& env, std::uint32_t asked);

/** Opens the endpoint for broadcast requests: from every adapter (CNetEnv::OpenEveryAdapter), or from
 *  `bindAddress` (0: unbound). */
bool openBroadcast(CNetEnv& env, std::uint32_t bindAddress, bool everyAdapter);

/** How long a search by broadcast waits: `waitMs` in all (3 s unless a script asks otherwise), or until
 *  `expect` devices have answered (0: no such end). */
struct SearchWait
{
    int waitMs = reply_wait::kTicks * reply_wait::kSearchTickMs;
    int expect = 0;
};

/** Broadcasts a search (command 1) from `bindAddress` (0: unbound) or from every adapter, and waits the
 *  whole wait, as every device on the LAN may still answer, unless the devices expected have answered.
 *  Answered when the table holds at least one record. */
Outcome searchByMac(CNetEnv& env, std::uint32_t bindAddress, bool everyAdapter = false, SearchWait wait = {});

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

/** Waits in a local event loop for the endpoint's answer, as the program's windows do: at most `ticks`
 *  ticks of `periodMs`. Closes the endpoint. */
void waitForAnswer(CNetEnv& env, int periodMs, WaitEnd end = WaitEnd::OnAnswer, int ticks = reply_wait::kTicks);

/** As waitForAnswer, but the answer is in when `answered` holds. */
void waitUntil(CNetEnv& env, int periodMs, const std::function<bool()>& answered, WaitEnd end = WaitEnd::OnAnswer,
               int ticks = reply_wait::kTicks);
} // namespace device
