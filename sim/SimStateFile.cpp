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
    for (const QJsonValue& entry : root.value(kDevicesKey).toArray()) {
        const QByteArray raw = QByteArray::fromHex(entry.toObject().value(kRecordKey).toString().toLatin1());
        if (raw.size() != static_cast<qsizetype>(EnvRecord::kSize)) {
            setError(error, QStringLiteral("device %1: the record is not %2 bytes of hex")
                                .arg(records.size() + 1)
                                .arg(EnvRecord::kSize));
            return std::nullopt;
        }
        records.emplace_back(reinterpret_cast<const std::uint8_t*>(raw.constData()));
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
