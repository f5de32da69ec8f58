#pragma once

// The catalogue of a device record's fields: each field once, with the name `read --json` gives it, its
// kind, whether each serial port has one, how it is read and written, its list entries (record code,
// command-line names, string-table text), its range or width, and the rule saying when it is in use.
// The command line's parsing and printing, the form checks and the settings editor's lists and enable
// rules all read it, so they cannot disagree. Texts stay in the string table; the catalogue holds ids.

#include "record/EnvRecord.h"

#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace record_fields {
enum class Id
{
    None,
    // The record's own fields, in the order `read` shows them.
    Mac,
    ProductId,
    ProductCode,
    ProductInfo,
    Flags,
    MultiIp,
    Ipv4Type,
    Arp,
    Telnet,
    Eapol,
    Ssl,
    CommentSupported,
    RemoteSearchSupported,
    RemoteSearch,
    IpAddress,
    SubnetMask,
    Gateway,
    AccountId,
    AccountPassword,
    PasswordSet,
    Password,
    Comment,
    SourceAddress,
    // Each serial port's fields.
    SerialFormat,
    DataBits,
    StopBits,
    Parity,
    FlowControl,
    Mode,
    LocalIp,
    PeerIp,
    LocalPort,
    PeerPort,
    BaudRate,
    Timeout,
    WaterMark,
};

enum class Kind
{
    Mac,      // six bytes, "02:11:22:0a:bc:de"
    Word,     // a number shown in hex: a product byte, the option word, a serial format
    Number,   // a decimal number (a range when it is edited)
    Flag,     // one bit: yes or no
    List,     // one of the entries
    Address,  // IPv4 address, dotted
    Text,     // single-byte text, NUL-padded
    Password, // the device password: never shown, never taken from the arguments
};

/** When a field is in use: the settings editor enables its control exactly then, the checks that stop a
 *  write look at it only then, and the command line sets it only then. */
enum class Use
{
    Never, // read-only: the device reports it, nothing writes it
    Always,
    StaticIpv4,  // the static IPv4 type
    Account,     // PPPoE or EAPoL MD5
    NoMultiIp,   // Multi IP off
    Capability,  // the device has the capability the field names (Field::capability)
    PortMode,    // a port's mode that uses it (Field::modes)
    PortMultiIp, // a port with a known mode, and Multi IP on
};

/** One entry of a list: what the record stores for it, the names the command line takes (the first as
 *  `read --json` shows it), and its text in the string table (0: its first name is its text). */
struct Entry
{
    int code;
    std::array<const char*, 2> names;
    int stringId = 0;
    int alsoCode = -1; // another code that reads as this entry (parity and flow-control code 2)
};

struct Field
{
    Id id;
    const char* name;
    Kind kind;
    bool perPort;
    Use use;
    int captionId = 0;                   // the settings editor's label, in the string table
    Id partOf = Id::None;                // the word whose bits hold it (flags, a serial format, productId)
    std::uint32_t mask = 0;              // those bits
    std::span<const Entry> entries = {}; // List; Flag fields may name their two states too
    int min = 0;                         // Number: its range; Password: a new one's least length
    int max = 0;                         // Number: the range; Text and Password: at most this many characters
    std::uint8_t modes = 0;              // PortMode: bit n set when mode code n uses the field
    /** The device capability (a read-only flag) the field needs: with Use::Capability in use only when
     *  the device has it. */
    Id capability = Id::None;
    /** Without that capability the device keeps no such field at all: its bytes are not interpreted, not
     *  shown and not compared as the field (the comment). */
    bool absentWithoutCapability = false;
    /** A settings import carries the field from the file (the device's identity, accounts, password and
     *  capabilities stay). A word's named parts say so for themselves; `importedBits` are the bits of the
     *  word that no part names and an import carries. */
    bool imported = false;
    std::uint32_t importedBits = 0;

    bool readOnly() const { return use == Use::Never; }
    /** True for the fields `read` shows (all but the device password, which it shows as passwordSet). */
    bool shown() const { return kind != Kind::Password; }
};

/** Every field, the record's own first, then a port's, in the order `read` shows them. */
std::span<const Field> all();
const Field& field(Id id);
/** The field called `name` (per port or not), or nothing. */
const Field* find(QStringView name, bool perPort);

/** True when a device with `record` keeps the field: false for a field it has no capability for and
 *  keeps nothing of (`absentWithoutCapability`). */
bool kept(const Field& field, const EnvRecord& record);

/** A field of one record: the field and its port (-1 for the record's own fields). */
struct FieldRef
{
    const Field* field = nullptr;
    int port = -1;

    /** As `read --json` and `write` name it: "comment", "com2.baudRate". */
    QString name() const;
};

/** The field a name stands for: "comment", "com2.baudRate", "COM2.baudRate" and "ports[1].baudRate"
 *  alike. Nothing for any other name. */
std::optional<FieldRef> resolve(QStringView name);

