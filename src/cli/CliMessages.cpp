#include "CliMessages.h"

#include "firmware/FirmwareImage.h"
#include "text/FixedTexts.h"
#include "text/StringTable.h"

#include <QFileInfo>
#include <QLocale>
#include <QTextStream>

namespace cli {
namespace {
constexpr int kStrIsDirectory = 1151;
constexpr int kStrStalled = 1101;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
} // namespace

int printUsageError(QTextStream& err, const QString& message)
{
    err << "cormapmp-cli: " << message << '\n' << "Try 'cormapmp-cli --help'." << Qt::endl;
    return kExitUsage;
}

int printFailure(QTextStream& err, Outcome outcome, const QString& openError)
{
    if (outcome == Outcome::Answered)
        return 0;
    err << failureText(outcome, openError) << Qt::endl;
    return kExitFailed;
}

QString fileProblem(const QString& path, int errorNumber)
{
    if (QFileInfo(path).isDir())
        return programText(kStrIsDirectory).arg(path);
    return QStringLiteral("%1: %2").arg(path, systemErrorMessage(errorNumber));
}
bool printReadProblem(const QString& path, const bounded_read::Result& read, QTextStream& err, int& status)
{
    if (read.stalled) {
        // A stream that never delivers is input that cannot be used, as a file that cannot be read.
        err << programText(kStrStalled).arg(path).arg(bounded_read::kStreamIdleMs / 1000) << Qt::endl;
        status = kExitUsage;
        return true;
    }
    if (read.error != 0) {
        err << fileProblem(path, read.error) << Qt::endl;
        status = kExitUsage;
        return true;
    }
    return false;
}
} // namespace cli
