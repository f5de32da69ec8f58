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
    bool clear = false;       // passwd --clear
    bool all = false;         // import --all: every device a search finds
    bool yes = false;         // act on more than one device without asking
    bool allAdapters = false; // --all-adapters: broadcasts leave from every adapter
    // status --watch and its options as typed (absent: not given); StatusWatch reads them.
    bool watch = false;
    std::optional<QString> interval = std::nullopt;
    std::optional<QString> count = std::nullopt;
    std::optional<QString> openMetrics = std::nullopt;
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
/** `passwd MAC|ADDR [--clear]`: changes (or with --clear removes) the device password, as the editor's
 *  "Set Password": the current password as for `write`, the new one from CORMAPMP_NEW_PASSWORD, the
 *  second line of standard input (--password-stdin) or two prompts; refused (exit 2) when empty, shorter
 *  than 4 or longer than 8 characters. Exit status 0 changed; 1 no answer or refused by the device. */
int passwdVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);

/** `export MAC|ADDR FILE`: reads the device and saves its settings as the editor's export does. */
int exportVerb(const VerbRequest& request, QTextStream& out, QTextStream& err);

/** `import FILE MAC|ADDR… | --all`: checks the file, then for each device reads it, merges the file's
 *  settings as the editor's import does and writes the result; one line per device and a summary.
 *  More than one device needs --yes. Exit status 0 when every device took it. */
int importVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);

/** `show FILE`: prints a settings file's record and trailer (text or --json). */
int showVerb(const VerbRequest& request, QTextStream& out, QTextStream& err);
} // namespace cli
