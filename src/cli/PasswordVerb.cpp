// cormapmp-cli passwd: changes or removes a device's password, as the settings editor's "Set Password".
#include "device/DeviceName.h"
#include "CliConsole.h"
#include "CliTexts.h"
#include "DeviceTargets.h"
#include "device/EditorRequests.h"
#include "ExitStatus.h"
#include "Verbs.h"
#include "WriteReport.h"
#include "device/DeviceLock.h"
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

/** How a password change ended: the device took it, or why not (a line to print). */
struct Settled
{
    bool changed = false;
    QString problem;
    QString note; // the answer was late or unclear, but the device holds the new password
};

/** Sends the password change; without a clear answer (none, or a result other than 0 and 2) the device
 *  is read back: its password field tells whether it holds the new password. */
Settled changeAndSettle(CNetEnv& env, const Target& target, const EnvRecord& record, const QString& current,
                        const QString& next)
{
    const Outcome outcome = changePassword(env, target, record, current, next);
    if (outcome == Outcome::CannotOpen || outcome == Outcome::NoTable)
        return {false, failureLine(outcome, env.openError()), {}};
    const int result = outcome == Outcome::Answered ? env.replyResult() : -1;
    if (result == frame::kResultOk)
        return {true, {}, {}};
    if (result == frame::kResultWrongPassword)
        return {false, passwordMismatchText(), {}};
    const QString device = targetText(target);
    const QString answer = result < 0 ? failureText(Outcome::NoAnswer, {}) : unknownResponseText();
    // A device that held the new password already cannot tell by its record whether it took the change.
    if (holdsPassword(record, next))
        return {false, answer, {}};
    const std::optional<bool> holds = holdsPassword(env, target, next);
    if (holds && *holds)
        return {true, {}, programText(texts::kPasswordLate).arg(device)};
    return {false, answer + u' ' + programText(holds ? texts::kPasswordNotChanged : texts::kPasswordUnknown).arg(device), {}};
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
        err << lockTimeoutText(QString::fromStdString(record.macText()), lock.holder()) << Qt::endl;
        return kExitFailed;
    }
    const Settled settled = changeAndSettle(env, target, record, current, *next);
    if (!settled.changed) {
        err << settled.problem << Qt::endl;
        return kExitFailed;
    }
    const QString mac = QString::fromStdString(record.macText());
    if (!settled.note.isEmpty())
        out << settled.note << Qt::endl;
    out << programText(request.clear ? texts::kPasswordRemoved : texts::kPasswordChanged).arg(mac) << Qt::endl;
    return 0;
}

/** The password change of one of several devices once it has been read (`record`); the outcome for its
 *  result line and whether the device took it. */
DeviceResult passwdOneOfMany(const VerbRequest& request, const Target& target, const EnvRecord& record,
                             const QString& current, const QString& next, QString& outcome)
{
    CNetEnv env(request.profile);
    DeviceLock lock(record.mac());
    if (!lock.acquire()) {
        outcome = lockTimeoutText(targetText(target), lock.holder());
        return DeviceResult::Failed;
    }
    const Settled settled = changeAndSettle(env, target, record, current, next);
    outcome = settled.changed ? programText(request.clear ? texts::kPasswordRemovedShort : texts::kPasswordChangedShort)
                              : QString(settled.problem).replace(u'\n', u' ');
    return settled.changed ? DeviceResult::Done : DeviceResult::Failed;
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
    // status: 1 when the search of --all left devices out (already said); it stands whatever follows.
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
    return std::max(status, serveEach(request, out, *targets, texts::kPasswordSummary,
                                      [&](const Target& target, const EnvRecord& record, QString& outcome) {
                                          return passwdOneOfMany(request, target, record, current, *next, outcome);
                                      }));
}
} // namespace cli
