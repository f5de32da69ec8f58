#include "SimStateFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace sim {
namespace {
constexpr int kFormat = 1;
const QString kFormatKey = QStringLiteral("format");
const QString kDevicesKey = QStringLiteral("devices");
const QString kMacKey = QStringLiteral("mac");
const QString kRecordKey = QStringLiteral("record");

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

/** The bytes of a hex text of exactly `size` bytes, or why it is not one: every character must be a hex
 *  digit and there must be exactly two per byte (nothing skipped, no byte shifted). */
std::optional<QByteArray> strictHex(const QString& text, qsizetype size, QString& why)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isHexDigit(text.at(i))) {
            why = QStringLiteral("character %1 (\"%2\") is not a hex digit").arg(QString::number(i + 1), text.at(i));
            return std::nullopt;
        }
    }
    if (text.size() != 2 * size) {
        why = QStringLiteral("%1 hex digits where %2 bytes need %3").arg(text.size()).arg(size).arg(2 * size);
        return std::nullopt;
    }
    return QByteArray::fromHex(text.toLatin1());
}

/** "device 2 (02:7e:55:00:00:02)": how a message names an entry of the file. */
QString entryName(qsizetype number, const QJsonObject& entry)
{
    const QString mac = entry.value(kMacKey).toString();
    return mac.isEmpty() ? QStringLiteral("device %1").arg(number)
                         : QStringLiteral("device %1 (%2)").arg(QString::number(number), mac);
}
} // namespace

QByteArray stateToJson(const std::vector<EnvRecord>& records)
{
    QJsonArray devices;
    for (const EnvRecord& record : records) {
        const QByteArray raw(reinterpret_cast<const char*>(record.data()), EnvRecord::kSize);
        devices.append(QJsonObject{
            {kMacKey, QString::fromStdString(record.macText())},
            {kRecordKey, QString::fromLatin1(raw.toHex())},
        });
    }
    const QJsonObject root{{kFormatKey, kFormat}, {kDevicesKey, devices}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<std::vector<EnvRecord>> stateFromJson(const QByteArray& json, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (document.isNull()) {
        setError(error, QStringLiteral("not a JSON document (%1)").arg(parseError.errorString()));
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    if (root.value(kFormatKey).toInt() != kFormat || !root.value(kDevicesKey).isArray()) {
        setError(error, QStringLiteral("not a tessel-sim state document (format %1)").arg(kFormat));
        return std::nullopt;
    }
    std::vector<EnvRecord> records;
    for (const QJsonValue& value : root.value(kDevicesKey).toArray()) {
        const QJsonObject entry = value.toObject();
        QString why;
        const std::optional<QByteArray> raw =
            entry.value(kRecordKey).isString()
                ? strictHex(entry.value(kRecordKey).toString(), static_cast<qsizetype>(EnvRecord::kSize), why)
                : std::nullopt;
        if (!raw) {
            if (why.isEmpty())
                why = QStringLiteral("missing or not a text");
            // One substitution for all parts: a MAC text holding "%1" must not be substituted again.
            setError(error, QStringLiteral("%1: field \"%2\" is not %3 bytes of hex: %4")
                                .arg(entryName(static_cast<qsizetype>(records.size()) + 1, entry), kRecordKey,
                                     QString::number(EnvRecord::kSize), why));
            return std::nullopt;
        }
        records.emplace_back(reinterpret_cast<const std::uint8_t*>(raw->constData()));
    }
    return records;
}

bool saveState(const QString& path, const std::vector<EnvRecord>& records, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(stateToJson(records)) < 0 || !file.commit()) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

std::optional<std::vector<EnvRecord>> loadState(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.exists())
        return std::vector<EnvRecord>{};
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    QString reason;
    auto records = stateFromJson(file.readAll(), &reason);
    if (!records)
        setError(error, QStringLiteral("%1: %2").arg(path, reason));
    return records;
}
} // namespace sim
