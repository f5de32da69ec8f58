#pragma once

// The devices a verb acts on when it takes several: the MACs and addresses named, or with --all every
// device a search finds; and the one line per device and the summary such a verb prints.

#include "EditorRequests.h"
#include "Verbs.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QTextStream;

namespace cli {
/** The device of one name, broadcast from the request's --bind address or from every adapter. */
Target targetFor(const DeviceName& device, const VerbRequest& request);

/** The devices `names` name (in their order), or with --all (and no names) every device a search finds,
 *  sorted by MAC. Nothing when a name is bad (usage error printed, `status` 2) or the search found none
 *  (the message printed, `status` 1). */
std::optional<QList<Target>> deviceTargets(const VerbRequest& request, const QStringList& names, const QString& verb,
                                           QTextStream& err, int& status);

/** True when the verb may go ahead: one device, or several with --yes. Otherwise prints how many
 *  would be changed and that --yes is needed. */
bool confirmedForMany(const VerbRequest& request, qsizetype count, QTextStream& err);

/** How a device is named in its result line: its MAC, or the address it was named by. */
QString targetText(const Target& target);

/** The result line of one device: "02:11:22:0a:bc:de: written". */
QString resultLine(const Target& target, const QString& outcome);

/** Prints the summary "%1 … written, %2 failed" (string `summaryId`) when there was more than one
 *  device; the exit status: 0 when none failed, else 1. */
int finishMany(QTextStream& out, int summaryId, qsizetype total, int failed);
} // namespace cli
