#pragma once

// How the command-line tool shows a device record: readable text or JSON, both named and valued by the
// catalogue of fields (ipAddress, ports[0].baudRate, …), so they never disagree with each other nor with
// what `write` takes.

#include "record/EnvRecord.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace cli {
/** Every field of `record` as one JSON object: the catalogue's names as keys and values, and the bytes no
 *  field interprets as hex under "uninterpreted" keyed by their offset range ("156-315"). The device
 *  password is reported only as passwordSet; the comment only when the device keeps one (otherwise its
 *  bytes are uninterpreted). */
QJsonObject recordJson(const EnvRecord& record);

/** The same fields as readable text, one "name  value" line each, ports and flag bits indented. */
QString recordText(const EnvRecord& record);

/** One device of a search list: mac, ipAddress, productId, productCode, sourceAddress, and the comment
 *  when the device keeps one. */
QJsonObject summaryJson(const EnvRecord& record);

/** One line of a search list: `first` (the MAC, or the address the answer came from), then the IP
 *  address, the product code and, when the device keeps one, the comment. */
QString summaryLine(const QString& first, const EnvRecord& record);

/** The document as indented JSON text, with DEL and the C1 control characters (device bytes 0x7F..0x9F)
 *  escaped as \u00XX too, so that device text cannot drive a terminal. */
QString jsonText(const QJsonDocument& document);
} // namespace cli
