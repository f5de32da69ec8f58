#pragma once

// The settings editor's requests for the command-line tool: write (command 3) and status (command 5),
// with the editor's waits, and the program's messages for their outcomes.

#include "device/DeviceName.h"
#include "device/DeviceTexts.h"
#include "device/DeviceRequests.h"
#include "record/EnvRecord.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class CNetEnv;
class QTextStream;

namespace device {
/** One device as the command line names it: by MAC (broadcast from `bindAddress`, 0 for any, or from
 *  every adapter) or by its IPv4 address (unicast). */
struct Target
{
    std::optional<Mac> mac;
    std::uint32_t address = 0;
    std::uint32_t bindAddress = 0;
    bool everyAdapter = false;
};

/** Reads the device's record (command 2); on Answered it is record 0 of the table. */
Outcome readTarget(CNetEnv& env, const Target& target);

/** After a password change that got no clear answer: reads the device back and tells whether it holds
 *  `next` as its password (true), still another one (false), or could not be read (nothing). */
std::optional<bool> holdsPassword(CNetEnv& env, const Target& target, const QString& next);
/** Whether `record`'s password field is that of the password `typed`. */
bool holdsPassword(const EnvRecord& record, const QString& typed);

// The same requests in two halves, for a caller that waits on its own event loop (device::Exchange):
// the request goes out (both copies), then, once the wait has ended, its outcome is judged.
/** Sends the read of readTarget; Answered means sent, anything else why not. */
Outcome sendRead(CNetEnv& env, const Target& target);
/** When the read's answer is in: any answer by MAC, an answer from the address asked by IP. */
std::function<bool()> readAnswered(const CNetEnv& env, const Target& target);
/** After the read's wait: Answered with the device's record as record 0, or NoAnswer. */
Outcome readOutcome(CNetEnv& env, const Target& target);
/** Sends the write of writeSettings; Answered means sent, anything else why not. */
Outcome sendWrite(CNetEnv& env, const Target& target, const EnvRecord& record, const QByteArray& password);

/** Sends `record` as a write (command 3): its password field holds `password` (at most 8 bytes), passed
 *  through HashPassword when it is not empty. Waits as long as a read (10 ticks of 200 ms) at most: a
 *  device slower than a write's old second still answers within it; on Answered the device's
 *  result is the reply's result byte. */
Outcome writeSettings(CNetEnv& env, const Target& target, const EnvRecord& record, const QByteArray& password);

/** Asks for the device's status (command 5) with `record` as the body, its password field empty. Waits
 *  10 ticks of 200 ms at most; on Answered the endpoint's status data holds the device's items. */
Outcome requestStatus(CNetEnv& env, const Target& target, const EnvRecord& record);

/** Asks the device to change its password (command 4) with `record` as the body: the current password in
 *  its password field, the new one in the 8 bytes after the record, each hashed when not empty. Waits 10
 *  ticks of 200 ms at most; on Answered the device's result is the reply's result byte. */
Outcome changePassword(CNetEnv& env, const Target& target, const EnvRecord& record, const QString& current,
                       const QString& next);
} // namespace device
