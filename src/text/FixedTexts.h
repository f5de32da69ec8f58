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
// The settings-file messages are Korean in every language.
inline QString fileDamaged()
{
    return QStringLiteral("파일이 손상되었습니다.");
}
inline QString notSettingsFile()
{
    return QStringLiteral("CormapMP용 환경변수가 아닙니다.");
}
inline QString otherProduct()
{
    return QStringLiteral("제품(Tessel) 아이디가 일치하지 않습니다.");
}
} // namespace fixed_text
