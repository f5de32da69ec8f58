// cormapmp-cli port and tty: bytes through one serial port of a device, once or as a local terminal.
#include "CliMessages.h"
#include "DeviceTargets.h"
#include "device/EditorRequests.h"
#include "StopSignals.h"
#include "Verbs.h"
#include "net/CNetEnv.h"
#include "serial/PortLink.h"
#include "serial/TtyBridge.h"
#include "text/StringTable.h"

#include <QEventLoop>
#include <QLocale>
#include <QRegularExpression>
#include <QTextStream>
#include <QTimer>

namespace cli {
namespace {
constexpr int kDefaultWaitMs = 3000;
constexpr int kStrNothingBack = 2008;
constexpr int kStrExpectedMissing = 2009;
constexpr int kStrBridgeReady = 2010;
constexpr int kStrTryingAgain = 2011;
constexpr int kStrConnected = 2012;
constexpr int kStrNoTerminal = 2013;
constexpr int kStrStopped = 2014;
constexpr int kStrConnectedAgain = 2015;

const StringTable& texts()
{
    static const StringTable table(StringTable::languageFor(QLocale::system()));
    return table;
}

/** "COM1".."COM4", either case, as 0..3. */
std::optional<int> portIndex(const QString& text)
{
    static const QRegularExpression com(QStringLiteral("\\A[Cc][Oo][Mm]([1-4])\\z"));
    const QRegularExpressionMatch match = com.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toInt() - 1;
}

bool isAsciiHexDigit(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

/** Hex digits, with spaces or colons between bytes allowed ("48 65 6c", "48:65:6c"). */
std::optional<QByteArray> hexBytes(QString text)
{
    QByteArray digits;
    digits.reserve(text.size());
    for (const QChar c : text) {
        if (c.isSpace() || c == QLatin1Char(':'))
            continue;
        if (!isAsciiHexDigit(c.unicode()))
            return std::nullopt;
        digits += static_cast<char>(c.unicode());
    }
    if (digits.size() % 2 != 0)
        return std::nullopt;
    return QByteArray::fromHex(digits);
}

/** Options that mean nothing to `verb` (one device, one port, nothing written): the refusal, or nothing. */
std::optional<QString> foreignOptions(const VerbRequest& request, const QString& verb)
{
    if (request.json || request.all || request.yes || request.dryRun || request.csv || request.watch ||
        request.ipAddress || request.passwordStdin || request.clear || request.jobs > 0 || request.interval ||
        request.count || request.openMetrics)
        return QStringLiteral("%1 takes one device and one port: --json, --all, --yes, --dry-run, --csv, --watch, "
                              "--ip, --password-stdin, --clear, --jobs, --interval, --count and --openmetrics do not "
                              "apply")
            .arg(verb);
    return std::nullopt;
}

/** Reads the device named first and finds the port named second: the port as its record describes it.
 *  Nothing when a name is bad (exit 2 in `status`) or the device did not answer (1), said on `err`. */
std::optional<serial::PortTarget> portTarget(const VerbRequest& request, const QString& verb, QTextStream& err,
                                             int& status)
{
    status = 2;
    if (request.operands.size() != 2) {
        printUsageError(err, QStringLiteral("%1: name the device (MAC or IPv4 address) and the port (COM1 to COM4)")
                                 .arg(verb));
        return std::nullopt;
    }
    const DeviceName device = parseDeviceName(request.operands.constFirst());
    if (!device.error.isEmpty()) {
        printUsageError(err, verb + QStringLiteral(": ") + device.error);
        return std::nullopt;
    }
    const std::optional<int> port = portIndex(request.operands.constLast());
    if (!port) {
        printUsageError(err, QStringLiteral("%1: \"%2\" is not a port (COM1 to COM4)").arg(verb, request.operands.constLast()));
        return std::nullopt;
    }
    if (!device.mac && (request.bindAddress || request.allAdapters)) {
        printUsageError(err, QStringLiteral("%1: --bind and --all-adapters apply to broadcasts only, not to a device "
                                            "named by its IP address")
                                 .arg(verb));
        return std::nullopt;
    }
    CNetEnv env(request.profile);
    const Outcome outcome = readTarget(env, targetFor(device, request));
    if (outcome != Outcome::Answered) {
        status = printFailure(err, outcome, env.openError());
        return std::nullopt;
    }
    const EnvRecord& record = env.record(0);
    serial::PortTarget target;
    // A device named by its address is reached there; one named by its MAC at the address it reports.
    target.deviceAddress = device.mac ? record.ipAddress() : device.address;
    target.port = *port;
    target.block = record.port(*port);
    target.multiIp = record.multiIp();
    status = 0;
    return target;
}

int printProblem(QTextStream& err, serial::Problem problem, const serial::PortTarget& target, const QString& detail,
                 int waitMs = 0)
{
    err << serial::problemText(texts(), problem, target, detail, waitMs) << '\n';
    err.flush();
    return 1;
}

void printReceived(QTextStream& out, const QByteArray& bytes, bool hex)
{
    if (hex) {
        out << bytes.toHex() << '\n';
    } else {
        const QString text = QString::fromUtf8(bytes);
        out << text;
        if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
            out << '\n';
    }
    out.flush();
}
} // namespace

int portVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console&)
{
    if (const std::optional<QString> refused = foreignOptions(request, QStringLiteral("port")))
        return printUsageError(err, *refused);
    if (request.sendText.has_value() == request.sendHex.has_value())
        return printUsageError(err, QStringLiteral("port: give what to send, with --send TEXT or --hex HEX"));
    if (request.link)
        return printUsageError(err, QStringLiteral("port: --link goes with tty"));
    const bool hex = request.sendHex.has_value();
    const std::optional<QByteArray> payload = hex ? hexBytes(*request.sendHex) : request.sendText->toUtf8();
    if (!payload)
        return printUsageError(err, QStringLiteral("port: --hex: \"%1\" is not bytes in hex digits (e.g. 48656c6c6f)")
                                        .arg(*request.sendHex));
    std::optional<QByteArray> expected;
    if (request.expectText) {
        expected = hex ? hexBytes(*request.expectText) : request.expectText->toUtf8();
        if (!expected || expected->isEmpty())
            return printUsageError(err, QStringLiteral("port: --expect: \"%1\" is not %2")
                                            .arg(*request.expectText,
                                                 hex ? QStringLiteral("bytes in hex digits") : QStringLiteral("text")));
    }
    const int waitMs = request.portWaitMs.value_or(kDefaultWaitMs);
    int status = 0;
    const std::optional<serial::PortTarget> target = portTarget(request, QStringLiteral("port"), err, status);
    if (!target)
        return status;

    // The wait covers the connection and the answer: a device that never answers ends it.
    serial::PortLink connection(*target);
    QEventLoop loop;
    QTimer wait;
    wait.setSingleShot(true);
    QByteArray received;
    serial::Problem problem = serial::Problem::None;
    QString detail;
    bool done = false;
    const auto enough = [&] {
        return expected ? received.contains(*expected) : received.size() >= payload->size();
    };
    QObject::connect(&wait, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&connection, &serial::PortLink::opened, &loop, [&] {
        if (!connection.send(*payload)) {
            problem = serial::Problem::Lost;
            detail = QStringLiteral("not sent");
            loop.quit();
        } else if ((done = enough())) {
            loop.quit();
        }
    });
    QObject::connect(&connection, &serial::PortLink::received, &loop, [&](const QByteArray& bytes) {
        received += bytes;
        if ((done = enough()))
            loop.quit();
    });
    QObject::connect(&connection, &serial::PortLink::failed, &loop, [&](serial::Problem why, const QString& reason) {
        problem = why;
        detail = reason;
        loop.quit();
    });
    QObject::connect(&connection, &serial::PortLink::lost, &loop, [&](const QString& reason) {
        problem = serial::Problem::Lost;
        detail = reason;
        loop.quit();
    });
    connection.open();
    wait.start(waitMs);
    loop.exec();
    const bool opened = connection.isOpen() || problem == serial::Problem::Lost || !received.isEmpty();
    connection.close();

    if (!received.isEmpty() || done)
        printReceived(out, received, hex);
    if (done)
        return 0;
    if (problem != serial::Problem::None)
        return printProblem(err, problem, *target, detail);
    if (!opened)
        return printProblem(err, serial::Problem::NoConnection, *target, QString(), waitMs);
    if (expected) {
        err << texts()
                   .text(kStrExpectedMissing)
                   .arg(hex ? QString::fromLatin1(expected->toHex()) : *request.expectText, target->name(texts()))
                   .arg(waitMs)
            << '\n';
        err.flush();
        return 1;
    }
    if (received.isEmpty()) {
        err << texts().text(kStrNothingBack).arg(target->name(texts())).arg(waitMs) << '\n';
        err.flush();
        return 1;
    }
    return 0; // less came back than was sent, but something did
}

int ttyVerb(const VerbRequest& request, QTextStream&, QTextStream& err, Console&)
{
    if (const std::optional<QString> refused = foreignOptions(request, QStringLiteral("tty")))
        return printUsageError(err, *refused);
    if (!request.link || request.link->isEmpty())
        return printUsageError(err, QStringLiteral("tty: name the link to make with --link PATH"));
    if (request.sendText || request.sendHex || request.expectText || request.portWaitMs)
        return printUsageError(err, QStringLiteral("tty: --send, --hex, --expect and --wait go with port"));
    int status = 0;
    const std::optional<serial::PortTarget> target = portTarget(request, QStringLiteral("tty"), err, status);
    if (!target)
        return status;
    if (const serial::Problem problem = serial::precheck(*target); problem != serial::Problem::None)
        return printProblem(err, problem, *target, QString());

    StopSignals stops;
    serial::TtyBridge bridge(*target);
    QEventLoop loop;
    QObject::connect(&stops, &StopSignals::stopRequested, &loop, &QEventLoop::quit);
    QObject::connect(&bridge, &serial::TtyBridge::connected, &loop, [&](bool again) {
        err << texts().text(again ? kStrConnectedAgain : kStrConnected).arg(target->name(texts()), target->endpointText())
            << '\n';
        err.flush();
    });
    QObject::connect(&bridge, &serial::TtyBridge::interrupted, &loop,
                     [&](serial::Problem problem, const QString& detail, int retryMs) {
                         err << texts()
                                    .text(kStrTryingAgain)
                                    .arg(serial::problemText(texts(), problem, *target, detail))
                                    .arg(retryMs)
                             << '\n';
                         err.flush();
                     });
    QString error;
    if (!bridge.start(*request.link, &error)) {
        err << texts().text(kStrNoTerminal).arg(*request.link, error) << '\n';
        err.flush();
        return 1;
    }
    err << texts()
               .text(kStrBridgeReady)
               .arg(target->name(texts()), target->endpointText(), bridge.terminalPath(), *request.link)
        << '\n';
    err.flush();
    if (!stops.stopped())
        loop.exec();
    bridge.stop();
    err << texts()
               .text(kStrStopped)
               .arg(bridge.bytesToPort())
               .arg(target->name(texts()))
               .arg(bridge.bytesFromPort())
        << '\n';
    err.flush();
    return 0;
}
} // namespace cli
