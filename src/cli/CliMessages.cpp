#include "CliMessages.h"
#include "CliTexts.h"
#include "ExitStatus.h"

#include "firmware/FirmwareImage.h"
#include "text/FixedTexts.h"
#include "text/StringTable.h"

#include <QFileInfo>
#include <QLocale>
#include <QTextStream>

namespace cli {
int printUsageError(QTextStream& err, const QString& message)
{
    err << "cormapmp-cli: " << message << '\n' << "Try 'cormapmp-cli --help'." << Qt::endl;
    return kExitUsage;
}

void printLeftAsIs(QTextStream& err, const QString& verb, const QString& device, const QStringList& warnings)
{
    for (const QString& warning : warnings)
        err << "cormapmp-cli: " << verb << ": " << (device.isEmpty() ? QString() : device + QStringLiteral(": "))
            << warning << '\n';
    err.flush();
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
        return programText(texts::kIsDirectory).arg(path);
    return QStringLiteral("%1: %2").arg(path, systemErrorMessage(errorNumber));
}
bool printReadProblem(const QString& path, const bounded_read::Result& read, QTextStream& err, int& status)
{
    if (read.stalled) {
        // A stream that never delivers is input that cannot be used, as a file that cannot be read.
        err << programText(texts::kStalled).arg(path).arg(bounded_read::kStreamIdleMs / 1000) << Qt::endl;
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
