#pragma once

#include "CliConsole.h"
#include "DeviceRequests.h"
#include "EditorVerbs.h"
#include "FirmwareUpload.h"
#include "protocol/NetworkProfile.h"

#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>

class CNetEnv;
class QCommandLineParser;
class QTextStream;

/**
 * The verbs of cormapmp-cli. It writes only to the two streams it is given and talks to devices on the
 * profile it is given (the profile options of the command line apply on top), so tests run it in-process
 * with buffers for streams and a loopback profile of their own.
 *
 * Exit status: 0 success; 1 no device answered or the endpoint could not be opened (the program's
 * message on the error stream); 2 a usage error or bad input, with a message naming what is wrong.
 */
class CliTool final
{
public:
    enum ExitCode
    {
        kExitOk = 0,
        kExitFailed = 1,
        kExitUsage = 2,
    };

    CliTool(QTextStream& out, QTextStream& err, const NetworkProfile& profile);
    ~CliTool();

    /** Where the device password comes from (the process's environment, standard input and terminal
     *  unless a test gives another). */
    void setConsole(std::unique_ptr<cli::Console> console);

    /** Runs one command line, without the program name ("search", "--json"). */
    int run(const QStringList& args);

    static QString helpText();

    /** True when the output stream is a terminal: long work shows a progress bar redrawn in place. */
    void setTerminal(bool terminal) { m_terminal = terminal; }

private:
    /** What the options of one command line say; the device named by a read comes separately. */
    struct Request
    {
        NetworkProfile profile;
        bool json = false;
        std::optional<std::uint32_t> bindAddress;
        std::optional<std::uint32_t> ipAddress; // search --ip
        QStringList operands;                   // after the verb
        bool dryRun = false;
        bool passwordStdin = false;
        bool clear = false;
        bool all = false;
        bool yes = false;
        cli::FirmwareWay way = cli::FirmwareWay::ByProduct; // firmware --shell / --direct
        int jobs = 1;                                       // firmware --jobs
        bool allAdapters = false;                           // broadcasts from every adapter
        bool csv = false;                                   // search --csv
        bool watch = false;                                 // status --watch and its options
        std::optional<QString> interval;
        std::optional<QString> count;
        std::optional<QString> openMetrics;
    };

    int search(const Request& request);
    int read(const Request& request);
    int firmware(const Request& request, const cli::VerbRequest& verbRequest);
    /** Reads the device with `mac` for its address and product code; an exit status. */
    int findByMac(const Request& request, const cli::Mac& mac, std::uint32_t& address, int& productCode);
    std::optional<Request> parse(QCommandLineParser& parser, const QStringList& args, int& status);
    std::optional<std::uint32_t> addressOption(const QCommandLineParser& parser, const QString& name, bool bind,
                                               bool& ok);
    void printSearch(const CNetEnv& env, bool byAddress, bool json);
    int usageError(const QString& message);
    /** Prints the program's message for a request that got no answer (for an endpoint that could not be
     *  opened, `openError` follows on a line of its own), and gives the exit status. */
    int failure(cli::Outcome outcome, const QString& openError = {});

    QTextStream& m_out;
    QTextStream& m_err;
    NetworkProfile m_profile;
    std::unique_ptr<cli::Console> m_console;
    bool m_terminal = false;
};
