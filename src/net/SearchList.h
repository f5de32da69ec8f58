#pragma once

// The search list as a spreadsheet reads it: CSV (RFC 4180) in UTF-8, one row per device.

#include <QByteArray>
#include <QString>

class CNetEnv;
class EnvRecord;

namespace search_list {
/** The header row's column names, in order. */
QString headerRow();

/** One device's row: MAC, IP address, product code, comment (empty on a device that keeps none),
 *  source address, and the adapter its answer arrived on; without the line end. */
QString row(const EnvRecord& record, const QString& adapter);

/** A field as RFC 4180 writes it: in double quotes, its own quotes doubled, when it holds a comma, a
 *  quote, a line break or leading or trailing space; as it is otherwise. */
QString field(const QString& text);

/** A device text (the comment) as the program shows it: its bytes read as Latin-1, so a byte 0xE9 is
 *  "é"; control characters, which no spreadsheet cell shows and which could drive a terminal, appear as
 *  \xNN as in the command line's text output. */
QString deviceText(const std::string& bytes);

/** The header row and one row per record of the endpoint's table, in the table's order, each ended by
 *  CR LF, as UTF-8. */
QByteArray csv(const CNetEnv& env);

/** The UTF-8 byte order mark a saved file starts with, so that spreadsheet programs that would
 *  otherwise guess the system's code page read the file as UTF-8. */
inline QByteArray byteOrderMark()
{
    return QByteArrayLiteral("\xEF\xBB\xBF");
}
} // namespace search_list
