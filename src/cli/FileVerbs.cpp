// cormapmp-cli export, import and show: settings files, as the settings editor saves and loads them.
#include "CliArguments.h"
#include "CliConsole.h"
#include "DeviceRequests.h"
#include "DeviceTargets.h"
#include "EditorRequests.h"
#include "EditorVerbs.h"
#include "RecordEdit.h"
#include "RecordFormat.h"
#include "config/SettingsFile.h"
#include "net/CNetEnv.h"

#include <QFile>
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
constexpr int kStrConfirmMany = 975;
constexpr int kExitFailed = 1;
constexpr int kExitBadInput = 2;

QString systemError(int number)
{
    return QStringLiteral("[%1] %2").arg(number).arg(QString::fromLocal8Bit(std::strerror(number)).remove(u'\n'));
}

/** Reads and checks a settings file; the record (at least 512 bytes) or nothing, with the message
 *  printed and the exit status in `status`. */
std::optional<EnvRecord> loadFile(const QString& path, QTextStream& err, int& status,
                                  settings_file::Trailer* trailer = nullptr)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        err << systemError(errno) << Qt::endl;
        status = kExitFailed;
        return std::nullopt;
    }
    const settings_file::Decoded decoded =
        settings_file::decode(file.read(settings_file::kMaxRecordLength + settings_file::kOverhead + 1));
    status = kExitBadInput;
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

/** The devices an import goes to: those named, or every device a search finds with --all. */
std::optional<QList<Target>> importTargets(const VerbRequest& request, QTextStream& err)
{
    QList<Target> targets;
    if (request.all) {
        if (request.operands.size() != 1) {
            printUsageError(err, QStringLiteral("import: with --all name only the file"));
            return std::nullopt;
        }
        CNetEnv env(request.profile);
        if (const Outcome found = searchByMac(env, request.bindAddress.value_or(0), request.allAdapters);
            found != Outcome::Answered) {
            printFailure(err, found);
            return std::nullopt;
        }
        env.sortByMac();
        for (int i = 0; i < env.count(); ++i) {
            Mac mac{};
            std::copy_n(env.record(i).data(), mac.size(), mac.begin());
            targets << Target{mac, 0, request.bindAddress.value_or(0), request.allAdapters};
        }
        return targets;
    }
    if (request.operands.size() < 2) {
        printUsageError(err, QStringLiteral("import: name the file and at least one device (or --all)"));
        return std::nullopt;
    }
    for (const QString& name : request.operands.mid(1)) {
        const std::optional<Target> target = targetOf(name, request, QStringLiteral("import"), err);
        if (!target)
            return std::nullopt;
        targets << *target;
    }
    return targets;
}

/** Applies the file's settings to one device as the editor's import and Write do; the line to print
 *  (MAC or address, then the outcome) and whether it worked. */
bool importInto(const VerbRequest& request, const Target& target, const EnvRecord& imported, Console& console,
                std::optional<QString>& password, QString& line)
{
    const QString name = target.mac ? macText(*target.mac) : dottedAddress(target.address);
    CNetEnv env(request.profile);
    if (const Outcome read = readTarget(env, target); read != Outcome::Answered) {
        line = name + QStringLiteral(": ") + programText(166).section(u'\n', 0, 0);
        return false;
    }
    EnvRecord merged = env.record(0);
    if (imported.productCode() != merged.productCode()) {
        line = name + QStringLiteral(": ") + programText(settings_file::kStrOtherProduct);
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
        line = name + QStringLiteral(": ") + programText(166).section(u'\n', 0, 0);
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

int exportVerb(const VerbRequest& request, QTextStream& out, QTextStream& err)
{
    if (request.operands.size() != 2 || request.ipOption)
        return printUsageError(err, QStringLiteral("export: name the device (MAC or IPv4 address) and the file"));
    const std::optional<Target> target = targetOf(request.operands.at(0), request, QStringLiteral("export"), err);
    if (!target)
        return kExitBadInput;
    CNetEnv env(request.profile);
    if (const Outcome read = readTarget(env, *target); read != Outcome::Answered)
        return printFailure(err, read);
    // As the editor saves a record just read: its Password box is empty then.
    EnvRecord record = env.record(0);
    record.setTypedPassword({});
    record = settings_file::exportedRecord(record);
    const QByteArray bytes =
        settings_file::encode(QByteArrayView(reinterpret_cast<const char*>(record.data()), EnvRecord::kSize),
                              settings_file::Product::of(record), QDateTime::currentDateTime());
    QSaveFile file(request.operands.at(1));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        err << systemError(errno) << Qt::endl;
        return kExitFailed;
    }
    out << programText(kStrSaved).arg(QString::fromStdString(env.record(0).macText()), request.operands.at(1))
        << Qt::endl;
    return 0;
}

int importVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console)
{
    if (request.operands.isEmpty() || request.ipOption)
        return printUsageError(err, QStringLiteral("import: name the file and the devices (or --all)"));
    int status = 0;
    const std::optional<EnvRecord> imported = loadFile(request.operands.constFirst(), err, status);
    if (!imported)
        return status;
    const std::optional<QList<Target>> targets = importTargets(request, err);
    if (!targets)
        return request.all ? kExitFailed : kExitBadInput;
    if (targets->size() > 1 && !request.yes) {
        err << programText(kStrConfirmMany).arg(targets->size()) << Qt::endl;
        return kExitBadInput;
    }
    std::optional<QString> password;
    int failed = 0;
    for (const Target& target : *targets) {
        QString line;
        if (!importInto(request, target, *imported, console, password, line))
            ++failed;
        out << line << Qt::endl;
    }
    if (targets->size() > 1)
        out << programText(kStrSummary).arg(targets->size() - failed).arg(failed) << Qt::endl;
    return failed ? kExitFailed : 0;
}

int showVerb(const VerbRequest& request, QTextStream& out, QTextStream& err)
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
