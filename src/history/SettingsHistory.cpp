#include "SettingsHistory.h"

#include "files/SafeSave.h"
#include "record/RecordFields.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace settings_history {
namespace {
constexpr int kEntryFileMode = 0600;
/** An entry file is a few KiB; anything much larger in the folder is not one. */
constexpr qint64 kMaxEntryFile = 64 * 1024;
constexpr int kLockWaitMs = 5000;
constexpr int kStaleLockMs = 30000;
const QString kLockName = QStringLiteral(".lock");

QString hexOf(const EnvRecord& record)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(record.data()), EnvRecord::kSize).toHex());
}

std::optional<EnvRecord> recordOf(const QJsonValue& value)
{
    static const QRegularExpression hex(QStringLiteral("\\A[0-9a-f]*\\z"));
    const QString text = value.toString();
    if (text.size() != 2 * static_cast<qsizetype>(EnvRecord::kSize) || !hex.match(text).hasMatch())
        return std::nullopt;
    const QByteArray bytes = QByteArray::fromHex(text.toLatin1());
    return EnvRecord(reinterpret_cast<const std::uint8_t*>(bytes.constData()));
}

QString systemError(const QString& path, int error)
{
    return QStringLiteral("%1: ").arg(path) + safe_save::Outcome{error}.errorText();
}

/** Makes `path` (and what leads to it) with the user's access only; empty, or what went wrong. */
QString makePrivateFolder(const QString& path)
{
    errno = 0;
    if (!QDir().mkpath(path))
        return systemError(path, errno ? errno : EACCES);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return {};
}
} // namespace

QStringList Entry::changed() const
{
    return record_fields::changedSettings(before, after);
}

QByteArray encode(const Entry& entry)
{
    const QJsonObject object{
        {QStringLiteral("format"), kFormat},
        {QStringLiteral("number"), entry.number},
        {QStringLiteral("time"), entry.time.toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("program"), entry.program},
        {QStringLiteral("verb"), entry.verb},
        {QStringLiteral("mac"), QString::fromStdString(entry.before.macText())},
        // For people and scripts that read the folder; decode() works it out again from the records.
        {QStringLiteral("changed"), QJsonArray::fromStringList(entry.changed())},
        {QStringLiteral("before"), hexOf(entry.before)},
        {QStringLiteral("after"), hexOf(entry.after)},
    };
    // A settled entry's file is as it always was; the others say what is not yet known.
    QJsonObject withState = object;
    if (entry.state != State::Settled)
        withState.insert(QStringLiteral("state"), entry.state == State::Pending ? QStringLiteral("pending")
                                                                                : QStringLiteral("unconfirmed"));
    return QJsonDocument(withState).toJson(QJsonDocument::Indented);
}

