// cormapmp-cli export, import and show: settings files, as the settings editor saves and loads them.
#include "device/DeviceName.h"
#include "CliConsole.h"
#include "device/DeviceJobs.h"
#include "device/DeviceRequests.h"
#include "DeviceTargets.h"
#include "device/EditorRequests.h"
#include "WriteReport.h"
#include "record/RecordEdit.h"
#include "CliTexts.h"
#include "ExitStatus.h"
#include "device/HistoryKeeper.h"
#include "RecordFormat.h"
#include "SettingsFileLoad.h"
#include "PasswordOnce.h"
#include "Verbs.h"
#include "record/SettingsFile.h"
#include "files/BoundedRead.h"
#include "files/SafeSave.h"
#include "net/CNetEnv.h"
#include "text/FixedTexts.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>

#include <cstring>
#include <vector>

namespace cli {
/** Reads and checks a settings file; the record (at least 512 bytes) or nothing, with the message
 *  printed and the exit status in `status`: a file that cannot be read is bad input, as a damaged one. */
std::optional<EnvRecord> loadFile(const QString& path, QTextStream& err, int& status, settings_file::Trailer* trailer)
{
    // Read once, as a stream if it is one (a pipe, a FIFO), never waiting forever for it. A path that
    // cannot be read (a folder included) is bad input; a stream that stays silent delivered nothing.
    const bounded_read::Result read = settings_file::readFile(path);
    if (printReadProblem(path, read, err, status))
        return std::nullopt;
    status = kExitUsage;
    // An empty file or stream and one longer than any settings file (an endless one too) say why.
    if (read.bytes.isEmpty() && !read.tooLarge) {
        err << programText(texts::kNothingRead).arg(path) << Qt::endl;
        return std::nullopt;
    }
    if (read.tooLarge) {
        err << programText(settings_file::kStrDamaged) << '\n'
            << programText(texts::kTooLong).arg(path).arg(settings_file::kMaxRecordLength + settings_file::kOverhead)
            << Qt::endl;
        return std::nullopt;
    }
    const settings_file::Decoded decoded =
        read.tooLarge ? settings_file::Decoded{settings_file::kDamaged, {}, {}} : settings_file::decode(read.bytes);
    status = kExitUsage;
    if (decoded.outcome == settings_file::kNotSettingsFile) {
        err << programText(settings_file::kStrNotSettingsFile) << Qt::endl;
        return std::nullopt;
    }
    if (decoded.outcome != settings_file::kRead || decoded.record.size() < static_cast<qsizetype>(EnvRecord::kSize)) {
        err << programText(settings_file::kStrDamaged) << Qt::endl;
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

namespace {
/** The file's settings merged onto a device's record as the editor's import does; why not, or nothing. */
std::optional<QString> importOnto(EnvRecord& record, const EnvRecord& imported)
{
    if (imported.productCode() != record.productCode())
        return programText(settings_file::kStrOtherProduct);
    mergeImportedRecord(record, imported);
    return std::nullopt;
}

/** Writes `merged` (the file's settings on the device's) through the guarded write: under the device's
 *  lock it is read again, and the import made again on settings someone else changed; the outcome for
 *  its line. */
DeviceResult writeImported(const VerbRequest& request, const Target& target, const EnvRecord& before,
                           const EnvRecord& merged, const EnvRecord& imported, const QString& typed, QString& outcome)
{
    const WriteOutcome written = runGuardedWrite(
        request, {target, before, merged, typed.toLatin1(),
                  [&imported](EnvRecord& record) { return importOnto(record, imported); }, record_fields::importedSettings(before),
                  QStringLiteral("import")});
    outcome = writeOutcomeLine(written, targetText(target), programText(texts::kWrittenShort));
    return written.stored() ? DeviceResult::Done : DeviceResult::Failed;
}

/** Applies the file's settings to one of the devices named, once it has been read (`read`), as the
 *  editor's import and Write do; the outcome for its line and whether it worked. */
DeviceResult importInto(const VerbRequest& request, const Target& target, const EnvRecord& read,
                        const EnvRecord& imported, PasswordOnce& password, QString& outcome, QStringList& warnings)
{
    EnvRecord before = read;
    EnvRecord merged = before;
    if (const std::optional<QString> refused = importOnto(merged, imported)) {
        outcome = *refused;
        return DeviceResult::Failed;
    }
    const QString typed =
        merged.hasPassword()
            ? password.get(programText(texts::kPasswordPrompt).arg(targetText(target)) + QStringLiteral(": "))
            : QString();
    // The fields the file sets (those whose values it changes) are checked; the rest go back as they are.
    if (const std::optional<QString> refused = checkWrite(before, merged, typed, {}, &warnings)) {
        outcome = *refused;
        return DeviceResult::Failed;
    }
    return writeImported(request, target, before, merged, imported, typed, outcome);
}
} // namespace

int exportVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console&)
{
    if (request.operands.size() != 2 || request.ipAddress)
        return printUsageError(err, QStringLiteral("export: name the device (MAC or IPv4 address) and the file"));
    const std::optional<Target> target = targetOf(request.operands.at(0), request, QStringLiteral("export"), err);
    if (!target)
        return kExitUsage;
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
    // Only a complete file replaces the old one: on a full disk or past a size limit the old file stays.
    if (const safe_save::Outcome saved = safe_save::save(request.operands.at(1), bytes); !saved.saved()) {
        err << request.operands.at(1) << ": " << saved.errorText() << Qt::endl;
        return kExitFailed;
    }
    out << programText(texts::kSaved).arg(QString::fromStdString(env.record(0).macText()), request.operands.at(1))
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
        return kExitUsage;
    PasswordOnce password(console, request.passwordStdin);
    // Each device's values left as it holds them, said on this thread beside its result line.
    std::vector<QStringList> warnings(static_cast<std::size_t>(targets->size()));
    // status: 1 when the search of --all left devices out (already said).
    return std::max(status, serveEach(
        request, out, *targets, texts::kWrittenSummary,
        [&](const Target& target, const EnvRecord& read, QString& outcome) {
            const qsizetype i = &target - targets->constData(); // serveEach hands out the list's own items
            return importInto(request, target, read, *imported, password, outcome,
                              warnings[static_cast<std::size_t>(i)]);
        },
        [&](int i, DeviceResult, QString&) {
            printLeftAsIs(err, QStringLiteral("import"), targetText(targets->at(i)),
                          warnings.at(static_cast<std::size_t>(i)));
        }));
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