// Values. Numbers, codes, bits and addresses (host order) as one integer; texts as their bytes.
std::int64_t value(const FieldRef& ref, const EnvRecord& record);
void setValue(const FieldRef& ref, EnvRecord& record, std::int64_t value);
std::string text(const FieldRef& ref, const EnvRecord& record);
void setText(const FieldRef& ref, EnvRecord& record, const std::string& bytes);
/** The bytes of a text field: where it starts in the record and how wide it is. */
std::size_t textOffset(Id id);
std::size_t textWidth(Id id);

// Lists.
/** The position of the entry that holds `code`, or -1. */
int positionOf(const Field& field, std::int64_t code);
/** What a list position stores: the entry's code; a position no entry has (no selection) stores all ones
 *  in the field's bits (the mode byte 255), or for the rate 19200. */
std::int64_t codeAt(const Field& field, int position);
/** The code of the entry (or, for a flag, the state) that `name` names, case-insensitive. */
std::optional<std::int64_t> codeNamed(const Field& field, QStringView name);
/** Every name the command line takes for the field, in entry order, the first of each entry first. */
QStringList acceptedNames(const Field& field);
/** One name per entry (its first), as messages list them. */
QStringList entryNames(const Field& field);

/** The rate list position (0..10) of the nearest listed rate; an exact midpoint goes up. */
int baudToIndex(std::uint32_t rate);
/** The rate at a list position; any other position (no selection included) gives 19200. */
std::uint32_t indexToBaud(int index);
/** Parity and flow-control codes and their list positions: codes 2 and 3 read as position 2, position 2
 *  (and no selection) is stored as code 3. */
int parityToPosition(int code);
int positionToParity(int position);
int flowControlToPosition(int code);
int positionToFlowControl(int position);

// When a field is in use.
/** What decides which fields are in use: the option word's types and the device's capabilities, and
 *  each port's mode (-1: none chosen). */
struct Situation
{
    int ipv4Type = EnvRecord::kStatic;
    bool multiIp = false;
    int eapol = 0;
    bool commentSupported = true;
    bool remoteSearchSupported = true;
    std::array<int, EnvRecord::kPortCount> modes{-1, -1, -1, -1};

    static Situation of(const EnvRecord& record);
    /** True when the device has the capability (commentSupported, remoteSearchSupported). */
    bool has(Id capability) const;
};
bool inUse(const FieldRef& ref, const Situation& situation);
/** Why a field is not in use, in a sentence that names it ("com1.peerPort is not used in ATC mode"). */
QString whyNotInUse(const FieldRef& ref, const Situation& situation);

// Texts a record can hold.
/** The characters of `text` a record cannot hold (outside Latin-1, or NUL), each once, in order. */
QString unstorableCharacters(QStringView text);

// Values as `read --json` and `write` show them.
QJsonValue jsonValue(const FieldRef& ref, const EnvRecord& record);
/** The value as `write` prints it: names and numbers plain, flags yes/no, words in hex, texts quoted
 *  with their control characters escaped. */
QString valueText(const FieldRef& ref, const EnvRecord& record);
/** A device text in quotes, its control characters escaped as \xNN, so empty and padded texts show. */
QString quoted(const QString& text);

/** A range of record bytes, [first, last]. */
struct ByteSpan
{
    std::size_t first;
    std::size_t last;
    bool imported = false; // a settings import carries these bytes from the file
};
/** The byte ranges no field interprets, in offset order, including bytes 2-3 of each port block. */
std::span<const ByteSpan> uninterpretedSpans();
/** The same for one record: the comment's bytes count as uninterpreted on a device that keeps no
 *  comment. */
QList<ByteSpan> uninterpretedSpans(const EnvRecord& record);

/** One field whose value differs between two records, or a run of uninterpreted bytes that differ. */
struct Difference
{
    QString field;  // "comment", "com2.baudRate", or "uninterpreted 200-203"
    QString before; // as `write` prints values (valueText); bytes in hex
    QString after;
};
/** Every field whose value differs, in the order `read` shows them, then each uninterpreted span's run of
 *  differing bytes. A word (flags, a serial format, productId) is listed only for bits none of its named
 *  parts hold; the device password only as "passwordSet" or, when both hold one, "password". */
QList<Difference> differences(const EnvRecord& before, const EnvRecord& after);

/** Copies what a settings import carries from `imported` into `target`, as the catalogue's import
 *  column says: every field marked imported (a word's parts bit by bit, with the word's imported unnamed
 *  bits), and the uninterpreted spans marked imported. Everything else of `target` stays. */
void mergeImported(EnvRecord& target, const EnvRecord& imported);

/** The settings an import sets on a device with `record`, by the names changedSettings() gives them:
 *  every imported field the device keeps (a word by its name when it has imported unnamed bits) and
 *  "uninterpreted" for the imported spans. */
QStringList importedSettings(const EnvRecord& record);

/** The settings that differ between two states of one device's record, by the names differences() gives
 *  them, apart from what the device changes by itself (its password field, and the source address of an
 *  answer); bytes no field interprets are named "uninterpreted", once. Empty when the two agree on every
 *  other byte. What the editor asks about and the command line compares before a write. */
QStringList changedSettings(const EnvRecord& before, const EnvRecord& after);
} // namespace record_fields
