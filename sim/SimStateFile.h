#pragma once

// The simulator's state file: the devices' records (their password hashes included, at record bytes
// 76..83) kept across restarts. A small JSON document:
//   {"format": 1, "devices": [{"mac": "02:7e:55:00:00:01", "record": "<1024 hex digits>"}, ...]}
// The MAC is there for people reading the file; the record's own first six bytes identify the device.

#include "record/EnvRecord.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace sim {
QByteArray stateToJson(const std::vector<EnvRecord>& records);
/** The records of a state document, or nothing (and the reason in `error`) when it is damaged. */
std::optional<std::vector<EnvRecord>> stateFromJson(const QByteArray& json, QString* error);

/** Writes the file atomically (a temporary file renamed over it). */
bool saveState(const QString& path, const std::vector<EnvRecord>& records, QString* error);
/** The records in the file; none when it does not exist; nothing with a reason when it cannot be read. */
std::optional<std::vector<EnvRecord>> loadState(const QString& path, QString* error);
} // namespace sim
