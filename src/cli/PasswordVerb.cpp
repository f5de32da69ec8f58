// cormapmp-cli passwd: changes or removes a device's password, as the settings editor's "Set Password".
#include "CliArguments.h"
#include "CliConsole.h"
#include "CliTexts.h"
#include "DeviceTargets.h"
#include "EditorRequests.h"
#include "ExitStatus.h"
#include "Verbs.h"
#include "WriteGuard.h"
#include "net/CNetEnv.h"
#include "protocol/Codec.h"
#include "record/FormValidation.h"

#include <QTextStream>

#include <algorithm>

namespace cli {
namespace {
constexpr char kNewPasswordVariable[] = "CORMAPMP_NEW_PASSWORD";

/** The new password from the second line of standard input, the environment or two prompts; nothing
 *  (with the message printed) when none can be had or the two typed differ. */
std::optional<QString> newPassword(const VerbRequest& request, Console& console, QTextStream& err)
{
    if (request.passwordStdin) {
        if (const std::optional<QString> line = console.readLine())
            return *line;
        printUsageError(err, QStringLiteral("passwd: standard input holds no second line with the new password"));
        return std::nullopt;
    }
    if (const std::optional<QString> value = console.environment(kNewPasswordVariable))
        return *value;
    if (!console.isTerminal()) {
        printUsageError(err, QStringLiteral("passwd: give the new password in CORMAPMP_NEW_PASSWORD, on the second "
                                            "line of standard input with --password-stdin, or use --clear"));
        return std::nullopt;
    }
    const QString typed = console.readHidden(programText(texts::kNewPrompt)).value_or(QString());
    const QString retyped = console.readHidden(programText(texts::kRetypePrompt)).value_or(QString());
    if (typed != retyped) {
        err << programText(texts::kPasswordCheck) << Qt::endl;
        return std::nullopt;
    }
    return typed;
}

/** Why a password cannot be sent, or nothing: the dialog's rules for a new one (not empty, 4 to 8
 *  characters), and for both that a device stores single bytes. */
std::optional<QString> refusal(const QString& password, bool isNew)
{
    if (isNew && password.isEmpty())
        return programText(texts::kPasswordEmpty);
    if (isNew && password.size() < record_fields::field(record_fields::Id::Password).min)
        return programText(texts::kPasswordShort);
    // The device password's own rule (its width, characters a record holds), as the editor checks it.
    const record_fields::FieldRef field{&record_fields::field(record_fields::Id::Password), -1};
    if (const std::optional<form::Problem> problem = form::checkTyped(field, password))
        return QStringLiteral("passwd: ") + problem->describe();
    return std::nullopt;
}

/** The new password (none with --clear), checked before anything is sent; nothing (message printed)
 *  when it cannot be had or is refused. */
std::optional<QString> checkedNewPassword(const VerbRequest& request, Console& console, QTextStream& err)
{
    if (request.clear)
        return QString();
    const std::optional<QString> typed = newPassword(request, console, err);
    if (!typed)
        return std::nullopt;
    if (const std::optional<QString> refused = refusal(*typed, true)) {
        err << *refused << Qt::endl;
        return std::nullopt;
    }
    return typed;
}

/** The password change of one device named alone, with the program's full messages. Both passwords
 *  are had and checked before anything is sent. */
int passwdOne(const VerbRequest& request, const Target& target, QTextStream& out, QTextStream& err, Console& console)
{
    const QString current =
        devicePassword(console, request.passwordStdin,
                       programText(texts::kPasswordPrompt).arg(targetText(target)) + QStringLiteral(": "));
    if (const std::optional<QString> refused = refusal(current, false))
        return printUsageError(err, *refused);
    const std::optional<QString> next = checkedNewPassword(request, console, err);
    if (!next)
        return kExitUsage;
    CNetEnv env(request.profile);
    if (const Outcome read = readTarget(env, target); read != Outcome::Answered)
        return printFailure(err, read, env.openError());
    const EnvRecord record = env.record(0);
    // This machine's runs take turns on the device: a password change in the middle of another run's
    // write would make that write's password wrong.
    DeviceLock lock(record.mac());
    if (!lock.acquire()) {
        err << notWrittenText({}, QString::fromStdString(record.macText()), false) << Qt::endl;
        return kExitFailed;
    }
    const Outcome outcome = changePassword(env, target, record, current, *next);
    if (outcome != Outcome::Answered)
        return printFailure(err, outcome, env.openError());
    switch (env.replyResult()) {
    case frame::kResultOk:
        out << programText(request.clear ? texts::kPasswordRemoved : texts::kPasswordChanged)
                   .arg(QString::fromStdString(record.macText()))
            << Qt::endl;
        return 0;
    case frame::kResultWrongPassword:
        err << passwordMismatchText() << Qt::endl;
        return kExitFailed;
    default:
        err << unknownResponseText() << Qt::endl;
        return kExitFailed;
    }
}

/** The password change of one of several devices once it has been read (`record`); the outcome for its
 *  result line and whether the device took it. */
DeviceResult passwdOneOfMany(const VerbRequest& request, const Target& target, const EnvRecord& record,
                             const QString& current, const QString& next, QString& outcome)
{
    CNetEnv env(request.profile);
    DeviceLock lock(record.mac());
    if (!lock.acquire()) {
        outcome = notWrittenText({}, targetText(target), false);
        return DeviceResult::Failed;
    }
    if (const Outcome changed = changePassword(env, target, record, current, next); changed != Outcome::Answered) {
        outcome = failureLine(changed, env.openError());
        return DeviceResult::Failed;
    }
    const int result = env.replyResult();
    outcome = result == frame::kResultOk
                  ? programText(request.clear ? texts::kPasswordRemovedShort : texts::kPasswordChangedShort)
              : result == frame::kResultWrongPassword ? passwordMismatchText()
                                                      : unknownResponseText();
    return result == frame::kResultOk ? DeviceResult::Done : DeviceResult::Failed;
}
} // namespace

int passwdVerb(const VerbRequest& request, QTextStream& out, QTextStream& err, Console& console)
{
    if (request.ipAddress)
        return printUsageError(err, QStringLiteral("passwd: name the devices by their MAC or IPv4 address, not "
                                                   "with --ip"));
    int status = 0;
    const std::optional<QList<Target>> targets =
        deviceTargets(request, request.operands, QStringLiteral("passwd"), err, status);
    if (!targets)
        return status;
    if (!request.all && targets->size() == 1)
        return passwdOne(request, targets->constFirst(), out, err, console);
    if (!confirmedForMany(request, targets->size(), err))
        return kExitUsage;
    // One current and one new password for all the devices, both checked before anything is sent.
    const QString current = devicePassword(console, request.passwordStdin,
                                           programText(texts::kPasswordPrompt).arg(targetText(targets->constFirst())) +
                                               QStringLiteral(": "));
    if (const std::optional<QString> refused = refusal(current, false))
        return printUsageError(err, *refused);
    const std::optional<QString> next = checkedNewPassword(request, console, err);
    if (!next)
        return kExitUsage;
    // A device named twice is changed once: a second change would be judged against the new password.
    return serveEach(request, out, *targets, texts::kPasswordSummary,
                     [&](const Target& target, const EnvRecord& record, QString& outcome) {
                         return passwdOneOfMany(request, target, record, current, *next, outcome);
                     });
}
} // namespace cli
