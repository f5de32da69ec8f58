#include "CliConsole.h"

#include <cstdio>
#include <string>

#include <termios.h>
#include <unistd.h>

namespace cli {
namespace {
/** One line from `stream` without its line break ("\n" or "\r\n"); nothing at the end of the input. */
std::optional<std::string> readRawLine(std::FILE* stream)
{
    std::string line;
    int c = 0;
    bool any = false;
    while ((c = std::fgetc(stream)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        line.push_back(static_cast<char>(c));
    }
    if (!any)
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}
} // namespace

std::optional<QString> ProcessConsole::environment(const char* name)
{
    if (!qEnvironmentVariableIsSet(name))
        return std::nullopt;
    return qEnvironmentVariable(name);
}

std::optional<QString> ProcessConsole::readLine()
{
    const std::optional<std::string> line = readRawLine(stdin);
    if (!line)
        return std::nullopt;
    return QString::fromLocal8Bit(line->data(), static_cast<qsizetype>(line->size()));
}

bool ProcessConsole::isTerminal()
{
    return ::isatty(STDIN_FILENO) == 1;
}

std::optional<QString> ProcessConsole::readHidden(const QString& prompt)
{
    std::fputs(prompt.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    termios saved{};
    const bool canHide = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (canHide) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const std::optional<std::string> line = readRawLine(stdin);
    if (canHide)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (!line)
        return std::nullopt;
    return QString::fromLocal8Bit(line->data(), static_cast<qsizetype>(line->size()));
}

QString devicePassword(Console& console, bool fromStdin, const QString& prompt)
{
    if (fromStdin)
        return console.readLine().value_or(QString());
    if (const std::optional<QString> value = console.environment(kPasswordVariable))
        return *value;
    if (console.isTerminal())
        return console.readHidden(prompt).value_or(QString());
    return {};
}
} // namespace cli
