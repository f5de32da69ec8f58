#include "CliTool.h"

#include "device/DeviceName.h"
#include "CliMessages.h"
#include "CliTexts.h"
#include "device/DeviceJobs.h"
#include "FirmwareMany.h"
#include "device/HistoryKeeper.h"
#include "net/CNetEnv.h"
#include "protocol/Ipv4.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QTextStream>

namespace {
const QString kProgram = QStringLiteral("cormapmp-cli");

const QString kHelp = QStringLiteral(R"(Usage: cormapmp-cli VERB [options]

Finds Tessel devices, reads and writes their settings, shows their status and uploads their
firmware, as CormapMP does.

Verbs:
  search              find every device on the LAN by broadcast; waits the full 3 s, then
                      prints one line per device, sorted by MAC: MAC, IP address, product
                      code, comment
  search --ip ADDR    ask the one device at ADDR (unicast, also through routers); the line
                      starts with the address the answer came from
  search --csv        the same list as CSV (RFC 4180, UTF-8): a header row, then MAC, IP
                      address, product code, comment, source address and the adapter the
                      answer arrived on, one row per device
  search --wait MS [--expect N]
                      wait MS milliseconds (10 to 600000) instead of 3 s; with --expect, stop
                      as soon as N devices have answered. Both also apply to the search of
                      --all. A search holds up to 4096 devices; when more answer, it says
                      how many were left out and exits 1 (so does every verb with --all)
  read MAC|ADDR       read and print all settings of one device: named by its MAC
                      (02:11:22:0a:bc:de, either case) by broadcast, by its IPv4 address by
                      unicast
  status MAC|ADDR     print the device's status report: version, uptime, addresses, serial
                      counters and the device's text with its LAN statistics
  status MAC|ADDR... | status --all
                      the status of several devices, at most --jobs at a time: one line
                      per device (version, uptime, serial counters), then a summary
  status MAC|ADDR... --watch [--interval S] [--count N] [--openmetrics FILE]
                      read the devices' status again every S seconds (default 2), every
                      device of a round at once, and print one line per reading and device
                      with each port's receive (RX) and transmit (TX) rate; a summary at the
                      end, after N readings or at Ctrl+C. --openmetrics writes the latest
                      figures to FILE after each round, replacing it whole: OpenMetrics for
                      a FILE named *.om, else the Prometheus text format (node_exporter's
                      *.prom files)
  write MAC|ADDR... field=value...
                      read the device's settings, change the fields named as read --json
                      names them (ipAddress=10.1.0.7 com1.baudRate=115200 comment=Lab), print
                      each change (old -> new) and write them; refused (exit 2, nothing
                      sent) where the settings editor would refuse them. Only the fields
                      set and those they put in use are checked: a value left alone goes
                      back as the device holds it, with a warning. The device password
                      (asked only when the device has one) comes from CORMAPMP_PASSWORD, or
                      with --password-stdin from the first line of standard input, or from a
                      prompt on the terminal; never from the arguments. Several devices
                      (or --all: every device a search finds; more than one needs --yes)
                      are written at most --jobs at a time: one line per device in the
                      order named (--all: by MAC), then a summary
  passwd MAC|ADDR...  change the device password: the current one as for write, the new
                      one from CORMAPMP_NEW_PASSWORD, the second line of standard input
                      (--password-stdin) or two prompts; 4 to 8 characters; several
                      devices or --all (with --yes) as for write
  passwd MAC|ADDR... --clear
                      remove the device password
  export MAC|ADDR FILE
                      save the device's settings to a settings file (.kvx)
  import FILE MAC|ADDR...
                      apply a settings file to each device named (or --all: every device a
                      search finds; more than one device needs --yes): the device's identity,
                      accounts and password stay, the rest comes from the file; one line per
                      device, then a summary
  show FILE           print a settings file's record and trailer
  firmware FILE MAC|ADDR [--shell|--direct]
                      upload the firmware FILE to one device by TFTP, directly or through
                      the device's shell. A device named by its MAC is read first for its
                      address and product (product 10 takes the shell way); one named by
                      its address is sent to directly unless --shell is given. Shows a
                      progress bar on a terminal, progress lines otherwise, and ends with
                      the firmware dialog's message
  firmware FILE MAC|ADDR... | firmware FILE --all
                      upload to several devices (more than one needs --yes), at most
                      --jobs at a time; one line per device, then a summary
  history MAC|ADDR    list what writes replaced on the device, newest last: entry number,
                      time, program and verb, the settings changed. Before every write,
                      import and restore the device's settings are kept in the user's data
                      folder (VarkonSystems/CormapMP/history, one folder per MAC; the last
                      100 entries per device)
  diff A B            print each setting that differs between A and B, each a device (MAC
                      or address), a settings file, or a history entry (MAC@NUMBER,
                      MAC@latest): "com1.baudRate: 9600 -> 115200". Exit status 0 when they
                      are equal, 1 when they differ, 2 when one cannot be had
  restore MAC|ADDR [NUMBER|latest]
                      write the settings a history entry kept (default the latest) back to
                      the device, as write does (--dry-run, the device password); the
                      device's MAC stays, an entry of another device is refused
  apply FILE          bring each device the JSON (or YAML) file FILE names (by MAC or address)
                      into the state it declares: {"defaults": {FIELD: VALUE...}, "devices":
                      {MAC|ADDR: {FIELD: VALUE...}...}}, the fields named as read --json
                      names them. Each device is read and written, as write does, only
                      when a field differs; one line per device (unchanged, changed with
                      each field's old -> new, or failed and why), then a summary. Exit
                      status 1 when a device failed, 2 for a bad file (naming the line)
  port MAC|ADDR COMn --send TEXT|--hex HEX [--expect TEXT] [--wait MS]
                      send bytes through a serial port of the device and print what comes
                      back: the device's settings are read first for the port's mode and
                      ports; a TCP server port (T2S) is connected to at the device's address
                      and the port's local port, a UDP port (U2S) is sent datagrams there, a
                      TCP client port (COD) is waited for at its peer address and port when
                      that is an address of this machine. Ends once as many bytes came back
                      as were sent, or with --expect once TEXT came back (with --hex both in
                      hex, and what came back is printed in hex), or after MS milliseconds
                      (10 to 600000, default 3000). Exit status 1 when the port takes no
                      connection (AT command mode), refuses it or nothing came back in time
  tty MAC|ADDR COMn --link PATH
                      make the port a local serial device: a pseudo-terminal in raw mode
                      bridged to the port, with a symbolic link at PATH, for any program
                      that opens a serial device (stty, picocom, Python's serial). When the
                      connection fails or drops it is made again after 0.1 s, then twice as
                      long each time up to 5 s, said on standard error; runs until Ctrl+C or
                      SIGTERM and removes the link

Options:
  --json              print one JSON document instead of text (search: an array of
                      devices; read: one object keyed by the record's field names)
  --bind ADDR         send broadcast requests from the local address ADDR
  --all-adapters      send broadcast requests (search, and every device named by its MAC)
                      from each network adapter that is up, and merge the answers: finds
                      devices on every LAN this machine is on; with --loopback the
                      loopback adapter alone
  --csv               search: print the list as CSV
  --dry-run           write, restore, apply: print the changes and send nothing
  --password-stdin    write, passwd, import, restore, apply: read the device password from
                      the first line of standard input (passwd: the new one from the second)
  --clear             passwd: remove the password
  --all               write, passwd, import, status, firmware: every device a search finds,
                      up to 4096 (--wait and --expect shape that search)
  --yes               write, passwd, import, firmware: act on more than one device (status
                      takes it too and needs none: it changes nothing)
  --loopback          talk to simulated devices on this machine (tessel-sim --loopback)
  --device-port P     the devices' protocol port (default 50005, with --loopback 51005)
  --tftp-port P, --shell-port P
                      the devices' TFTP and shell ports (firmware only; default 69 and
                      23, with --loopback 51069 and 51023)
  --shell, --direct   firmware: through the device's shell, or directly by TFTP
  --jobs N            write, passwd, import, status, apply: serve at most N devices at a
                      time, each exchange on a socket of its own (1 to 32, default 32);
                      firmware: upload to at most N devices at a time (1 to 4, default 1)
  --wait MS           search, and the search of --all: wait MS milliseconds for answers (10
                      to 600000, default 3000)
  --expect N          search, and the search of --all: stop once N devices have answered
                      (1 to 4096)
  --watch             status: read again and again (see above); --json prints one JSON
                      object a line
  --interval S        status --watch: seconds between readings, 1 to 3600 (default 2)
  --count N           status --watch: stop after N readings
  --openmetrics FILE  status --watch: keep the latest figures in FILE (FILE.prom for
                      node_exporter's textfile collector, FILE.om in OpenMetrics)
  --send TEXT, --hex HEX
                      port: the bytes to send, as text or in hex digits (48656c6c6f)
  --expect TEXT       port: end as soon as TEXT came back (exit 1 if it did not in time)
  --wait MS           port: the longest wait for the connection and the answer (the read
                      of the device's settings before it waits its usual 2 s at most)
  --link PATH         tty: where to make the symbolic link to the terminal
  -h, --help          show this text
  --version           show the version

Exit status: 0 success; 1 no device answered, the device refused the write (password
mismatch, unknown response), the network endpoint could not be opened or the firmware
upload failed; 2 a usage error or bad input.
)");

enum class Option
{
    Help,
    Json,
    Loopback,
    Bind,
    Ip,
    DevicePort,
    TftpPort,
    ShellPort,
    DryRun,
    Clear,
    All,
    Yes,
    PasswordStdin,
    Shell,
    Direct,
    Jobs,
    AllAdapters,
    Csv,
    Watch,
    Interval,
    Count,
    OpenMetrics,
    Wait,
    Expect,
    Send,
    Hex,
    Link,
};

QCommandLineOption option(Option which)
{
    switch (which) {
    case Option::Help:
        return QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    case Option::Json:
        return QCommandLineOption(QStringLiteral("json"));
    case Option::Loopback:
        return QCommandLineOption(QStringLiteral("loopback"));
    case Option::Bind:
        return QCommandLineOption(QStringLiteral("bind"), {}, QStringLiteral("ADDR"));
    case Option::Ip:
        return QCommandLineOption(QStringLiteral("ip"), {}, QStringLiteral("ADDR"));
    case Option::DevicePort:
        return QCommandLineOption(QStringLiteral("device-port"), {}, QStringLiteral("P"));
    case Option::TftpPort:
        return QCommandLineOption(QStringLiteral("tftp-port"), {}, QStringLiteral("P"));
    case Option::ShellPort:
        return QCommandLineOption(QStringLiteral("shell-port"), {}, QStringLiteral("P"));
    case Option::DryRun:
        return QCommandLineOption(QStringLiteral("dry-run"));
    case Option::PasswordStdin:
        return QCommandLineOption(QStringLiteral("password-stdin"));
    case Option::Clear:
        return QCommandLineOption(QStringLiteral("clear"));
    case Option::All:
        return QCommandLineOption(QStringLiteral("all"));
    case Option::Yes:
        return QCommandLineOption(QStringLiteral("yes"));
    case Option::Shell:
        return QCommandLineOption(QStringLiteral("shell"));
    case Option::Direct:
        return QCommandLineOption(QStringLiteral("direct"));
    case Option::Jobs:
        return QCommandLineOption(QStringLiteral("jobs"), {}, QStringLiteral("N"));
    case Option::AllAdapters:
        return QCommandLineOption(QStringLiteral("all-adapters"));
    case Option::Csv:
        return QCommandLineOption(QStringLiteral("csv"));
    case Option::Watch:
        return QCommandLineOption(QStringLiteral("watch"));
    case Option::Interval:
        return QCommandLineOption(QStringLiteral("interval"), {}, QStringLiteral("S"));
    case Option::Count:
        return QCommandLineOption(QStringLiteral("count"), {}, QStringLiteral("N"));
    case Option::OpenMetrics:
        return QCommandLineOption(QStringLiteral("openmetrics"), {}, QStringLiteral("FILE"));
    case Option::Wait:
        return QCommandLineOption(QStringLiteral("wait"), {}, QStringLiteral("MS"));
    case Option::Expect:
        return QCommandLineOption(QStringLiteral("expect"), {}, QStringLiteral("N"));
    case Option::Send:
        return QCommandLineOption(QStringLiteral("send"), {}, QStringLiteral("TEXT"));
    case Option::Hex:
        return QCommandLineOption(QStringLiteral("hex"), {}, QStringLiteral("HEX"));
    case Option::Link:
        return QCommandLineOption(QStringLiteral("link"), {}, QStringLiteral("PATH"));
    }
    return QCommandLineOption(QString());
}

QString name(Option which)
{
    return option(which).names().constLast();
}

constexpr Option kEveryOption[] = {
    Option::Help,       Option::Json,        Option::Loopback,      Option::Bind,   Option::Ip,
    Option::DevicePort, Option::TftpPort,    Option::ShellPort,     Option::DryRun, Option::Clear,
    Option::All,        Option::Yes,         Option::PasswordStdin, Option::Shell,  Option::Direct,
    Option::Jobs,       Option::AllAdapters, Option::Csv,           Option::Watch,  Option::Interval,
    Option::Count,      Option::OpenMetrics, Option::Wait,          Option::Expect, Option::Send,
    Option::Hex,        Option::Link,
};

using Options = std::uint32_t;

constexpr Options bit(Option o)
{
    return Options{1} << static_cast<int>(o);
}

template <typename... More> constexpr Options bits(Option first, More... more)
{
    return (bit(first) | ... | bit(more));
}

// Every verb takes these: the help, and the network profile (which ports and addresses the devices use).
constexpr Options kProfile =
    bits(Option::Help, Option::Loopback, Option::DevicePort, Option::TftpPort, Option::ShellPort);
// Every verb that finds devices by broadcast takes where the broadcasts leave from.
constexpr Options kBroadcast = bits(Option::Bind, Option::AllAdapters);
// Every device a search finds, and how that search waits.
constexpr Options kEvery = bits(Option::All, Option::Wait, Option::Expect);

/** One verb: its name, its function and the options it takes. */
struct VerbEntry
{
    const char* name;
    cli::Verb function;
    Options options;
};

// clang-format off
constexpr VerbEntry kVerbs[] = {
    {"search", cli::searchVerb, kProfile | kBroadcast | bits(Option::Json, Option::Ip, Option::Csv, Option::Wait,
                                                             Option::Expect)},
    {"read", cli::readVerb, kProfile | kBroadcast | bit(Option::Json)},
    {"status", cli::statusVerb, kProfile | kBroadcast | kEvery | bits(Option::Json, Option::Yes, Option::Jobs,
                                                                      Option::Watch, Option::Interval, Option::Count,
                                                                      Option::OpenMetrics)},
    {"write", cli::writeVerb, kProfile | kBroadcast | kEvery | bits(Option::Json, Option::DryRun,
                                                                    Option::PasswordStdin, Option::Yes, Option::Jobs)},
    {"passwd", cli::passwdVerb, kProfile | kBroadcast | kEvery | bits(Option::PasswordStdin, Option::Clear,
                                                                      Option::Yes, Option::Jobs)},
    {"export", cli::exportVerb, kProfile | kBroadcast},
    {"import", cli::importVerb, kProfile | kBroadcast | kEvery | bits(Option::PasswordStdin, Option::Yes,
                                                                      Option::Jobs)},
    {"show", cli::showVerb, kProfile | bit(Option::Json)},
    {"firmware", cli::firmwareVerb, kProfile | kBroadcast | kEvery | bits(Option::Yes, Option::Jobs, Option::Shell,
                                                                          Option::Direct)},
    {"history", cli::historyVerb, kProfile | kBroadcast | bit(Option::Json)},
    {"diff", cli::diffVerb, kProfile | kBroadcast | bit(Option::Json)},
    {"restore", cli::restoreVerb, kProfile | kBroadcast | bits(Option::Json, Option::DryRun, Option::PasswordStdin)},
    {"apply", cli::applyVerb, kProfile | kBroadcast | bits(Option::Json, Option::DryRun, Option::PasswordStdin,
                                                           Option::Jobs)},
    {"port", cli::portVerb, kProfile | kBroadcast | bits(Option::Send, Option::Hex, Option::Expect, Option::Wait)},
    {"tty", cli::ttyVerb, kProfile | kBroadcast | bit(Option::Link)},
    {"help", nullptr, kProfile},
};
// clang-format on

/** The option called "--name". */
Option optionNamed(const QString& typed)
{
    for (const Option o : kEveryOption) {
        if (typed == QStringLiteral("--") + name(o))
            return o;
    }
    return Option::Help;
}

const VerbEntry* verbNamed(const QString& verb)
{
    for (const VerbEntry& v : kVerbs) {
        if (verb == QLatin1String(v.name))
            return &v;
    }
    return nullptr;
}

/** The verbs' names, in the table's order, the way a sentence lists them: "a, b and c" or "a, b or c". */
QString verbList(const QString& last)
{
    QStringList names;
    for (const VerbEntry& v : kVerbs) {
        if (v.function)
            names << QString::fromLatin1(v.name);
    }
    const QString end = names.takeLast();
    return names.join(QStringLiteral(", ")) + QLatin1Char(' ') + last + QLatin1Char(' ') + end;
}

/** The first option given that `verb` does not take, as typed with its dashes, or nothing. */
std::optional<QString> foreignOption(const QCommandLineParser& parser, const VerbEntry& verb)
{
    for (const QString& typed : parser.optionNames()) {
        for (const Option o : kEveryOption) {
            if (option(o).names().contains(typed) && !(verb.options & bit(o)))
                return (typed.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + typed;
        }
    }
    return std::nullopt;
}

/** The profile options as NetworkProfile::fromArguments reads them, whichever form was typed. */
QStringList profileArguments(const QCommandLineParser& parser)
{
    QStringList args;
    if (parser.isSet(name(Option::Loopback)))
        args << QStringLiteral("--loopback");
    for (const Option port : {Option::DevicePort, Option::TftpPort, Option::ShellPort}) {
        if (parser.isSet(name(port)))
            args << QStringLiteral("--") + name(port) << parser.value(name(port));
    }
    return args;
}
} // namespace

CliTool::CliTool(QTextStream& out, QTextStream& err, const NetworkProfile& profile)
    : m_out(out), m_err(err), m_profile(profile), m_console(std::make_unique<cli::ProcessConsole>())
{
}

CliTool::~CliTool() = default;

void CliTool::setConsole(std::unique_ptr<cli::Console> console)
{
    m_console = std::move(console);
}

QString CliTool::helpText()
{
    // The options each verb takes, from the verb table, before the exit status.
    constexpr int kWidth = 96;
    constexpr int kVerbWidth = 12;
    QString byVerb = QStringLiteral("Options by verb (every verb also takes --loopback, --device-port, --tftp-port,\n"
                                    "--shell-port and --help; any other option is refused, exit status 2):\n");
    for (const VerbEntry& v : kVerbs) {
        QString line = QStringLiteral("  ") + QString::fromLatin1(v.name).leftJustified(kVerbWidth);
        const QStringList options = optionsOf(QString::fromLatin1(v.name));
        bool any = false;
        for (const QString& o : options) {
            if (kProfile & bit(optionNamed(o)))
                continue;
            if (line.size() + 1 + o.size() > kWidth) {
                byVerb += line + QLatin1Char('\n');
                line = QString(kVerbWidth + 2, QLatin1Char(' '));
            } else if (any) {
                line += QLatin1Char(' ');
            }
            line += o;
            any = true;
        }
        byVerb += (any ? line : line + QStringLiteral("(none)")) + QLatin1Char('\n');
    }
    QString help = kHelp;
    const QString exitStatus = QStringLiteral("\nExit status:");
    return help.insert(help.indexOf(exitStatus) + 1, byVerb + QLatin1Char('\n'));
}

QStringList CliTool::verbNames()
{
    QStringList names;
    for (const VerbEntry& v : kVerbs)
        names << QString::fromLatin1(v.name);
    return names;
}

QStringList CliTool::optionsOf(const QString& verb)
{
    QStringList names;
    const VerbEntry* entry = verbNamed(verb);
    for (const Option o : kEveryOption) {
        if (entry && (entry->options & bit(o)))
            names << QStringLiteral("--") + name(o);
    }
    return names;
}

int CliTool::run(const QStringList& args)
{
    QCommandLineParser parser;
    int status = kExitOk;
    const std::optional<cli::VerbRequest> request = parse(parser, args, status);
    if (!request)
        return status;
    const QString verb = parser.positionalArguments().constFirst();
    const VerbEntry* entry = verbNamed(verb);
    if (!entry)
        return usageError(
            QStringLiteral("unknown verb \"%1\" (the verbs are %2)").arg(verb, verbList(QStringLiteral("and"))));
    if ((request->searchWaitMs || request->expect) && verb != QLatin1String("search") && !request->all)
        return usageError(QStringLiteral("--wait and --expect go with search and with --all"));
    if (!entry->function) {
        m_out << helpText();
        m_out.flush();
        return kExitOk;
    }
    return entry->function(*request, m_out, m_err, *m_console);
}

std::optional<cli::VerbRequest> CliTool::parse(QCommandLineParser& parser, const QStringList& args, int& status)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const Option o : kEveryOption)
        parser.addOption(option(o));
    status = kExitUsage;
    if (!parser.parse(QStringList{kProgram} + args)) {
        usageError(parser.errorText());
        return std::nullopt;
    }
    if (parser.isSet(name(Option::Help))) {
        m_out << helpText();
        m_out.flush();
        status = kExitOk;
        return std::nullopt;
    }
    if (parser.positionalArguments().isEmpty()) {
        usageError(QStringLiteral("name a verb (%1)").arg(verbList(QStringLiteral("or"))));
        return std::nullopt;
    }
    // An option the verb does not take is refused before any is read, so nothing is sent.
    if (const VerbEntry* verb = verbNamed(parser.positionalArguments().constFirst())) {
        if (const std::optional<QString> foreign = foreignOption(parser, *verb)) {
            usageError(QStringLiteral("%1 is not an option of %2 (see cormapmp-cli --help)")
                           .arg(*foreign, QLatin1String(verb->name)));
            return std::nullopt;
        }
    }
    cli::VerbRequest request;
    request.profile = m_profile;
    request.terminal = m_terminal;
    request.searchLimit = m_searchLimit;
    QTextStream& err = m_err;
    request.history = std::make_shared<device::HistoryKeeper>(kProgram, [&err](const QString& why) {
        err << "cormapmp-cli: " << device::programText(cli::texts::kHistoryNotKept).arg(why) << Qt::endl;
    });
    if (const std::optional<QString> error = readOptions(parser, request)) {
        if (!error->isEmpty())
            usageError(*error);
        return std::nullopt;
    }
    request.verb = parser.positionalArguments().first();
    request.operands = parser.positionalArguments().mid(1);
    status = kExitOk;
    return request;
}

std::optional<QString> CliTool::readOptions(const QCommandLineParser& parser, cli::VerbRequest& request)
{
    QStringList profileArgs = profileArguments(parser);
    if (const std::optional<QString> error = NetworkProfile::fromArguments(profileArgs, request.profile))
        return error;
    bool ok = true;
    request.bindAddress = addressOption(parser, name(Option::Bind), true, ok);
    if (ok)
        request.ipAddress = addressOption(parser, name(Option::Ip), false, ok);
    if (!ok)
        return QString(); // already said
    for (const auto& [which, flag] : {std::pair{Option::Json, &cli::VerbRequest::json},
                                      {Option::DryRun, &cli::VerbRequest::dryRun},
                                      {Option::PasswordStdin, &cli::VerbRequest::passwordStdin},
                                      {Option::Clear, &cli::VerbRequest::clear},
                                      {Option::All, &cli::VerbRequest::all},
                                      {Option::Yes, &cli::VerbRequest::yes},
                                      {Option::AllAdapters, &cli::VerbRequest::allAdapters},
                                      {Option::Csv, &cli::VerbRequest::csv},
                                      {Option::Watch, &cli::VerbRequest::watch}})
        request.*flag = parser.isSet(name(which));
    // status --watch takes its numbers as typed; StatusWatch checks them.
    for (const auto& [which, value] : {std::pair{Option::Interval, &cli::VerbRequest::interval},
                                       {Option::Count, &cli::VerbRequest::count},
                                       {Option::OpenMetrics, &cli::VerbRequest::openMetrics}}) {
        if (parser.isSet(name(which)))
            request.*value = parser.value(name(which));
    }
    if (request.allAdapters && request.bindAddress)
        return QStringLiteral("--all-adapters and --bind exclude each other: broadcasts leave from every adapter or "
                              "from the one address");
    if (const std::optional<QString> refused = portOptions(parser, request))
        return refused;
    if (const std::optional<QString> refused = searchOptions(parser, request))
        return refused;
    return firmwareOptions(parser, request);
}

std::optional<QString> CliTool::portOptions(const QCommandLineParser& parser, cli::VerbRequest& request)
{
    for (const auto& [which, value] : {std::pair{Option::Send, &cli::VerbRequest::sendText},
                                       {Option::Hex, &cli::VerbRequest::sendHex},
                                       {Option::Link, &cli::VerbRequest::link}}) {
        if (parser.isSet(name(which)))
            request.*value = parser.value(name(which));
    }
    // port and tty: --expect is the text that must come back and --wait the time it may take.
    const QString verb = parser.positionalArguments().value(0);
    if (verb != QLatin1String("port") && verb != QLatin1String("tty"))
        return std::nullopt;
    if (parser.isSet(name(Option::Expect)))
        request.expectText = parser.value(name(Option::Expect));
    if (parser.isSet(name(Option::Wait))) {
        static const QRegularExpression digits(QStringLiteral("\\A[0-9]{1,6}\\z"));
        const QString text = parser.value(name(Option::Wait));
        if (!digits.match(text).hasMatch() || text.toInt() < 10 || text.toInt() > 600000)
            return QStringLiteral("--wait: \"%1\" is not a number from 10 to 600000").arg(text);
        request.portWaitMs = text.toInt();
    }
    return std::nullopt;
}

std::optional<QString> CliTool::searchOptions(const QCommandLineParser& parser, cli::VerbRequest& request)
{
    const QString verb = parser.positionalArguments().value(0);
    if (verb == QLatin1String("port") || verb == QLatin1String("tty"))
        return std::nullopt; // their --wait and --expect are their own (portOptions)

    static const QRegularExpression digits(QStringLiteral("\\A[0-9]{1,6}\\z"));
    // A search's wait: 10 ms to 10 minutes; the devices expected: 1 to the number a search holds.
    const std::tuple<Option, std::optional<int> cli::VerbRequest::*, int, int> numbers[] = {
        {Option::Wait, &cli::VerbRequest::searchWaitMs, 10, 600000},
        {Option::Expect, &cli::VerbRequest::expect, 1, request.searchLimit},
    };
    for (const auto& [which, field, least, most] : numbers) {
        if (!parser.isSet(name(which)))
            continue;
        const QString text = parser.value(name(which));
        if (!digits.match(text).hasMatch() || text.toInt() < least || text.toInt() > most)
            return QStringLiteral("--%1: \"%2\" is not a number from %3 to %4")
                .arg(name(which), text)
                .arg(least)
                .arg(most);
        request.*field = text.toInt();
    }
    return std::nullopt;
}

std::optional<QString> CliTool::firmwareOptions(const QCommandLineParser& parser, cli::VerbRequest& request)
{
    if (parser.isSet(name(Option::Shell)) && parser.isSet(name(Option::Direct)))
        return QStringLiteral("--shell and --direct exclude each other");
    if (parser.isSet(name(Option::Jobs))) {
        // Firmware takes at most kMaxFirmwareJobs; it says so itself.
        static const QRegularExpression digits(QStringLiteral("\\A[1-9][0-9]{0,2}\\z"));
        const QString jobs = parser.value(name(Option::Jobs));
        if (!digits.match(jobs).hasMatch() || jobs.toInt() > cli::kMaxDeviceJobs)
            return QStringLiteral("--jobs: \"%1\" is not a number from 1 to %2").arg(jobs).arg(cli::kMaxDeviceJobs);
        request.jobs = jobs.toInt();
    }
    if (parser.isSet(name(Option::Shell)))
        request.way = cli::FirmwareWay::Shell;
    else if (parser.isSet(name(Option::Direct)))
        request.way = cli::FirmwareWay::Direct;
    return std::nullopt;
}

std::optional<std::uint32_t> CliTool::addressOption(const QCommandLineParser& parser, const QString& option, bool bind,
                                                    bool& ok)
{
    if (!parser.isSet(option))
        return std::nullopt;
    const QString text = parser.value(option);
    const std::optional<std::uint32_t> address = ipv4::parse(text);
    if (!address) {
        ok = false;
        usageError(QStringLiteral("--%1: ").arg(option) + cli::notAnAddressText(text));
        return std::nullopt;
    }
    // A bind address of 0.0.0.0 means "any local address"; a device address must name one device.
    if (bind ? (*address != 0 && !ipv4::isUnicastDeviceAddress(*address)) : !ipv4::isUnicastDeviceAddress(*address)) {
        ok = false;
        usageError(QStringLiteral("--%1: %2 is not a unicast address (0.x.x.x, multicast and broadcast addresses "
                                  "name no single %3)")
                       .arg(option, text, bind ? QStringLiteral("local address") : QStringLiteral("device")));
        return std::nullopt;
    }
    return address;
}

int CliTool::usageError(const QString& message)
{
    return cli::printUsageError(m_err, message);
}
