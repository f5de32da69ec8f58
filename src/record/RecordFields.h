#pragma once

// The fields of a device record by the names the command line and its JSON use (ipAddress, multiIp,
// com1.baudRate, …), each with its JSON value and its readable text. One list serves printing a record,
// naming what a write changes and naming what another writer changed, so they never disagree.

#include "record/EnvRecord.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <string>

namespace record_fields {
/** One field: its accessor name, its JSON value and its readable text; indent applies to text only. */
struct Field
{
    QString name;
    QJsonValue json;
    QString text;
    int indent = 0;
};
using Fields = QList<Field>;

/** The record's own fields in order (mac, productId, …, the option word and its bits, addresses,
 *  account, passwordSet, comment when the device keeps one, sourceAddress). The device password is
 *  reported only as passwordSet. */
Fields recordFields(const EnvRecord& record);
/** One port block's fields (serialFormat and its parts, mode, addresses, numbers). */
Fields portFields(const EnvPortBlock& port);
/** The fields as one JSON object, names as keys. */
QJsonObject toJson(const Fields& fields);

/** A device text as the program shows it: its bytes as Latin-1. */
QString deviceText(const std::string& bytes);
/** A device text in quotes, its control characters escaped, so empty and padded texts show. */
QString quoted(const QString& text);

/** A field whose value differs between two records: the record's own fields by name, the ports' as
 *  "comN.name". */
struct Difference
{
    QString field;
    QJsonValue before;
    QJsonValue after;
};

/** Every field whose value differs, in the order of the lists; the option word (flags) and each port's
 *  serialFormat are listed as well as their parts. */
QList<Difference> differences(const EnvRecord& before, const EnvRecord& after);

/**
 * The settings that differ between two states of one device's record, by name, apart from what the
 * device changes by itself (its password field and the source address of an answer). A total (flags,
 * comN.serialFormat) is named only when nothing else of its part of the record differs, i.e. when only
 * bits without a name of their own changed; bytes no field covers are named "uninterpreted". Empty when
 * the two agree on every other byte.
 */
QStringList changedSettings(const EnvRecord& before, const EnvRecord& after);
} // namespace record_fields
