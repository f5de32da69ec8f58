// cormapmp-cli export, import and show: settings files, as the settings editor saves and loads them.
#include "CliArguments.h"
#include "CliConsole.h"
#include "DeviceRequests.h"
#include "DeviceTargets.h"
#include "EditorRequests.h"
#include "RecordEdit.h"
#include "RecordFormat.h"
#include "Verbs.h"
#include "config/SettingsFile.h"
#include "net/CNetEnv.h"
#include "text/FixedTexts.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTextStream>

#include <cerrno>
#include <cstring>

namespace cli {
namespace {
constexpr int kStrPasswordPrompt = 942;
constexpr int kStrSaved = 972;
constexpr int kStrImported = 973;
constexpr int kStrSummary = 974;
constexpr int kExitFailed = 1;
constexpr int kExitBadInput = 2;

/** Reads and checks a settings file; the record (at least 512 bytes) or nothing, with the message
 *  printed and the exit status in `status`: a file that cannot be read is bad input, as a damaged one. */
std::optional<EnvRecord> loadFile(const QString& path, QTextStream& err, int& status,
                                  settings_file::Trailer* trailer = nullptr)
{
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        err << fileProblem(path, errno) << Qt::endl;
        status = kExitBadInput;
        return std::nullopt;
    }
    const settings_file::Decoded decoded =
        settings_file::decode(file.read(settings_file::kMaxRecordLength + settings_file::kOverhead + 1));
    status = kExitBadInput;
    if (decoded.outcome == settings_file::kNotSettingsFile) {
        err << fixed_text::notSettingsFile() << Qt::endl;
        return std::nullopt;
    }
    if (decoded.outcome != settings_file::kRead || decoded.record.size() < static_cast<qsizetype>(EnvRecord::kSize)) {
        err << fixed_text::fileDamaged() << Qt::endl;
        return std::nullopt;
    }
    if (trailer)
        *trailer = decoded.trailer;
    status = 0;
    return EnvRecord(reinterpret_cast<const std::uint8_t*>(decoded.record.constData()));
}

std::optional<Target> targetOf(const QString& name, const VerbRequest& request, const QString& verb, QTextStream& err)
{
    const DeviceName device = parseDeviceName(name);
    if (!device.error.isEmpty()) {
        printUsageError(err, verb + QStringLiteral(": ") + device.error);
        return std::nullopt;
    }
    return targetFor(device, request);
}

/** Applies the file's settings to one device as the editor's import and Write do; the line to print
 *  (MAC or address, then the outcome) and whether it worked. */
bool importInto(const VerbRequest& request, const Target& target, const EnvRecord& imported, Console& console,
                std::optional<QString>& password, QString& line)
{
    const QString name = targetText(target);
    CNetEnv env(request.profile);
    if (const Outcome read = readTarget(env, target); read != Outcome::Answered) {
        line = name + QStringLiteral(": ") + failureLine(read, env.openError());
        return false;
    }
    EnvRecord merged = env.record(0);
    if (imported.productCode() != merged.productCode()) {
        line = name + QStringLiteral(": ") + fixed_text::otherProduct();
        return false;
    }
    mergeImportedRecord(merged, imported);
    QString typed;
    if (merged.hasPassword()) {
        if (!password)
            password = devicePassword(console, request.passwordStdin,
                                      programText(kStrPasswordPrompt).arg(name) + QStringLiteral(": "));
        typed = *password;
    }
    if (const std::optional<form::Problem> problem = form::validate(formValues(merged, typed))) {
        line = name + QStringLiteral(": ") + problem->describe();
        return false;
    }
    const Outcome written = writeSettings(env, target, merged, typed.toLatin1());
    if (written != Outcome::Answered) {
        line = name + QStringLiteral(": ") + failureLine(written, env.openError());
        return false;
    }
    const int result = env.replyResult();
    line = name + QStringLiteral(": ") +
           (result == frame::kResultOk              ? programText(kStrImported)
            : result == frame::kResultWrongPassword ? passwordMismatchText()
                                                    : unknownResponseText());
    return result == frame::kResultOk;
}
} // namespace

int exportVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console&)
{
    if (request.operands.size() != 2 || request.ipAddress)
        return printUsageError(err, QStringLiteral("export: name the device (MAC or IPv4 address) and the file"));
    const std::optional<Target> target = targetOf(request.operands.at(0), request, QStringLiteral("export"), err);
    if (!target)
        return kExitBadInput;
    // A folder can never take the file: said before the device is asked.
    if (QFileInfo(request.operands.at(1)).isDir())
        return printUsageError(err, QStringLiteral("export: ") + fileProblem(request.operands.at(1), 0));
    CNetEnv env(request.profile);
    if (const Outcome read = readTarget(env, *target); read != Outcome::Answered)
        return printFailure(err, read, env.openError());
    // As the editor saves a record just read: its Password box is empty then.
    EnvRecord record = env.record(0);
    record.setTypedPassword({});
    record = settings_file::exportedRecord(record);
    const QByteArray bytes =
        settings_file::encode(QByteArrayView(reinterpret_cast<const char*>(record.data()), EnvRecord::kSize),
                              settings_file::Product::of(record), QDateTime::currentDateTime());
    QSaveFile file(request.operands.at(1));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        err << fileProblem(request.operands.at(1), errno) << Qt::endl;
        return kExitFailed;
    }
    out << programText(kStrSaved).arg(QString::fromStdString(env.record(0).macText()), request.operands.at(1))
        << Qt::endl;
    return 0;
}

int importVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console)
{
    if (request.operands.isEmpty() || request.ipAddress)
        return printUsageError(err, QStringLiteral("import: name the file and the devices (or --all)"));
    int status = 0;
    const std::optional<EnvRecord> imported = loadFile(request.operands.constFirst(), err, status);
    if (!imported)
        return status;
    if (!request.all && request.operands.size() < 2)
        return printUsageError(err, QStringLiteral("import: name the file and at least one device (or --all)"));
    const std::optional<QList<Target>> targets =
        deviceTargets(request, request.operands.mid(1), QStringLiteral("import"), err, status);
    if (!targets)
        return status;
    if (!confirmedForMany(request, targets->size(), err))
        return kExitBadInput;
    std::optional<QString> password;
    int failed = 0;
    for (const Target& target : *targets) {
        QString line;
        if (!importInto(request, target, *imported, console, password, line))
            ++failed;
        out << line << Qt::endl;
    }
    return finishMany(out, kStrSummary, targets->size(), failed);
}

int showVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console&)
{
    if (request.operands.size() != 1)
        return printUsageError(err, QStringLiteral("show: name one settings file"));
    int status = 0;
    settings_file::Trailer trailer;
    const std::optional<EnvRecord> record = loadFile(request.operands.constFirst(), err, status, &trailer);
    if (!record)
        return status;
    const QString tag =
        QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(trailer.writerTag.data()), 3).toHex(' '));
    const QString savedAt = QString::fromLatin1(trailer.savedAt);
    if (request.json) {
        QJsonObject trailerJson{{QStringLiteral("writerTag"), tag},
                                {QStringLiteral("productCode"), trailer.productCode},
                                {QStringLiteral("productSubCode"), trailer.productSubCode},
                                {QStringLiteral("productInfoHigh"), trailer.productInfoHigh},
                                {QStringLiteral("productInfoLow"), trailer.productInfoLow},
                                {QStringLiteral("savedAt"), savedAt}};
        out << QJsonDocument(QJsonObject{{QStringLiteral("record"), recordJson(*record)},
                                         {QStringLiteral("trailer"), trailerJson}})
                   .toJson(QJsonDocument::Indented);
        out.flush();
        return 0;
    }
    out << QStringLiteral(
               "savedAt               %1\nproduct               %2.%3 (info %4.%5)\nwriterTag             %6\n")
               .arg(savedAt)
               .arg(trailer.productCode)
               .arg(trailer.productSubCode)
               .arg(trailer.productInfoHigh)
               .arg(trailer.productInfoLow)
               .arg(tag)
        << recordText(*record);
    out.flush();
    return 0;
}
} // namespace cli
