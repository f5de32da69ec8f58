#pragma once

// The checks that stop a write of a device's settings. The settings editor and the command-line tool
// both run them on the values as the user gave them (text, as typed), so neither can send a record the
// other would refuse. Each field's own rule (its range, width, characters, list) comes from the
// catalogue of fields and needs no record; the form's checks run in a fixed order over the fields in
// use and stop at the first failure. A field not in use is not looked at: it goes back as it came.

#include "record/RecordFields.h"

#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace form {
constexpr int kPortCount = EnvRecord::kPortCount;

/** The values a write takes from the user, as typed. Port numbers, timeouts and event bytes are text
 *  because "not a number" is one of the answers; addresses are text for the same reason (a blank
 *  address is 0.0.0.0). */
struct FormValues
{
    QString password;
    QString comment;
    std::array<QString, kPortCount> peerPort;
    std::array<QString, kPortCount> timeout;
    std::array<QString, kPortCount> eventByte;
    std::array<QString, kPortCount> localPort;
    QString ipAddress;
    QString subnetMask;
    QString gateway;
    std::array<QString, kPortCount> localIp;
    std::array<QString, kPortCount> peerIp;
    /** Which fields are in use (the IPv4 type, Multi IP, EAPoL, the capabilities, each port's mode): only
     *  those are checked. */
    record_fields::Situation situation;
    /** The settings editor corrects these combinations as they are chosen; a record set field by field
     *  (the command line) has them checked. */
    bool checkCombinations = true;

    /** The text typed for a field, or nullptr for a field the form does not take as text. */
    const QString* typed(record_fields::Id field, int port) const;
    QString* typed(record_fields::Id field, int port);
};

/** What a face of the program holds as typed for a field of the catalogue: the editor its control's text,
 *  the command line the record's value as text. */
using TypedText = std::function<QString(const record_fields::FieldRef&)>;

/** The form values, built from the catalogue: for every field (and port) the form takes as text, what
 *  `typed` gives for it; `situation` says which fields are in use. The editor and the command line both
 *  build theirs here. */
FormValues formValues(const TypedText& typed, const record_fields::Situation& situation);

/** The form values of `record` as the editor shows them in its controls (numbers in decimal, addresses
 *  dotted, texts as their bytes), with `password` typed and the record's own situation. */
FormValues formValues(const EnvRecord& record, const QString& password);

/** The rule a value broke. */
enum class Rule
{
    TooLong,            // more characters than the field holds (`max`)
    Unstorable,         // characters a record cannot hold (outside Latin-1)
    NotInteger,         // text that is not an integer
    OutOfRange,         // an integer outside `min`..`max`
    NotAnAddress,       // text that is not four numbers 0..255
    NotAnEntry,         // a name the field's list does not hold
    MultiIpNeedsStatic, // Multi IP with an IPv4 type other than static
    Md5ExcludesPppoe,   // EAPoL MD5 with PPPoE
};

struct Problem
{
    record_fields::Id field;
    int port = -1; // 0..3 for the per-port fields
    Rule rule;
    int min = 0;
    int max = 0;
    QString text; // the offending text as typed

    record_fields::FieldRef ref() const { return {&record_fields::field(field), port}; }
    /** The name `read --json` gives the field: "password", "com2.peerPort", "ipAddress", … */
    QString fieldName() const { return ref().name(); }
    /** The characters a record cannot hold (Unstorable), each once. */
    QString unstorable() const { return record_fields::unstorableCharacters(text); }
    /** An English sentence naming the field and the rule, for the command line. */
    QString describe() const;
};

/** The field's own rule for a typed value, whatever the rest of the record says: a number within its
 *  range, an address (blank is 0.0.0.0), a text within its width and of characters a record holds, a
 *  name its list or flag takes. The first problem, or nothing. */
std::optional<Problem> checkTyped(const record_fields::FieldRef& ref, const QString& text);

/** Checks in this order: the password (length, characters); the four peer ports (COM1..COM4); the four
 *  timeouts; the four event bytes; the four local ports; the comment (length, characters); the network
 *  addresses; each port's local and peer address; Multi IP needing a static IPv4 type; EAPoL MD5
 *  excluding PPPoE. Only the fields in use are checked. The first failure is returned. */
std::optional<Problem> validate(const FormValues& values);

/** Every failure of the checks validate() runs, in the same order: at most one per field (its first),
 *  then the combinations. validate() gives the first of them. */
QList<Problem> problems(const FormValues& values);

/** An integer as the form reads it (surrounding blanks allowed); nothing for other text. */
std::optional<qint64> readInteger(const QString& text);
} // namespace form
