#pragma once

// How the command line runs the guarded write of the device layer and says how it ended: one device's
// messages and exit status, or one result line among several.

#include "Verbs.h"
#include "device/GuardedWrite.h"

#include <QString>

class QTextStream;

namespace cli {
/** Runs one guarded write on a new endpoint of the run's profile, with the run's history keeper and the
 *  command line's rule for a conflict (changes in other fields are kept, a change in a field the run
 *  sets refuses the write). */
WriteOutcome runGuardedWrite(const VerbRequest& request, const WritePlan& plan);

/** Says how the write of one device named alone ended (`writtenId`: the text for success); its exit
 *  status. Nothing on standard output with `json`: the verb prints its own document. */
int printWriteOutcome(const WriteOutcome& outcome, const QString& device, bool json, QTextStream& out,
                      QTextStream& err, int writtenId);

/** The result line of one device among several (`writtenText` for success). */
QString writeOutcomeLine(const WriteOutcome& outcome, const QString& device, const QString& writtenText);

/** The line that says the changes were made again on settings someone else had changed; empty when not. */
QString remadeLine(const WriteOutcome& outcome, const QString& device);

/** Another writer held the device all the wait long: nothing was written. */
QString lockTimeoutText(const QString& device, const QString& holder);

/** The outcome's name in JSON ("written", "stored-late", "not-stored", "unknown", …). */
QString outcomeName(const WriteOutcome& outcome);
} // namespace cli
