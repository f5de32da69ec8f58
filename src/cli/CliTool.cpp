#include "CliTool.h"

#include "CliArguments.h"
#include "DeviceRequests.h"
#include "EditorVerbs.h"
#include "FirmwareMany.h"
#include "RecordFormat.h"
#include "net/CNetEnv.h"
#include "net/SearchList.h"
#include "text/StringTable.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QRegularExpression>
#include <QTextStream>

namespace {
const QString kProgram = QStringLiteral("cormapmp-cli");

// The program's own messages: string 166 for a missing answer, fixed English texts for the endpoint.
constexpr int kStrNoResponse = 166;
const QString kCannotOpen = QStringLiteral("SOCK_DGRAM: can't open socket");
const QString kNoTable = QStringLiteral("Empty environment pool: out of memory");

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
  read MAC|ADDR       read and print all settings of one device: named by its MAC
                      (02:11:22:0a:bc:de, either case) by broadcast, by its IPv4 address by
                      unicast
  status MAC|ADDR     print the device's status report: version, uptime, addresses, serial
                      counters and the device's text with its LAN statistics
  status MAC|ADDR... --watch [--interval S] [--count N] [--openmetrics FILE]
                      read the devices' status again every S seconds (default 2) and print
                      one line per reading and device with each port's receive (RX) and
                      transmit (TX) rate; a summary at the end, after N readings or at
                      Ctrl+C. --openmetrics writes the latest figures to FILE in the
                      OpenMetrics text format after each round, replacing it whole
  write MAC|ADDR... field=value...
                      read the device's settings, change the fields named as read --json
                      names them (ipAddress=10.1.0.7 com1.baudRate=115200 comment=Lab), print
                      each change (old -> new) and write them; refused (exit 2, nothing
                      sent) where the settings editor would refuse them. The device password
                      (asked only when the device has one) comes from CORMAPMP_PASSWORD, or
                      with --password-stdin from the first line of standard input, or from a
                      prompt on the terminal; never from the arguments. Several devices
                      (or --all: every device a search finds; more than one needs --yes)
                      are written one after another: one line per device, then a summary
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

Options:
  --json              print one JSON document instead of text (search: an array of
                      devices; read: one object keyed by the record's field names)
  --bind ADDR         send broadcast requests from the local address ADDR
  --all-adapters      send broadcast requests (search, and every device named by its MAC)
                      from each network adapter that is up, and merge the answers: finds
                      devices on every LAN this machine is on; with --loopback the
                      loopback adapter alone
  --csv               search: print the list as CSV
  --dry-run           write: print the changes and send nothing
  --password-stdin    write, passwd, import: read the device password from the first line of
                      standard input (passwd: the new one from the second)
  --clear             passwd: remove the password
  --all               write, passwd, import, firmware: every device a search finds
  --yes               write, passwd, import, firmware: act on more than one device
  --loopback          talk to simulated devices on this machine (tessel-sim --loopback)
  --device-port P     the devices' protocol port (default 50005, with --loopback 51005)
  --tftp-port P, --shell-port P
                      the devices' TFTP and shell ports (firmware only; default 69 and
                      23, with --loopback 51069 and 51023)
  --shell, --direct   firmware: through the device's shell, or directly by TFTP
  --jobs N            firmware: upload to at most N devices at a time (1 to 4, default 1)
  --watch             status: read again and again (see above); --json prints one JSON
                      object a line
  --interval S        status --watch: seconds between readings, 1 to 3600 (default 2)
  --count N           status --watch: stop after N readings
  --openmetrics FILE  status --watch: keep the latest figures in FILE (for node_exporter's
                      textfile collector or any scraper)
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
    }
    return QCommandLineOption(QString());
}

QString name(Option which)
{
    return option(which).names().constLast();
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
    return kHelp;
}

int CliTool::run(const QStringList& args)
{
    QCommandLineParser parser;
    int status = kExitOk;
    const std::optional<Request> request = parse(parser, args, status);
    if (!request)
        return status;
    const QString verb = parser.positionalArguments().constFirst();
    if (verb == QLatin1String("search"))
        return search(*request);
    if (verb == QLatin1String("read"))
        return read(*request);
    cli::VerbRequest r{request->profile,  request->json,   request->bindAddress,   request->ipAddress.has_value(),
                       request->operands, request->dryRun, request->passwordStdin, request->clear,
                       request->all,      request->yes};
    r.allAdapters = request->allAdapters;
    r.watch = request->watch;
    r.interval = request->interval;
    r.count = request->count;
    r.openMetrics = request->openMetrics;
    if (verb == QLatin1String("status"))
        return cli::statusVerb(r, m_out, m_err);
    if (verb == QLatin1String("write"))
        return cli::writeVerb(r, m_out, m_err, *m_console);
    if (verb == QLatin1String("passwd"))
        return cli::passwdVerb(r, m_out, m_err, *m_console);
    if (verb == QLatin1String("export"))
        return cli::exportVerb(r, m_out, m_err);
    if (verb == QLatin1String("import"))
        return cli::importVerb(r, m_out, m_err, *m_console);
    if (verb == QLatin1String("show"))
        return cli::showVerb(r, m_out, m_err);
    if (verb == QLatin1String("firmware"))
        return firmware(*request, r);
    if (verb == QLatin1String("help")) {
        m_out << kHelp;
        m_out.flush();
        return kExitOk;
    }
    return usageError(QStringLiteral("unknown verb \"%1\" (the verbs are search, read, status, write, passwd, "
                                     "export, import, show and firmware)")
                          .arg(verb));
}

