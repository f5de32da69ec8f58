#pragma once

// The device password asked once for several devices served at once.

#include "CliConsole.h"

#include <QString>

#include <mutex>
#include <optional>

namespace cli {
/** The device password asked once for several devices run at once, by whichever device needs it first;
 *  the others wait for that answer and take it too. */
class PasswordOnce
{
public:
    PasswordOnce(Console& console, bool fromStdin) : m_console(console), m_fromStdin(fromStdin) {}
    /** The password, asked with `prompt` (see devicePassword) when no device has asked for it yet. */
    QString get(const QString& prompt);

private:
    Console& m_console;
    bool m_fromStdin;
    std::mutex m_mutex;
    std::optional<QString> m_password;
};
} // namespace cli
