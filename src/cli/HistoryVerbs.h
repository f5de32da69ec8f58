#pragma once

// What the history, diff and restore verbs share: the run's history folder, finding an entry, and the
// differences between two records that are settings.

#include "CliMessages.h"
#include "device/DeviceName.h"
#include "history/SettingsHistory.h"
#include "record/RecordFields.h"

#include <QList>
#include <QString>

#include <optional>

class QTextStream;

namespace cli {
struct VerbRequest;

/** The history folder the run reads and writes. */
settings_history::Store historyStore(const VerbRequest& request);

/** The entry `number` ("3", or "latest") of the device `mac`; nothing with a usage error printed. */
std::optional<settings_history::Entry> findEntry(const settings_history::Store& store, const Mac& mac,
                                                 const QString& number, QTextStream& err);

/** The entry "MAC@NUMBER" or "MAC@latest" names; nothing with a usage error printed. */
std::optional<settings_history::Entry> historyEntry(const QString& operand, const VerbRequest& request,
                                                    QTextStream& err);

/** The differences between two records as settings: without what a device changes by itself (its
 *  password field, the source address of an answer) and, when a settings file is one of them, without
 *  what a file does not carry (the MAC, whether a password is set). */
QList<record_fields::Difference> settingsDifferences(const EnvRecord& a, const EnvRecord& b, bool fileInvolved);
} // namespace cli
