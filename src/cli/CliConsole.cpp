#include "CliConsole.h"

#include <cstdio>
#include <string>

#ifdef Q_OS_WIN
#include <io.h>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace cli {
namespace {
/** Turns the terminal's echo off for its lifetime, where standard input is a terminal. */
class EchoOff final
{
public:
    EchoOff()
    {
#ifdef Q_OS_WIN
        m_input = ::GetStdHandle(STD_INPUT_HANDLE);
        m_active = ::GetConsoleMode(m_input, &m_saved) != 0 &&
                   ::SetConsoleMode(m_input, m_saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
#else
        m_active = ::tcgetattr(STDIN_FILENO, &m_saved) == 0;
        if (m_active) {
            termios quiet = m_saved;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            quiet.c_lflag |= ECHONL;
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
#endif
    }
    ~EchoOff()
    {
        if (!m_active)
            return;
#ifdef Q_OS_WIN
        ::SetConsoleMode(m_input, m_saved);
        std::fputc('\n', stderr); // the line break the hidden Enter did not show
#else
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
#endif
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    bool m_active = false;
#ifdef Q_OS_WIN
    HANDLE m_input = nullptr;
    DWORD m_saved = 0;
#else
    termios m_saved{};
#endif
};

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
#ifdef Q_OS_WIN
    return ::_isatty(::_fileno(stdin)) != 0;
#else
    return ::isatty(STDIN_FILENO) == 1;
#endif
}

std::optional<QString> ProcessConsole::readHidden(const QString& prompt)
{
    std::fputs(prompt.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    std::optional<std::string> line;
    {
        const EchoOff hidden;
        line = readRawLine(stdin);
    }
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
