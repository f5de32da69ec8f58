#include "device/EditorRequests.h"

#include "net/CNetEnv.h"
#include "protocol/Codec.h"

#include <algorithm>
#include <array>

namespace device {
namespace {
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

/** An 8-byte password field as a request carries it: the text, zero-filled, hashed when not empty. */
void fillPasswordField(std::uint8_t* field, const QString& password)
{
    std::fill_n(field, frame::kPasswordSize, std::uint8_t{0});
    const QByteArray bytes = password.toLatin1().left(static_cast<qsizetype>(frame::kPasswordSize));
    std::copy(bytes.begin(), bytes.end(), field);
    if (IsPasswordSet(field))
        HashPassword(field);
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

bool holdsPassword(const EnvRecord& record, const QString& typed)
{
    std::array<std::uint8_t, frame::kPasswordSize> wanted{};
    fillPasswordField(wanted.data(), typed);
    return std::equal(wanted.begin(), wanted.end(), record.passwordField());
}

std::optional<bool> holdsPassword(CNetEnv& env, const Target& target, const QString& next)
{
    if (readTarget(env, target) != Outcome::Answered)
        return std::nullopt;
    return holdsPassword(env.record(0), next);
}

Outcome sendRead(CNetEnv& env, const Target& target)
{
    const Mode mode = target.mac ? Mode::Broadcast : Mode::Unicast;
    if (const auto failure = device::open(env, mode, target.mac ? target.bindAddress : target.address, frame::kRead,
                                          target.everyAdapter))
        return *failure;
    if (target.mac)
        std::copy(target.mac->begin(), target.mac->end(), env.requestBody());
    send(env, target);
    return Outcome::Answered;
}

std::function<bool()> readAnswered(const CNetEnv& env, const Target& target)
{
    if (target.mac)
        return [&env] { return env.answered() != 0; };
    return [&env, address = target.address] { return hasAnswerFrom(env, address); };
}

Outcome readOutcome(CNetEnv& env, const Target& target)
{
    if (target.mac)
        return env.answered() && env.count() > 0 ? Outcome::Answered : Outcome::NoAnswer;
    return env.answered() && keepAnswersFrom(env, target.address) > 0 ? Outcome::Answered : Outcome::NoAnswer;
}

Outcome sendWrite(CNetEnv& env, const Target& target, const EnvRecord& record, const QByteArray& password)
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
    return Outcome::Answered;
}

Outcome writeSettings(CNetEnv& env, const Target& target, const EnvRecord& record, const QByteArray& password)
{
    if (const Outcome sent = sendWrite(env, target, record, password); sent != Outcome::Answered)
        return sent;
    waitForAnswer(env, reply_wait::kWriteTickMs);
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
    waitForAnswer(env, reply_wait::kStatusTickMs);
    return judge(env);
}

Outcome changePassword(CNetEnv& env, const Target& target, const EnvRecord& record, const QString& current,
                       const QString& next)
{
    Outcome failure = Outcome::NoAnswer;
    if (!open(env, target, frame::kChangePassword, failure))
        return failure;
    EnvRecord body = record;
    std::fill_n(body.passwordField(), EnvRecord::kPasswordFieldSize, std::uint8_t{0});
    fillPasswordField(body.passwordField(), current);
    std::copy(body.raw().begin(), body.raw().end(), env.requestBody());
    fillPasswordField(env.requestBody() + frame::kBodyOffNewPassword, next);
    send(env, target);
    waitForAnswer(env, reply_wait::kPasswordTickMs);
    return judge(env);
}
} // namespace device
