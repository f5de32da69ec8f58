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
QString programText(int id)
{
    QString text = StringTable(StringTable::languageFor(QLocale::system())).text(id);
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

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

QString failureText(Outcome outcome, const QString& openError)
{
    switch (outcome) {
    case Outcome::NoAnswer:
        return programText(texts::kNoResponse);
    case Outcome::CannotOpen:
        return openError.isEmpty() ? fixed_text::cannotOpenSocket()
                                   : fixed_text::cannotOpenSocket() + QLatin1Char('\n') + openError;
    case Outcome::NoTable:
        return fixed_text::noDeviceTable();
    case Outcome::Answered:
        break;
    }
    return {};
}

int printFailure(QTextStream& err, Outcome outcome, const QString& openError)
{
    if (outcome == Outcome::Answered)
        return 0;
    err << failureText(outcome, openError) << Qt::endl;
    return kExitFailed;
}

QString failureLine(Outcome outcome, const QString& openError)
{
    if (outcome == Outcome::CannotOpen && !openError.isEmpty())
        return QStringLiteral("%1 (%2)").arg(fixed_text::cannotOpenSocket(), openError);
    return failureText(outcome, openError).section(u'\n', 0, 0);
}

QString passwordMismatchText()
{
    return programText(texts::kPasswordMismatch);
}

QString unknownResponseText()
{
    return programText(texts::kUnknownResponse);
}

QString notAnAddressText(const QString& text)
{
    return programText(texts::kNotAnAddress).replace(u'\n', u' ').arg(text);
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
        err << programText(texts::kStalled).arg(path).arg(bounded_read::kStreamIdleMs / 1000) << Qt::endl;
        status = kExitFailed;
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
