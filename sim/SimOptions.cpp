#include "SimOptions.h"

#include <QHostAddress>
#include <QRegularExpression>

#include <functional>
#include <map>

namespace {
constexpr int kMaxResult = 255;
constexpr int kMaxDelayMs = 60000;
constexpr int kMaxTftpError = 65535;
// Device numbers fill the last three bytes of the MAC.
constexpr int kMaxFirstNumber = 0xFFFFFF - TesselSim::kMaxDevices;

using ValueReader = std::function<std::optional<QString>(const QString& option, const QString& value)>;

std::optional<QString> badValue(const QString& option, const QString& value, const QString& expected)
{
    return QStringLiteral("%1: \"%2\" is not %3").arg(option, value, expected);
}

std::optional<QString> readInt(const QString& option, const QString& value, int low, int high, int& out)
{
    bool ok = false;
    const int n = value.toInt(&ok);
    if (!ok || n < low || n > high)
        return badValue(option, value, QStringLiteral("a number from %1 to %2").arg(low).arg(high));
    out = n;
    return std::nullopt;
}

// "COM1".."COM4" (either case) as a port index 0..3.
std::optional<int> portNamed(const QString& text)
{
    static const QRegularExpression com(QStringLiteral("\\A[Cc][Oo][Mm]([1-4])\\z"));
    const QRegularExpressionMatch match = com.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toInt() - 1;
}

// Options that take a value, and what each does with it.
std::map<QString, ValueReader> valueOptions(SimOptions& o, bool& addressGiven)
{
    return {
        {QStringLiteral("--devices"),
         [&](const QString& opt, const QString& v) { return readInt(opt, v, 1, TesselSim::kMaxDevices, o.devices); }},
        {QStringLiteral("--first-address"),
         [&](const QString& opt, const QString& v) -> std::optional<QString> {
             QHostAddress address;
             if (!address.setAddress(v) || address.protocol() != QAbstractSocket::IPv4Protocol)
                 return badValue(opt, v, QStringLiteral("an IPv4 address"));
             o.firstAddress = address.toIPv4Address();
             addressGiven = true;
             return std::nullopt;
         }},
        {QStringLiteral("--first-number"),
         [&](const QString& opt, const QString& v) { return readInt(opt, v, 1, kMaxFirstNumber, o.firstNumber); }},
        {QStringLiteral("--state"),
         [&](const QString&, const QString& v) -> std::optional<QString> {
             o.stateFile = v;
             return std::nullopt;
         }},
        {QStringLiteral("--status"),
         [&](const QString&, const QString& v) -> std::optional<QString> {
             o.statusFile = v;
             return std::nullopt;
         }},
        {QStringLiteral("--drop"),
         [&](const QString& opt, const QString& v) -> std::optional<QString> {
             bool ok = false;
             const double share = v.toDouble(&ok);
             if (!ok || share < 0.0 || share > 1.0)
                 return badValue(opt, v, QStringLiteral("a share from 0 to 1"));
             o.faults.dropShare = share;
             return std::nullopt;
         }},
        {QStringLiteral("--delay"),
         [&](const QString& opt, const QString& v) { return readInt(opt, v, 0, kMaxDelayMs, o.faults.delayMs); }},
        {QStringLiteral("--result"),
         [&](const QString& opt, const QString& v) { return readInt(opt, v, 0, kMaxResult, o.faults.forcedResult); }},
        {QStringLiteral("--seed"),
         [&](const QString& opt, const QString& v) -> std::optional<QString> {
             bool ok = false;
             const uint seed = v.toUInt(&ok);
             if (!ok)
                 return badValue(opt, v, QStringLiteral("a number"));
             o.faults.seed = seed;
             return std::nullopt;
         }},
        {QStringLiteral("--shell-ending"),
         [&](const QString& opt, const QString& v) -> std::optional<QString> {
             const std::optional<ShellEnding> ending = shellEndingNamed(v);
             if (!ending)
                 return badValue(opt, v, QStringLiteral("one of normal, size, timeout, close, silent"));
             o.firmwareOptions.ending = *ending;
             return std::nullopt;
         }},
        {QStringLiteral("--tftp-error"),
         [&](const QString& opt, const QString& v) {
             return readInt(opt, v, 0, kMaxTftpError, o.firmwareOptions.tftpError);
         }},
        {QStringLiteral("--flash-ms"),
         [&](const QString& opt, const QString& v) {
             return readInt(opt, v, 0, kMaxDelayMs, o.firmwareOptions.flashMs);
         }},
        {QStringLiteral("--join"),
         [&](const QString& opt, const QString& v) -> std::optional<QString> {
             const QStringList pair = v.split(QLatin1Char(','));
             const std::optional<int> a = pair.size() == 2 ? portNamed(pair[0]) : std::nullopt;
             const std::optional<int> b = pair.size() == 2 ? portNamed(pair[1]) : std::nullopt;
             if (!a || !b || *a == *b)
                 return badValue(opt, v, QStringLiteral("two different ports, e.g. COM1,COM2"));
             for (const auto& [x, y] : o.serialOptions.joins) {
                 if (x == *a || x == *b || y == *a || y == *b)
                     return badValue(opt, v, QStringLiteral("a port that is not joined yet"));
             }
             o.serialOptions.joins.emplace_back(*a, *b);
             return std::nullopt;
         }},
        {QStringLiteral("--pty"),
         [&](const QString& opt, const QString& v) -> std::optional<QString> {
             const std::optional<int> port = portNamed(v);
             if (!port)
                 return badValue(opt, v, QStringLiteral("a port, COM1 to COM4"));
             o.serialOptions.terminals.push_back(*port);
             return std::nullopt;
         }},
        {QStringLiteral("--password"),
         [&](const QString& opt, const QString& v) -> std::optional<QString> {
             const QByteArray typed = v.toLatin1();
             if (typed.size() > 8 || typed.contains('\0'))
                 return badValue(opt, v, QStringLiteral("a password of at most 8 characters"));
             o.password = typed;
             return std::nullopt;
         }},
    };
}

// Addresses the devices take: on loopback inside 127.0.0.0/8, never 127.0.0.1 nor the broadcast address.
std::optional<QString> checkAddresses(const SimOptions& o)
{
    if (!o.profile.loopback)
        return std::nullopt;
    const std::uint64_t last = std::uint64_t{o.firstAddress} + static_cast<std::uint64_t>(o.devices) - 1;
    if ((o.firstAddress >> 24) != 127 || o.firstAddress <= 0x7F000001 || last >= NetworkProfile::kLoopbackBroadcast)
        return QStringLiteral("--first-address: %1 devices from %2 do not fit between 127.0.0.2 and 127.255.255.254")
            .arg(o.devices)
            .arg(QHostAddress(o.firstAddress).toString());
    return std::nullopt;
}
} // namespace

