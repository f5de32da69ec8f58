#pragma once

// The program's fixed texts: messages that are the same in every language and so are not in the string
// table. Each is written here once, for the windows and the command line alike.

#include <QString>

namespace fixed_text {
/** The endpoint could not be opened (the system's reason may follow). */
inline QString cannotOpenSocket()
{
    return QStringLiteral("SOCK_DGRAM: can't open socket");
}
/** The endpoint has no device table. */
inline QString noDeviceTable()
{
    return QStringLiteral("Empty environment pool: out of memory");
}
} // namespace fixed_text
