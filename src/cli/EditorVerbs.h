#pragma once

// The command-line verbs of the settings editor's requests: `status` prints a device's status report,
// `write` changes settings of a device. CliTool parses the options and hands them over.

#include "protocol/NetworkProfile.h"

#include <QStringList>

#include <cstdint>
#include <optional>

class QTextStream;

namespace cli {
class Console;

/** What the command line asked for, as CliTool parsed it. */
struct VerbRequest
{
    NetworkProfile profile;
    bool json = false;
    std::optional<std::uint32_t> bindAddress;
    bool ipOption = false; // --ip was given (search's option; refused here)
    QStringList operands;  // after the verb
    bool dryRun = false;
    bool passwordStdin = false;
};

/** `status MAC|ADDR`: reads the device's record, asks for its status (command 5) and prints the decoded
 *  report: the fields and the text box, or one JSON object. The result byte of the reply is not looked
 *  at. Exit status 0, 1 (no answer), 2 (bad input). */
int statusVerb(const VerbRequest& request, QTextStream& out, QTextStream& err);

/** `write MAC|ADDR field=value…`: reads the device's record, applies the changes, refuses what the
 *  settings editor would refuse (exit 2, naming the field and the rule), prints each change (old -> new),
 *  stops there with --dry-run, else sends the write (command 3) with the device password from `console`
 *  and prints the device's result. Exit status 0 written; 1 no answer, password mismatch or an unknown
 *  result; 2 bad input. */
int writeVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);
} // namespace cli
