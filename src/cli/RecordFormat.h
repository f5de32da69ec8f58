#pragma once

// How the command-line tool shows a device record: readable text or JSON, both named by the record
// accessors (ipAddress, ports[0].baudRate, …) and both built from one list of fields, so they never
// disagree.

#include "record/EnvRecord.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <array>
#include <cstddef>

namespace cli {
/** Every field of `record` as one JSON object: accessor names as keys, addresses dotted, the MAC as
 *  "02:11:22:0a:bc:de", serial formats decoded, and the bytes no field interprets as hex under
 *  "uninterpreted" keyed by their offset range ("156-315"). The device password is reported only as
 *  passwordSet. */
QJsonObject recordJson(const EnvRecord& record);

/** The same fields as readable text, one "name  value" line each, ports and flag bits indented. */
QString recordText(const EnvRecord& record);

/** One device of a search list: mac, ipAddress, productId, productCode, sourceAddress, and the comment
 *  when the device keeps one. */
QJsonObject summaryJson(const EnvRecord& record);

/** One line of a search list: `first` (the MAC, or the address the answer came from), then the IP
 *  address, the product code and, when the device keeps one, the comment. */
QString summaryLine(const QString& first, const EnvRecord& record);

/** The uninterpreted byte ranges of every record, [first, last] offsets. */
struct ByteSpan
{
    std::size_t first;
    std::size_t last;
};
extern const std::array<ByteSpan, 10> kUninterpretedSpans;

/** The key set of "uninterpreted" for `record`, in offset order: kUninterpretedSpans, and the comment
 *  field (88-119) when the device does not keep a comment. */
QList<ByteSpan> uninterpretedSpans(const EnvRecord& record);

/** The document as indented JSON text, with DEL and the C1 control characters (device bytes 0x7F..0x9F)
 *  escaped as \u00XX too, so that device text cannot drive a terminal. */
QString jsonText(const QJsonDocument& document);
} // namespace cli
