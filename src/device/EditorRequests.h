#pragma once

// The settings editor's requests for the command-line tool: write (command 3) and status (command 5),
// with the editor's waits, and the program's messages for their outcomes.

#include "CliArguments.h"
#include "CliMessages.h"
#include "DeviceRequests.h"
#include "record/EnvRecord.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

class CNetEnv;
class QTextStream;

namespace cli {
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

/** Sends `record` as a write (command 3): its password field holds `password` (at most 8 bytes), passed
 *  through HashPassword when it is not empty. Waits 10 ticks of 100 ms at most; on Answered the device's
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
} // namespace cli