std::optional<CliTool::Request> CliTool::parse(QCommandLineParser& parser, const QStringList& args, int& status)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const Option o :
         {Option::Help,       Option::Json,        Option::Loopback,  Option::Bind,   Option::Ip,
          Option::DevicePort, Option::TftpPort,    Option::ShellPort, Option::DryRun, Option::PasswordStdin,
          Option::Clear,      Option::All,         Option::Yes,       Option::Shell,  Option::Direct,
          Option::Jobs,       Option::AllAdapters, Option::Csv,       Option::Watch,  Option::Interval,
          Option::Count,      Option::OpenMetrics})
        parser.addOption(option(o));
    status = kExitUsage;
    if (!parser.parse(QStringList{kProgram} + args)) {
        usageError(parser.errorText());
        return std::nullopt;
    }
    if (parser.isSet(name(Option::Help))) {
        m_out << kHelp;
        m_out.flush();
        status = kExitOk;
        return std::nullopt;
    }
    if (parser.positionalArguments().isEmpty()) {
        usageError(QStringLiteral("name a verb (search, read, status, write, passwd, export, import, show or "
                                  "firmware)"));
        return std::nullopt;
    }
    Request request;
    request.profile = m_profile;
    QStringList profileArgs = profileArguments(parser);
    if (const std::optional<QString> error = NetworkProfile::fromArguments(profileArgs, request.profile)) {
        usageError(*error);
        return std::nullopt;
    }
    bool ok = true;
    request.bindAddress = addressOption(parser, name(Option::Bind), true, ok);
    if (ok)
        request.ipAddress = addressOption(parser, name(Option::Ip), false, ok);
    if (!ok)
        return std::nullopt;
    request.json = parser.isSet(name(Option::Json));
    request.dryRun = parser.isSet(name(Option::DryRun));
    request.passwordStdin = parser.isSet(name(Option::PasswordStdin));
    request.clear = parser.isSet(name(Option::Clear));
    request.all = parser.isSet(name(Option::All));
    request.yes = parser.isSet(name(Option::Yes));
    if (parser.isSet(name(Option::Shell)) && parser.isSet(name(Option::Direct))) {
        usageError(QStringLiteral("--shell and --direct exclude each other"));
        return std::nullopt;
    }
    if (parser.isSet(name(Option::Jobs))) {
        static const QRegularExpression digits(QStringLiteral("\\A[1-9][0-9]{0,2}\\z"));
        const QString jobs = parser.value(name(Option::Jobs));
        if (!digits.match(jobs).hasMatch() || jobs.toInt() > cli::kMaxFirmwareJobs) {
            usageError(
                QStringLiteral("--jobs: \"%1\" is not a number from 1 to %2").arg(jobs).arg(cli::kMaxFirmwareJobs));
            return std::nullopt;
        }
        request.jobs = jobs.toInt();
    }
    if (parser.isSet(name(Option::Shell)))
        request.way = cli::FirmwareWay::Shell;
    else if (parser.isSet(name(Option::Direct)))
        request.way = cli::FirmwareWay::Direct;
    request.allAdapters = parser.isSet(name(Option::AllAdapters));
    request.csv = parser.isSet(name(Option::Csv));
    request.watch = parser.isSet(name(Option::Watch));
    for (const auto& [which, value] : {std::pair{Option::Interval, &request.interval},
                                       {Option::Count, &request.count},
                                       {Option::OpenMetrics, &request.openMetrics}}) {
        if (parser.isSet(name(which)))
            *value = parser.value(name(which));
    }
    if (request.allAdapters && request.bindAddress) {
        usageError(QStringLiteral("--all-adapters and --bind exclude each other: broadcasts leave from every "
                                  "adapter or from the one address"));
        return std::nullopt;
    }
    request.operands = parser.positionalArguments().mid(1);
    status = kExitOk;
    return request;
}