std::variant<SimOptions, QString> parseSimOptions(QStringList args)
{
    SimOptions o;
    if (const std::optional<QString> error = NetworkProfile::fromArguments(args, o.profile))
        return *error;
    bool addressGiven = false;
    const std::map<QString, ValueReader> readers = valueOptions(o, addressGiven);
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            o.help = true;
        } else if (arg == QLatin1String("--corrupt-header")) {
            o.faults.corruptHeaderSum = true;
        } else if (arg == QLatin1String("--corrupt-fcs")) {
            o.faults.corruptFcs = true;
        } else if (arg == QLatin1String("--store-despite-result")) {
            o.faults.storeDespiteResult = true;
        } else if (arg == QLatin1String("--silent-writes")) {
            o.faults.silentWrites = true;
        } else if (arg == QLatin1String("--act-on-every-copy")) {
            o.faults.actOnEveryCopy = true;
        } else if (arg == QLatin1String("--foreign-mac")) {
            o.faults.foreignMac = true;
        } else if (arg == QLatin1String("--no-firmware")) {
            o.firmware = false;
        } else if (arg == QLatin1String("--no-serial")) {
            o.serial = false;
        } else if (arg == QLatin1String("--serial-unpaced")) {
            o.serialOptions.paced = false;
        } else if (arg == QLatin1String("--no-shell")) {
            o.firmwareOptions.shell = false;
        } else if (const auto reader = readers.find(arg); reader != readers.end()) {
            if (i + 1 >= args.size())
                return QStringLiteral("%1 needs a value").arg(arg);
            if (const std::optional<QString> error = reader->second(arg, args.at(++i)))
                return *error;
        } else {
            return QStringLiteral("unknown option \"%1\"").arg(arg);
        }
    }
    if (!addressGiven && o.profile.loopback)
        o.firstAddress = SimOptions::kLoopbackFirstAddress;
    if (const std::optional<QString> error = checkAddresses(o))
        return *error;
    for (const int port : o.serialOptions.terminals) {
        for (const auto& [a, b] : o.serialOptions.joins) {
            if (port == a || port == b)
                return QStringLiteral("--pty: COM%1 is joined to another port already").arg(port + 1);
        }
    }
    return o;
}

