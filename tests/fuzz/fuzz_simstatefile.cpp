// The simulator's state file. Checks: a document it accepts writes back to one it reads as the same
// records, and writing is stable from then on; a refusal names the entry by the MAC text it carries,
// verbatim, whatever that text holds.

#include "FuzzCheck.h"
#include "SimStateFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray json(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString error;
    const auto records = sim::stateFromJson(json, &error);
    if (!records) {
        FUZZ_CHECK(!error.isEmpty(), QString::fromUtf8(json));
        // The entry refused is named with the MAC it gives.
        const QJsonArray devices = QJsonDocument::fromJson(json).object().value(QStringLiteral("devices")).toArray();
        if (error.startsWith(QStringLiteral("device "))) {
            const int number = error.section(QLatin1Char(' '), 1, 1).toInt();
            if (number >= 1 && number <= devices.size()) {
                const QString mac = devices.at(number - 1).toObject().value(QStringLiteral("mac")).toString();
                if (!mac.isEmpty())
                    FUZZ_CHECK(
                        error.startsWith(QStringLiteral("device %1 (").arg(number) + mac + QStringLiteral("): ")),
                        error + QStringLiteral("\nfor MAC text ") + mac);
            }
        }
        return 0;
    }
    const QByteArray written = sim::stateToJson(*records);
    QString again;
    const auto reread = sim::stateFromJson(written, &again);
    FUZZ_CHECK(reread && *reread == *records, again);
    FUZZ_CHECK(sim::stateToJson(*reread) == written, QString::fromUtf8(written));
    return 0;
}