std::optional<Entry> decode(QByteArrayView bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    if (object.value(QStringLiteral("format")).toInt() != kFormat)
        return std::nullopt;
    Entry entry;
    entry.number = object.value(QStringLiteral("number")).toInt();
    entry.time = QDateTime::fromString(object.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    entry.program = object.value(QStringLiteral("program")).toString();
    entry.verb = object.value(QStringLiteral("verb")).toString();
    const std::optional<EnvRecord> before = recordOf(object.value(QStringLiteral("before")));
    const std::optional<EnvRecord> after = recordOf(object.value(QStringLiteral("after")));
    // Both records are of one device, the one the entry names.
    if (entry.number < 1 || !entry.time.isValid() || !before || !after || before->mac() != after->mac() ||
        object.value(QStringLiteral("mac")).toString() != QString::fromStdString(before->macText()))
        return std::nullopt;
    entry.before = *before;
    entry.after = *after;
    const QString state = object.value(QStringLiteral("state")).toString();
    entry.state = state.isEmpty()                         ? State::Settled
                  : state == QStringLiteral("pending") ? State::Pending
                                                         : State::Unconfirmed;
    return entry;
}

QString defaultFolder()
{
    // The desktop program's own data folder (its organisation and name), whichever program asks.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/VarkonSystems/CormapMP/history");
}

Store::Store(QString folder) : m_folder(std::move(folder)) {}

QString Store::deviceFolder(const Mac& mac) const
{
    // "02-11-22-0a-bc-de": a name every file system takes.
    QStringList parts;
    for (const std::uint8_t byte : mac)
        parts << QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0'));
    return m_folder + u'/' + parts.join(u'-');
}

QString Store::entryPath(const Mac& mac, int number) const
{
    return deviceFolder(mac) + QStringLiteral("/%1.json").arg(number, 6, 10, QLatin1Char('0'));
}

QList<int> Store::numbers(const Mac& mac) const
{
    static const QRegularExpression name(QStringLiteral("\\A([0-9]{6,9})\\.json\\z"));
    QList<int> list;
    for (const QString& file : QDir(deviceFolder(mac)).entryList(QDir::Files)) {
        if (const QRegularExpressionMatch m = name.match(file); m.hasMatch() && m.captured(1).toInt() > 0)
            list << m.captured(1).toInt();
    }
    std::sort(list.begin(), list.end());
    return list;
}

Kept Store::keep(const Entry& given)
{
    const QString folder = deviceFolder(given.mac());
    if (const QString problem = makePrivateFolder(folder); !problem.isEmpty())
        return {0, problem};
    // Numbering and pruning take turns with every other program keeping an entry of this device.
    QLockFile lock(folder + u'/' + kLockName);
    lock.setStaleLockTime(kStaleLockMs);
    errno = 0;
    if (!lock.tryLock(kLockWaitMs)) {
        const QString path = folder + u'/' + kLockName;
        if (lock.error() == QLockFile::LockFailedError)
            return {0, path + QStringLiteral(": held by another program")};
        return {0, errno ? systemError(path, errno) : path + QStringLiteral(": cannot be made")};
    }
    const QList<int> kept = numbers(given.mac());
    Entry entry = given;
    entry.number = kept.isEmpty() ? 1 : kept.constLast() + 1;
    const QString path = entryPath(entry.mac(), entry.number);
    if (const safe_save::Outcome saved = safe_save::save(path, encode(entry), kEntryFileMode); !saved.saved())
        return {0, systemError(path, saved.error)};
    for (qsizetype i = 0; i + kKeptPerDevice < kept.size() + 1; ++i)
        QFile::remove(entryPath(entry.mac(), kept.at(i)));
    return {entry.number, {}};
}

bool Store::discard(const Mac& mac, int number)
{
    return QFile::remove(entryPath(mac, number));
}

bool Store::settle(const Mac& mac, int number, State state)
{
    std::optional<Entry> kept = entry(mac, number);
    if (!kept)
        return false;
    kept->state = state;
    return safe_save::save(entryPath(mac, number), encode(*kept), kEntryFileMode).saved();
}

void Store::removeDebris(const Mac& mac) const
{
    constexpr qint64 kDebrisAgeMs = 60 * 1000;
    const QDir folder(deviceFolder(mac));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QFileInfo& file :
         folder.entryInfoList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
        if (file.lastModified().toUTC().msecsTo(now) > kDebrisAgeMs)
            QFile::remove(file.filePath());
    }
}

std::optional<Entry> Store::entry(const Mac& mac, int number) const
{
    QFile file(entryPath(mac, number));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    std::optional<Entry> entry = decode(file.read(kMaxEntryFile));
    // A file renamed by hand, or of another device, is not this entry.
    if (!entry || entry->number != number || entry->mac() != mac)
        return std::nullopt;
    return entry;
}

QList<Entry> Store::entries(const Mac& mac) const
{
    QList<Entry> list;
    for (const int number : numbers(mac)) {
        if (std::optional<Entry> e = entry(mac, number))
            list << *e;
    }
    return list;
}

std::optional<Entry> Store::latest(const Mac& mac) const
{
    const QList<int> kept = numbers(mac);
    for (auto it = kept.crbegin(); it != kept.crend(); ++it) {
        if (std::optional<Entry> e = entry(mac, *it))
            return e;
    }
    return std::nullopt;
}
} // namespace settings_history
