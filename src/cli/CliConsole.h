#pragma once

// Where the command-line tool takes what the arguments must never carry: the device password. It comes
// from the environment, from standard input, or from a prompt without echo on the terminal. Tests give
// the tool a console of their own instead of the process's.

#include <QString>

#include <optional>

namespace cli {
/** The environment variable that carries the device password. */
constexpr char kPasswordVariable[] = "CORMAPMP_PASSWORD";

class Console
{
public:
    virtual ~Console() = default;
    /** The value of an environment variable; nothing when it is not set (set but empty is ""). */
    virtual std::optional<QString> environment(const char* name) = 0;
    /** The next line of standard input without its line break; nothing at the end of the input. */
    virtual std::optional<QString> readLine() = 0;
    /** True when standard input is a terminal, so the user can be asked. */
    virtual bool isTerminal() = 0;
    /** Shows `prompt` on the terminal and reads one line without echoing it; nothing when that fails. */
    virtual std::optional<QString> readHidden(const QString& prompt) = 0;
};

/** The console of this process: its environment, standard input and terminal. */
class ProcessConsole final : public Console
{
public:
    std::optional<QString> environment(const char* name) override;
    std::optional<QString> readLine() override;
    bool isTerminal() override;
    std::optional<QString> readHidden(const QString& prompt) override;
};

/** The device password: with `fromStdin` the first line of standard input (empty at its end); else the
 *  environment variable CORMAPMP_PASSWORD when it is set; else, on a terminal, what the user types at
 *  `prompt`; otherwise empty. */
QString devicePassword(Console& console, bool fromStdin, const QString& prompt);
} // namespace cli
