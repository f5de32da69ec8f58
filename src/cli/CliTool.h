#pragma once

#include "CliConsole.h"
#include "ExitStatus.h"
#include "Verbs.h"
#include "protocol/NetworkProfile.h"

#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>

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
    using enum cli::ExitStatus;

    CliTool(QTextStream& out, QTextStream& err, const NetworkProfile& profile);
    ~CliTool();

    /** Where the device password comes from (the process's environment, standard input and terminal
     *  unless a test gives another). */
    void setConsole(std::unique_ptr<cli::Console> console);

    /** Runs one command line, without the program name ("search", "--json"). */
    int run(const QStringList& args);

    static QString helpText();
    /** The verbs, as the command line takes them (help included), in the order of the help. */
    static QStringList verbNames();
    /** The options `verb` takes, each as "--name" (every verb takes the help and the network profile
     *  options); an option not listed is refused with exit status 2. Empty for an unknown verb. */
    static QStringList optionsOf(const QString& verb);

    /** How many devices a search holds: cli::kSearchLimit unless a test asks for fewer (--expect then
     *  takes 1 to this). */
    void setSearchLimit(int limit) { m_searchLimit = limit; }

    /** True when the output stream is a terminal: long work shows a progress bar redrawn in place. */
    void setTerminal(bool terminal) { m_terminal = terminal; }

private:
    std::optional<cli::VerbRequest> parse(QCommandLineParser& parser, const QStringList& args, int& status);
    /** Reads the options into `request`; why they cannot be taken (empty when already said), or nothing. */
    std::optional<QString> readOptions(const QCommandLineParser& parser, cli::VerbRequest& request);
    std::optional<QString> firmwareOptions(const QCommandLineParser& parser, cli::VerbRequest& request);
    std::optional<QString> portOptions(const QCommandLineParser& parser, cli::VerbRequest& request);
    std::optional<QString> searchOptions(const QCommandLineParser& parser, cli::VerbRequest& request);
    std::optional<std::uint32_t> addressOption(const QCommandLineParser& parser, const QString& name, bool bind,
                                               bool& ok);
    int usageError(const QString& message);

    QTextStream& m_out;
    QTextStream& m_err;
    NetworkProfile m_profile;
    std::unique_ptr<cli::Console> m_console;
    bool m_terminal = false;
    int m_searchLimit = cli::kSearchLimit;
};
