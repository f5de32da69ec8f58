#pragma once

// What the verbs that take settings files and device names share: reading a settings file with the
// program's messages, and one device named by an argument.

#include "CliMessages.h"
#include "device/EditorRequests.h"
#include "record/SettingsFile.h"
#include "record/EnvRecord.h"

#include <QString>

#include <optional>

class QTextStream;

namespace cli {
struct VerbRequest;

/** Reads and checks a settings file; the record (at least 512 bytes) or nothing, with the message
 *  printed and `status` the exit status (2 bad input, 1 a stream that stayed silent). */
std::optional<EnvRecord> loadFile(const QString& path, QTextStream& err, int& status,
                                  settings_file::Trailer* trailer = nullptr);

/** The device `name` names, or nothing with the usage error printed (prefixed with `verb`). */
std::optional<Target> targetOf(const QString& name, const VerbRequest& request, const QString& verb, QTextStream& err);
} // namespace cli
