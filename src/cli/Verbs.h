#pragma once

// The verbs of cormapmp-cli, each one function over one request: CliTool parses the command line into a
// VerbRequest and calls the verb named. A verb writes only to the two streams it is given and takes the
// device password from the console it is given.

#include "protocol/NetworkProfile.h"

#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>

class QTextStream;

namespace device {
class HistoryKeeper;
}
namespace record_edit {}

namespace cli {
// The device layer and record editing are the command line's own vocabulary.
using namespace device;
using namespace record_edit;

class Console;

/** How the firmware goes to the device. */
enum class FirmwareWay
{
    ByProduct, // the shell for product code 10 (known after a read by MAC), else directly
    Shell,
    Direct,
};

/** How many devices a search of the command line holds (search, --all, status --all, apply's fleet verbs):
 *  far more than the 256 rows of the search window. A device that answers beyond it is counted and said,
 *  and the verb's exit status is 1. */
constexpr int kSearchLimit = 4096;

/** What the command line asked for, as CliTool parsed it. */
struct VerbRequest
{
    NetworkProfile profile;
    bool json = false;
    std::optional<std::uint32_t> bindAddress;
    std::optional<std::uint32_t> ipAddress; // search --ip (refused by the other verbs)
    QString verb;                           // as typed: the history names the verb that wrote
    QStringList operands;                   // after the verb
    bool dryRun = false;
    bool passwordStdin = false;
    bool clear = false;       // passwd --clear
    bool all = false;         // every device a search finds
    bool yes = false;         // act on more than one device without asking
    bool allAdapters = false; // --all-adapters: broadcasts leave from every adapter
    bool csv = false;         // search --csv
    // search and --all: the search's whole wait (ms), and the number of devices after which it ends.
    std::optional<int> searchWaitMs;
    std::optional<int> expect;
    int searchLimit = kSearchLimit; // devices a search holds (a test may ask for fewer)
    // status --watch and its options as typed (absent: not given); StatusWatch reads them.
    bool watch = false;
    std::optional<QString> interval = std::nullopt;
    std::optional<QString> count = std::nullopt;
    std::optional<QString> openMetrics = std::nullopt;
    FirmwareWay way = FirmwareWay::ByProduct; // firmware --shell / --direct
    int jobs = 0;                             // --jobs: devices served at once (0: not given, the default)
    // port and tty: what to send (as text or in hex), what must come back, how long to wait, the link.
    std::optional<QString> sendText = std::nullopt;
    std::optional<QString> sendHex = std::nullopt;
    std::optional<QString> expectText = std::nullopt;
    std::optional<int> portWaitMs = std::nullopt;
    std::optional<QString> link = std::nullopt;
    bool terminal = false;                    // the output is a terminal: progress redrawn in place
    std::shared_ptr<HistoryKeeper> history;   // keeps what writes replace (none: nothing kept)
};

/** One verb: its exit status (0 success, 1 the device did not answer or refused, 2 bad input). */
using Verb = int (*)(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);

/** `search [--ip ADDR] [--csv] [--wait MS] [--expect N]`: every device on the LAN by broadcast (the full
 *  3 s, or MS, or until N devices answered), or the one device
 *  at ADDR; one line per device sorted by MAC, JSON or CSV. */
int searchVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);

/** `read MAC|ADDR`: every field of one device's record, as text or JSON. */
int readVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);

/** `status MAC|ADDR`: reads the device's record, asks for its status (command 5) and prints the decoded
 *  report: the fields and the text box, or one JSON object. The result byte of the reply is not looked
 *  at. Exit status 0, 1 (no answer), 2 (bad input). */
int statusVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);

/** `write MAC|ADDR field=value…`: refuses (exit 2, nothing sent) what no record can take, then reads the
 *  device's record, applies the changes, refuses what the settings editor would refuse for that record
 *  (a field its settings do not use, naming the field and why), prints each change (old -> new), stops
 *  there with --dry-run, else sends the write (command 3) with the device password from `console` and
 *  prints the device's result. Exit status 0 written; 1 no answer, password mismatch or an unknown
 *  result; 2 bad input. */
int writeVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);

/** `passwd MAC|ADDR [--clear]`: changes (or with --clear removes) the device password, as the editor's
 *  "Set Password": the current password as for `write`, the new one from CORMAPMP_NEW_PASSWORD, the
 *  second line of standard input (--password-stdin) or two prompts; refused (exit 2) when empty, shorter
 *  than 4 or longer than 8 characters. Exit status 0 changed; 1 no answer or refused by the device. */
int passwdVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);

/** `export MAC|ADDR FILE`: reads the device and saves its settings as the editor's export does. */
int exportVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);

/** `import FILE MAC|ADDR… | --all`: checks the file, then for each device reads it, merges the file's
 *  settings as the editor's import does and writes the result; one line per device and a summary.
 *  More than one device needs --yes. Exit status 0 when every device took it. */
int importVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);

/** `show FILE`: prints a settings file's record and trailer (text or --json). */
int showVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);

/** `firmware FILE MAC|ADDR… | --all`: uploads FILE by TFTP, directly or through the device's shell, to
 *  one device (with progress) or to several (at most --jobs at a time, one line each and a summary). */
int firmwareVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);
/** `history MAC|ADDR`: the entries the settings history keeps of the device: number, time, program and
 *  verb, the settings changed. A device named by its MAC is not asked; one named by its address is read
 *  for its MAC. */
int historyVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);

/** `diff A B`, each a device (MAC or address), a settings file or a history entry (MAC@N, MAC@latest):
 *  one line per setting that differs ("com1.baudRate: 9600 -> 115200"), or JSON. Exit status 0 equal,
 *  1 different, 2 bad input or a record that could not be had. */
int diffVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);

/** `restore MAC|ADDR [ENTRY]`: writes the record a history entry kept (default the latest) back to its
 *  device as `write` writes, --dry-run included; the device's MAC never comes from the entry, and an
 *  entry of another device is refused (exit 2). */
int restoreVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);

/** `apply FILE`: brings each device the file names into the state it declares (the defaults and the
 *  device's own fields): reads the device, compares, and writes through the path of `write` only when a
 *  field differs (--dry-run: writes nothing). One line per device (unchanged, changed with each field's
 *  old -> new, failed and why) and a summary, or one JSON document. Exit status 0 when every device
 *  holds the declared state, 1 when any failed, 2 for a bad file (naming its line and field). */
int applyVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);
/** `port MAC|ADDR COMn --send TEXT|--hex HEX [--expect TEXT] [--wait MS]`: reads the device's record
 *  for the port's mode and ports, connects as the mode says, sends the bytes and prints what comes back
 *  (as text, or in hex with --hex) once as many bytes came back as were sent, or the expected bytes
 *  did, or the wait (default 3000 ms) ran out. Exit status 0 when it came back; 1 when the device did not
 *  answer, the port takes no connection here (AT command mode, a peer elsewhere), refused it, or nothing
 *  (or not the expected) came back in time; 2 bad input. */
int portVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);

/** `tty MAC|ADDR COMn --link PATH`: a pseudo-terminal in raw mode bridged to the port, with a symbolic
 *  link at PATH, connecting again with a growing pause (0.1 s to 5 s) whenever the connection fails or
 *  drops, each said on the error stream, until SIGINT or SIGTERM. Exit status 0 when stopped; 1 when the
 *  device did not answer, the port takes no connection here or the terminal cannot be made. */
int ttyVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console);
} // namespace cli
