#pragma once

// The command line's messages, each written once: the program's own texts (string table, in the user's
// language) for a missing answer, a refused write and an address that is none, the socket message with
// what was bound and why it failed, and the form of a usage error.

#include "device/DeviceRequests.h"
#include "device/DeviceTexts.h"
#include "files/BoundedRead.h"

#include <QString>
#include <QStringList>

class QTextStream;

namespace cli {
// The device layer's names and texts are the command line's own.
using namespace device;

/** Prints "cormapmp-cli: message" and the hint to --help on `err`; returns exit status 2. */
int printUsageError(QTextStream& err, const QString& message);

/** Prints each of `warnings` (values a write leaves as the device holds them) on `err` as a line of its
 *  own: "cormapmp-cli: VERB: warning", with the device's name before the warning when `device` is given. */
void printLeftAsIs(QTextStream& err, const QString& verb, const QString& device, const QStringList& warnings);

/** Prints failureText on `err` and returns exit status 1 (0 for Answered). */
int printFailure(QTextStream& err, Outcome outcome, const QString& openError);
/** What to say about a path that cannot be read or written as a file: a directory is named as such;
 *  otherwise the system's reason for `errorNumber` ("[2] No such file or directory"). */
QString fileProblem(const QString& path, int errorNumber);

/** Says on `err` why a bounded read of `path` delivered nothing: a stream that stayed silent (exit status
 *  1 in `status`) or a path that cannot be read (2). False when the read did deliver. */
bool printReadProblem(const QString& path, const bounded_read::Result& read, QTextStream& err, int& status);
} // namespace cli