QString simUsage()
{
    return QStringLiteral(
        "Usage: tessel-sim [options]\n"
        "Simulated Tessel devices answering the device protocol (search, read, write, password, status)\n"
        "and taking firmware by TFTP and through their shell.\n"
        "Prints one line per device (MAC, address) once they listen, then runs until SIGINT or SIGTERM.\n"
        "\n"
        "  --loopback           loopback profile: devices on 127.0.0.2 and up at the device port (51005),\n"
        "                       broadcasts to 127.255.255.255; runs anywhere, no privileges needed.\n"
        "                       Without it the real profile is used: devices at port 50005 hearing\n"
        "                       broadcasts to 255.255.255.255 on every port through a raw socket. Use it\n"
        "                       only inside a network namespace that carries the devices' addresses (it\n"
        "                       needs CAP_NET_RAW).\n"
        "  --devices N          number of devices, 1 to 1000 (default 4)\n"
        "  --first-address A    address of the first device; the others follow (default 127.0.0.2 on\n"
        "                       loopback, 10.1.0.2 otherwise)\n"
        "  --first-number N     number of the first device, which makes its MAC (default 1:\n"
        "                       02:7e:55:00:00:01); the others follow\n"
        "  --device-port P      device protocol port (default 51005 on loopback, 50005 otherwise)\n"
        "  --state FILE         keep the devices' records and passwords in FILE across restarts\n"
        "  --password P         every device starts with password P (at most 8 characters)\n"
        "  --status FILE        the status report of every device from FILE, one item per line:\n"
        "                       version 3 2 B 50 | uptime N | mac|ip|mask|gateway [VALUE] |\n"
        "                       com1.rx N .. com4.tx N | lan.rx|lan.tx|lan.crc|lan.align|lan.lost N |\n"
        "                       text \"...\\r\\n\" | separator | item TYPE HEX | raw HEX | live on|off |\n"
        "                       rate com1.rx B/S [B/S...] [every S] | restart every S\n"
        "                       A rate makes a serial counter grow by B/S bytes a second (several:\n"
        "                       each held for S seconds in turn, default 10); once a rate is set,\n"
        "                       counters without one stay still. restart: the device starts again\n"
        "                       every S seconds (uptime and rated counters anew)\n"
        "Firmware (each device's TFTP server and shell on its own address):\n"
        "  --tftp-port P        TFTP port (default 51069 on loopback, 69 otherwise)\n"
        "  --shell-port P       shell port (default 51023 on loopback, 23 otherwise)\n"
        "  --no-firmware        no TFTP server and no shell\n"
        "  --no-shell           no shell: connections to the shell port are refused\n"
        "  --shell-ending E     how the shell conversation ends: normal (program the flash, reboot,\n"
        "                       close), size (\"firmware size is not\" and the prompt after the\n"
        "                       upload), timeout (\"timeout\" while programming), close (closes right\n"
        "                       after the flash command), silent (never says anything)\n"
        "  --tftp-error N       answer every upload with a TFTP error packet of code N\n"
        "  --flash-ms MS        programming the flash takes MS milliseconds (default 200)\n"
        "  Every image received is printed as: firmware MAC NAME LENGTH SHA256\n"
        "Serial ports (each device's four ports carry data as their mode says):\n"
        "                       T2S listens on TCP at the device's address and the port's local port;\n"
        "                       U2S takes UDP datagrams there and answers the sender; COD connects to\n"
        "                       its peer only when the peer is a loopback address (127.0.0.0/8), and\n"
        "                       otherwise says so and stays idle; ATC answers AT with OK on its serial\n"
        "                       side. The serial side loops back what the port sends, after the time\n"
        "                       the port's rate and framing take (10 bits a byte at 8N1). The status\n"
        "                       report's serial counters count the bytes carried.\n"
        "  --serial-unpaced     serial bytes pass at once, whatever the rate\n"
        "  --join COMa,COMb     wire the serial sides of two ports of each device to each other\n"
        "  --pty COMn           the serial side of port n of each device is a pseudo-terminal (raw);\n"
        "                       printed as: serial MAC COMn PATH\n"
        "  --no-serial          the ports carry nothing (the counters grow a little at every look)\n"
        "Faults:\n"
        "  --drop SHARE         ignore this share (0 to 1) of requests\n"
        "  --delay MS           delay every reply by MS milliseconds\n"
        "  --corrupt-header     send replies with a wrong header checksum\n"
        "  --corrupt-fcs        send replies with a wrong frame check sequence\n"
        "  --foreign-mac        send replies with another MAC in the header\n"
        "  --result N           answer every write and password change with result N (0 to 255)\n"
        "  --store-despite-result  with --result: store a write whose password matches all the same\n"
        "  --silent-writes      act on writes and password changes but never answer them\n"
        "  --act-on-every-copy  act on both copies of a write or password change, answering each\n"
        "  --seed N             seed of the drop decisions (default 1)\n"
        "\n"
        "  -h, --help           show this text\n"
        "  --version            show the version\n"
        "\n"
        "Exit status: 0 after a signal, 1 when the devices cannot start, 2 for a usage error.\n");
}
