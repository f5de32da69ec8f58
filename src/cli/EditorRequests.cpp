#include "EditorRequests.h"

#include "net/CNetEnv.h"
#include "protocol/Codec.h"
#include "text/StringTable.h"

#include <QLocale>
#include <QTextStream>

#include <algorithm>

namespace cli {
namespace {
constexpr int kStrNoResponse = 166;
// The editor's table holds two records; it is cleared before each request, so the answer is record 0.
constexpr int kEditorTableLimit = 2;

bool open(CNetEnv& env, const Target& target, int command, Outcome& failure)
{
    if (!env.hasTable()) {
        failure = Outcome::NoTable;
        return false;
    }
    if (!(target.mac ? openBroadcast(env, target.bindAddress, target.everyAdapter) : env.OpenRemote(target.address))) {
        failure = Outcome::CannotOpen;
        return false;
    }
    env.requestFrame().fill(0);
    env.setCount(0);
    env.setLimit(kEditorTableLimit);
    env.setCommand(command);
    return true;
}

void send(CNetEnv& env, const Target& target)
{
    if (target.mac)
        env.SendBroadcast();
    else
        env.SendUnicast(target.address);
}

Outcome judge(const CNetEnv& env)
{
    return env.answered() ? Outcome::Answered : Outcome::NoAnswer;
}
} // namespace

Outcome readTarget(CNetEnv& env, const Target& target)
{
    return target.mac ? readByMac(env, target.bindAddress, *target.mac, target.everyAdapter)
                      : readByIp(env, target.address);
}

Outcome writeSettings(CNetEnv& env, const Target& target, const EnvRecord& record, const QByteArray& password)
{
    Outcome failure = Outcome::NoAnswer;
    if (!open(env, target, frame::kWrite, failure))
        return failure;
    EnvRecord body = record;
    body.setTypedPassword(password.toStdString());
    if (IsPasswordSet(body.passwordField()))
        HashPassword(body.passwordField());
    std::copy(body.raw().begin(), body.raw().end(), env.requestBody());
    send(env, target);
    waitForAnswer(env, kWriteTickMs);
    return judge(env);
}

Outcome requestStatus(CNetEnv& env, const Target& target, const EnvRecord& record)
{
    Outcome failure = Outcome::NoAnswer;
    if (!open(env, target, frame::kStatus, failure))
        return failure;
    EnvRecord body = record;
    body.setTypedPassword({});
    std::copy(body.raw().begin(), body.raw().end(), env.requestBody());
    send(env, target);
    waitForAnswer(env, kStatusTickMs);
    return judge(env);
}

QString programText(int id)
{
    QString text = StringTable(StringTable::languageFor(QLocale::system())).text(id);
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

int printFailure(QTextStream& err, Outcome outcome)
{
    switch (outcome) {
    case Outcome::NoAnswer:
        err << programText(kStrNoResponse) << Qt::endl;
        break;
    case Outcome::CannotOpen:
        err << QStringLiteral("SOCK_DGRAM: can't open socket") << Qt::endl;
        break;
    case Outcome::NoTable:
        err << QStringLiteral("Empty environment pool: out of memory") << Qt::endl;
        break;
    case Outcome::Answered:
        return 0;
    }
    return 1;
}

int printUsageError(QTextStream& err, const QString& message)
{
    err << "cormapmp-cli: " << message << '\n' << "Try 'cormapmp-cli --help'." << Qt::endl;
    return 2;
}
} // namespace cli