std::optional<std::uint32_t> CliTool::addressOption(const QCommandLineParser& parser, const QString& option, bool bind,
                                                    bool& ok)
{
    if (!parser.isSet(option))
        return std::nullopt;
    const QString text = parser.value(option);
    const std::optional<std::uint32_t> address = cli::parseIpv4(text);
    if (!address) {
        ok = false;
        usageError(QStringLiteral("--%1: \"%2\" is not an IPv4 address (four numbers 0-255 without leading zeros, "
                                  "like 10.1.0.1)")
                       .arg(option, text));
        return std::nullopt;
    }
    // A bind address of 0.0.0.0 means "any local address"; a device address must name one device.
    if (bind ? (*address != 0 && !cli::isUnicastTarget(*address)) : !cli::isUnicastTarget(*address)) {
        ok = false;
        usageError(QStringLiteral("--%1: %2 is not a unicast address (0.x.x.x, multicast and broadcast addresses "
                                  "name no single %3)")
                       .arg(option, text, bind ? QStringLiteral("local address") : QStringLiteral("device")));
        return std::nullopt;
    }
    return address;
}

int CliTool::search(const Request& request)
{
    if (!request.operands.isEmpty())
        return usageError(QStringLiteral("search: unexpected argument \"%1\"").arg(request.operands.constFirst()));
    if (request.ipAddress && (request.bindAddress || request.allAdapters))
        return usageError(QStringLiteral("search: --bind and --all-adapters apply to broadcasts only, not to a "
                                         "search with --ip"));
    if (request.json && request.csv)
        return usageError(QStringLiteral("search: --json and --csv exclude each other"));
    CNetEnv env(request.profile);
    const cli::Outcome outcome = request.ipAddress
                                     ? cli::searchByIp(env, *request.ipAddress)
                                     : cli::searchByMac(env, request.bindAddress.value_or(0), request.allAdapters);
    if (outcome != cli::Outcome::Answered)
        return failure(outcome, env.openError());
    if (env.count() > 1)
        env.sortByMac();
    if (request.csv) {
        m_out << QString::fromUtf8(search_list::csv(env));
        m_out.flush();
        return kExitOk;
    }
    printSearch(env, request.ipAddress.has_value(), request.json);
    return kExitOk;
}

void CliTool::printSearch(const CNetEnv& env, bool byAddress, bool json)
{
    if (json) {
        QJsonArray devices;
        for (int i = 0; i < env.count(); ++i)
            devices.append(cli::summaryJson(env.record(i)));
        m_out << cli::jsonText(QJsonDocument(devices));
    } else {
        for (int i = 0; i < env.count(); ++i) {
            const EnvRecord& r = env.record(i);
            const QString first =
                byAddress ? cli::dottedAddress(r.sourceAddress()) : QString::fromStdString(r.macText());
            m_out << cli::summaryLine(first, r) << '\n';
        }
    }
    m_out.flush();
}

int CliTool::read(const Request& request)
{
    if (request.ipAddress)
        return usageError(QStringLiteral("read: name the device as an argument, not with --ip"));
    if (request.operands.isEmpty())
        return usageError(QStringLiteral("read: name the device by its MAC (02:11:22:0a:bc:de) or IPv4 address"));
    if (request.operands.size() > 1)
        return usageError(QStringLiteral("read: unexpected argument \"%1\"").arg(request.operands.at(1)));
    const cli::DeviceName device = cli::parseDeviceName(request.operands.constFirst());
    if (!device.error.isEmpty())
        return usageError(QStringLiteral("read: ") + device.error);
    if (!device.mac && (request.bindAddress || request.allAdapters))
        return usageError(
            QStringLiteral("read: --bind and --all-adapters apply to broadcasts only, not to a read by IP address"));
    CNetEnv env(request.profile);
    const cli::Outcome outcome =
        device.mac ? cli::readByMac(env, request.bindAddress.value_or(0), *device.mac, request.allAdapters)
                   : cli::readByIp(env, device.address);
    if (outcome != cli::Outcome::Answered)
        return failure(outcome, env.openError());
    // The table was empty before the request, so the answer is record 0 (with its sourceAddress set).
    if (request.json)
        m_out << cli::jsonText(QJsonDocument(cli::recordJson(env.record(0))));
    else
        m_out << cli::recordText(env.record(0));
    m_out.flush();
    return kExitOk;
}

int CliTool::usageError(const QString& message)
{
    m_err << kProgram << ": " << message << '\n' << "Try '" << kProgram << " --help'." << Qt::endl;
    return kExitUsage;
}

int CliTool::failure(cli::Outcome outcome, const QString& openError)
{
    switch (outcome) {
    case cli::Outcome::NoAnswer: {
        QString text = StringTable(StringTable::languageFor(QLocale::system())).text(kStrNoResponse);
        m_err << text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")) << Qt::endl;
        break;
    }
    case cli::Outcome::CannotOpen:
        // The program's message, then what was bound and the system's reason.
        m_err << kCannotOpen << '\n';
        if (!openError.isEmpty())
            m_err << openError << '\n';
        m_err.flush();
        break;
    case cli::Outcome::NoTable:
        m_err << kNoTable << Qt::endl;
        break;
    case cli::Outcome::Answered:
        return kExitOk;
    }
    return kExitFailed;
}
