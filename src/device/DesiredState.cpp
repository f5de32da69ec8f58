#include "device/DesiredState.h"

#include "record/RecordFields.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <yaml.h>

#include <cmath>

namespace device {
using record_edit::checkChanges;
namespace {
const QChar kSeparator = QChar(0x1F); // between the keys of a path: no key of a valid file holds it

/** A field as the file gives it, before the defaults are merged in. */
struct FieldEntry
{
    QString name;
    QString value;
    int line = 0;
};

/** The line of every key of a valid JSON text, by its path (the keys from the top, an array's entries as
 *  "#0", "#1", … joined by kSeparator), and the keys of each object in the file's order: QJsonObject
 *  keeps neither. The first key named twice in one object is noted. */
class KeyLines
{
public:
    KeyLines() = default;
    explicit KeyLines(const QByteArray& text) { scan(text); }

    /** Notes `key` of the object at `objectPath`, named on `line`. */
    void add(const QString& objectPath, const QString& key, int line);

    int line(const QString& path) const { return m_lines.value(path, 1); }
    QStringList keys(const QString& objectPath) const { return m_keys.value(objectPath); }
    const std::optional<QString>& duplicate() const { return m_duplicate; }

private:
    struct Frame
    {
        bool object;
        QString path;
        int index = 0;
        bool expectKey = true;
        QString key;
    };

    void scan(const QByteArray& text);
    void onString(const QByteArray& raw, int line);
    QString childPath() const;

    QHash<QString, int> m_lines;
    QHash<QString, QStringList> m_keys;
    QList<Frame> m_stack;
    std::optional<QString> m_duplicate;
};

void KeyLines::scan(const QByteArray& text)
{
    int line = 1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '\n') {
            ++line;
        } else if (c == '"') {
            qsizetype end = i + 1;
            while (end < text.size() && text.at(end) != '"')
                end += text.at(end) == '\\' ? 2 : 1;
            onString(text.mid(i, end - i + 1), line);
            i = end;
        } else if (c == '{' || c == '[') {
            m_stack.append(Frame{c == '{', childPath(), 0, true, QString()});
        } else if ((c == '}' || c == ']') && !m_stack.isEmpty()) {
            m_stack.removeLast();
        } else if (c == ',' && !m_stack.isEmpty()) {
            Frame& top = m_stack.last();
            top.expectKey = top.object;
            top.index += top.object ? 0 : 1;
        }
    }
}

void KeyLines::onString(const QByteArray& raw, int line)
{
    if (m_stack.isEmpty() || !m_stack.last().object || !m_stack.last().expectKey)
        return;
    Frame& top = m_stack.last();
    // The key as the JSON reader decodes it (escapes included).
    top.key = QJsonDocument::fromJson("[" + raw + "]").array().at(0).toString();
    top.expectKey = false;
    add(top.path, top.key, line);
}

void KeyLines::add(const QString& objectPath, const QString& key, int line)
{
    const QString path = objectPath + kSeparator + key;
    if (m_lines.contains(path) && !m_duplicate)
        m_duplicate = QStringLiteral("line %1: %2: named twice").arg(line).arg(key);
    m_lines.insert(path, line);
    m_keys[objectPath] << key;
}

QString KeyLines::childPath() const
{
    if (m_stack.isEmpty())
        return QString();
    const Frame& top = m_stack.last();
    return top.path + kSeparator + (top.object ? top.key : QStringLiteral("#%1").arg(top.index));
}

QString lineError(int line, const QString& what)
{
    return QStringLiteral("line %1: %2").arg(line).arg(what);
}

/** A JSON value as a field=value argument would give it; nothing for what no field takes. */
std::optional<QString> valueText(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (std::floor(d) == d && std::abs(d) < 1e15)
            return QString::number(static_cast<qint64>(d));
        return QString::number(d, 'g', 17);
    }
    return std::nullopt;
}

/**
 * A desired state written in YAML, read into the same tree and key lines as a JSON one. Scalars are typed
 * as YAML 1.2's core schema types them (true/false, null, integers and decimals, the rest text; anything
 * quoted is text), so that a MAC such as 02:11:22:33:44:55 is never read as a number in base 60 as YAML
 * 1.1 would. Anchors and aliases are refused: a desired state names every value where it applies.
 */
class YamlReader
{
public:
    explicit YamlReader(const QByteArray& text)
    {
        yaml_parser_initialize(&m_parser);
        yaml_parser_set_input_string(&m_parser, reinterpret_cast<const unsigned char*>(text.constData()),
                                     static_cast<size_t>(text.size()));
    }
    ~YamlReader() { yaml_parser_delete(&m_parser); }
    YamlReader(const YamlReader&) = delete;
    YamlReader& operator=(const YamlReader&) = delete;

    /** The document's top value, its keys noted in `lines`; nothing when the text is not one YAML document
     *  (why in `error`, with its line). */
    std::optional<QJsonValue> read(KeyLines& lines, QString& error);

private:
    /** One parser event; false (the error set) when the text is not YAML. */
    bool next(yaml_event_t& event);
    std::optional<QJsonValue> node(yaml_event_t& event, const QString& path, KeyLines& lines);
    std::optional<QJsonValue> mapping(const QString& path, KeyLines& lines);
    std::optional<QJsonValue> sequence(const QString& path, KeyLines& lines);
    // A desired state nests five deep at most (devices, a device, ports, a port); a file nested far deeper
    // is refused before its nesting can exhaust the stack.
    static constexpr int kMaxDepth = 32;
    int m_depth = 0;
    static QJsonValue scalar(const yaml_event_t& event);
    /** A plain scalar typed as the YAML 1.2 core schema types it. */
    static QJsonValue plain(const QString& text);
    /** Why the explicit tag of a node is refused, or nothing. */
    static std::optional<QString> refusedTag(const yaml_event_t& event);
    static int lineOf(const yaml_event_t& event) { return static_cast<int>(event.start_mark.line) + 1; }

    yaml_parser_t m_parser;
    QString m_error;
};

/** One level more of nesting while it lives. */
struct DepthGuard
{
    explicit DepthGuard(int& depth) : m_depth(depth) { ++m_depth; }
    ~DepthGuard() { --m_depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    int& m_depth;
};

/** A parser event that frees itself. */
struct YamlEvent
{
    yaml_event_t event{};
    ~YamlEvent() { yaml_event_delete(&event); }
};

bool YamlReader::next(yaml_event_t& event)
{
    if (yaml_parser_parse(&m_parser, &event))
        return true;
    m_error = lineError(static_cast<int>(m_parser.problem_mark.line) + 1,
                        QStringLiteral("not YAML: ") + QString::fromUtf8(m_parser.problem ? m_parser.problem : ""));
    return false;
}

std::optional<QJsonValue> YamlReader::read(KeyLines& lines, QString& error)
{
    std::optional<QJsonValue> top;
    bool ok = true;
    for (int documents = 0; ok;) {
        YamlEvent e;
        if (!(ok = next(e.event)))
            break;
        if (e.event.type == YAML_STREAM_END_EVENT)
            break;
        if (e.event.type == YAML_DOCUMENT_START_EVENT && ++documents > 1) {
            m_error = lineError(lineOf(e.event), QStringLiteral("a desired state is one YAML document"));
            ok = false;
        } else if (e.event.type == YAML_SCALAR_EVENT || e.event.type == YAML_SEQUENCE_START_EVENT ||
                   e.event.type == YAML_MAPPING_START_EVENT || e.event.type == YAML_ALIAS_EVENT) {
            ok = (top = node(e.event, QString(), lines)).has_value();
        }
    }
    if (!ok) {
        error = m_error;
        return std::nullopt;
    }
    return top ? *top : QJsonValue(QJsonValue::Null);
}

std::optional<QJsonValue> YamlReader::node(yaml_event_t& event, const QString& path, KeyLines& lines)
{
    if ((event.type == YAML_SEQUENCE_START_EVENT || event.type == YAML_MAPPING_START_EVENT) && m_depth >= kMaxDepth) {
        m_error =
            lineError(lineOf(event), QStringLiteral("nested more than %1 deep: not a desired state").arg(kMaxDepth));
        return std::nullopt;
    }
    if (const std::optional<QString> refused = refusedTag(event)) {
        m_error = lineError(lineOf(event), *refused);
        return std::nullopt;
    }
    switch (event.type) {
    case YAML_SCALAR_EVENT:
        return scalar(event);
    case YAML_SEQUENCE_START_EVENT:
        return sequence(path, lines);
    case YAML_MAPPING_START_EVENT:
        return mapping(path, lines);
    default:
        m_error = lineError(lineOf(event), QStringLiteral("anchors and aliases (*name) are not taken: write each "
                                                          "value where it applies"));
        return std::nullopt;
    }
}

std::optional<QJsonValue> YamlReader::mapping(const QString& path, KeyLines& lines)
{
    const DepthGuard guard(m_depth);
    QJsonObject object;
    for (;;) {
        YamlEvent key;
        if (!next(key.event))
            return std::nullopt;
        if (key.event.type == YAML_MAPPING_END_EVENT)
            return object;
        if (key.event.type != YAML_SCALAR_EVENT) {
            m_error = lineError(lineOf(key.event), QStringLiteral("a key is a text (a section, a device or a field)"));
            return std::nullopt;
        }
        // Keys are taken as written: a device's MAC or address, a field's name.
        const QString name = QString::fromUtf8(reinterpret_cast<const char*>(key.event.data.scalar.value),
                                               static_cast<qsizetype>(key.event.data.scalar.length));
        lines.add(path, name, lineOf(key.event));
        YamlEvent value;
        if (!next(value.event))
            return std::nullopt;
        const std::optional<QJsonValue> v = node(value.event, path + kSeparator + name, lines);
        if (!v)
            return std::nullopt;
        object.insert(name, *v);
    }
}

std::optional<QJsonValue> YamlReader::sequence(const QString& path, KeyLines& lines)
{
    const DepthGuard guard(m_depth);
    QJsonArray array;
    for (;;) {
        YamlEvent item;
        if (!next(item.event))
            return std::nullopt;
        if (item.event.type == YAML_SEQUENCE_END_EVENT)
            return array;
        const std::optional<QJsonValue> v =
            node(item.event, path + kSeparator + QStringLiteral("#%1").arg(array.size()), lines);
        if (!v)
            return std::nullopt;
        array.append(*v);
    }
}

std::optional<QString> YamlReader::refusedTag(const yaml_event_t& event)
{
    const yaml_char_t* tag = event.type == YAML_SCALAR_EVENT           ? event.data.scalar.tag
                             : event.type == YAML_SEQUENCE_START_EVENT ? event.data.sequence_start.tag
                             : event.type == YAML_MAPPING_START_EVENT  ? event.data.mapping_start.tag
                                                                       : nullptr;
    if (!tag)
        return std::nullopt;
    // The core schema's tags name what the node is anyway; any other (!!binary, !!timestamp, a local
    // !tag) would ask for a meaning this file cannot give, so it is refused rather than read as text.
    const QString name = QString::fromUtf8(reinterpret_cast<const char*>(tag));
    const QString core = QStringLiteral("tag:yaml.org,2002:");
    const QString kind = name.startsWith(core) ? name.mid(core.size()) : QString();
    const QString shown = name.startsWith(core) ? QStringLiteral("!!") + kind : name;
    const bool fits = event.type == YAML_SEQUENCE_START_EVENT ? kind == QStringLiteral("seq")
                      : event.type == YAML_MAPPING_START_EVENT
                          ? kind == QStringLiteral("map")
                          : QStringList{QStringLiteral("str"), QStringLiteral("int"), QStringLiteral("float"),
                                        QStringLiteral("bool"), QStringLiteral("null")}
                                .contains(kind);
    if (!fits)
        return QStringLiteral("the tag %1 is not taken: a desired state holds texts, numbers, yes or no, lists "
                              "and sections")
            .arg(shown);
    if (event.type != YAML_SCALAR_EVENT || kind == QStringLiteral("str"))
        return std::nullopt;
    const QJsonValue value = plain(QString::fromUtf8(reinterpret_cast<const char*>(event.data.scalar.value),
                                                     static_cast<qsizetype>(event.data.scalar.length)));
    const bool matches = kind == QStringLiteral("bool")   ? value.isBool()
                         : kind == QStringLiteral("null") ? value.isNull()
                         : kind == QStringLiteral("int")  ? value.isDouble() && value.toDouble() == std::trunc(value.toDouble())
                                                          : value.isDouble();
    if (!matches)
        return QStringLiteral("the value is not what its tag %1 says").arg(shown);
    return std::nullopt;
}

QJsonValue YamlReader::scalar(const yaml_event_t& event)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(event.data.scalar.value),
                                           static_cast<qsizetype>(event.data.scalar.length));
    const QString tag = event.data.scalar.tag ? QString::fromUtf8(reinterpret_cast<const char*>(event.data.scalar.tag))
                                              : QString();
    if (tag == QStringLiteral("tag:yaml.org,2002:str"))
        return text;
    // A quoted text is a text, unless a core tag says what it is.
    if (event.data.scalar.style != YAML_PLAIN_SCALAR_STYLE && tag.isEmpty())
        return text;
    return plain(text);
}

QJsonValue YamlReader::plain(const QString& text)
{
    static const QRegularExpression null(QStringLiteral("\\A(|~|null|Null|NULL)\\z"));
    static const QRegularExpression boolean(QStringLiteral("\\A(true|True|TRUE|false|False|FALSE)\\z"));
    static const QRegularExpression integer(QStringLiteral("\\A[-+]?[0-9]+\\z"));
    static const QRegularExpression decimal(
        QStringLiteral("\\A[-+]?(\\.[0-9]+|[0-9]+(\\.[0-9]*)?)([eE][-+]?[0-9]+)?\\z"));
    if (null.match(text).hasMatch())
        return QJsonValue(QJsonValue::Null);
    if (boolean.match(text).hasMatch())
        return text.front().toLower() == u't';
    if (integer.match(text).hasMatch() || decimal.match(text).hasMatch())
        return text.toDouble();
    return text;
}

class Reader
{
public:
    Reader(const QJsonObject& top, const KeyLines& lines) : m_top(top), m_lines(lines) {}
    std::optional<DesiredState> read(QString& error);

private:
    bool readFields(const QJsonObject& object, const QString& path, const QString& prefix, QList<FieldEntry>& out);
    bool readPorts(const QJsonArray& ports, const QString& path, int line, QList<FieldEntry>& out);
    bool readDevice(const QString& name, const QList<FieldEntry>& defaults, DesiredState& state);
    bool fail(int line, const QString& what)
    {
        m_error = lineError(line, what);
        return false;
    }

    const QJsonObject& m_top;
    const KeyLines& m_lines;
    QString m_error;
};

std::optional<DesiredState> Reader::read(QString& error)
{
    DesiredState state;
    QList<FieldEntry> defaults;
    bool ok = true;
    for (const QString& key : m_lines.keys(QString())) {
        if (key != QLatin1String("defaults") && key != QLatin1String("devices"))
            ok = fail(m_lines.line(kSeparator + key),
                      QStringLiteral("%1: not a section of a desired state (the sections are defaults and devices)")
                          .arg(key));
        if (!ok)
            break;
    }
    const QJsonValue devices = m_top.value(QLatin1String("devices"));
    const QString devicesPath = kSeparator + QStringLiteral("devices");
    if (ok && m_top.contains(QLatin1String("defaults"))) {
        const QString path = kSeparator + QStringLiteral("defaults");
        const QJsonValue value = m_top.value(QLatin1String("defaults"));
        ok = value.isObject() ? readFields(value.toObject(), path, QString(), defaults)
                              : fail(m_lines.line(path), QStringLiteral("defaults: an object of fields and values"));
    }
    if (ok && (!devices.isObject() || devices.toObject().isEmpty()))
        ok = fail(m_lines.line(devicesPath),
                  QStringLiteral("devices: an object naming each device (by MAC or IPv4 address) and its fields"));
    for (const QString& name : ok ? m_lines.keys(devicesPath) : QStringList()) {
        if (!(ok = readDevice(name, defaults, state)))
            break;
    }
    if (!ok) {
        error = m_error;
        return std::nullopt;
    }
    return state;
}

bool Reader::readDevice(const QString& name, const QList<FieldEntry>& defaults, DesiredState& state)
{
    const QString path = kSeparator + QStringLiteral("devices") + kSeparator + name;
    const int line = m_lines.line(path);
    const DeviceName device = parseDeviceName(name);
    if (!device.error.isEmpty())
        return fail(line, device.error);
    for (const DesiredDevice& earlier : state.devices) {
        if (earlier.device.mac == device.mac && earlier.device.address == device.address)
            return fail(line, QStringLiteral("%1: the same device as line %2").arg(name).arg(earlier.line));
    }
    const QJsonValue value = m_top.value(QLatin1String("devices")).toObject().value(name);
    QList<FieldEntry> own;
    if (!value.isNull() && !value.isObject())
        return fail(line, QStringLiteral("%1: a device's fields are an object of fields and values").arg(name));
    if (value.isObject() && !readFields(value.toObject(), path, QString(), own))
        return false;
    // The device's own value of a field wins over the default.
    DesiredDevice desired{name, device, line, {}};
    QList<FieldEntry> merged = own;
    for (const FieldEntry& d : defaults) {
        const QString canonical = record_fields::resolve(d.name)->name();
        if (std::none_of(own.cbegin(), own.cend(),
                         [&](const FieldEntry& o) { return record_fields::resolve(o.name)->name() == canonical; }))
            merged.prepend(d);
    }
    for (const FieldEntry& f : merged)
        desired.fields << Change{f.name, f.value};
    state.devices << desired;
    return true;
}

bool Reader::readFields(const QJsonObject& object, const QString& path, const QString& prefix, QList<FieldEntry>& out)
{
    for (const QString& key : m_lines.keys(path)) {
        const QString keyPath = path + kSeparator + key;
        const int line = m_lines.line(keyPath);
        const QString name = prefix + key;
        const QJsonValue value = object.value(key);
        if (value.isObject()) { // "com1": {"baudRate": …}
            if (!readFields(value.toObject(), keyPath, name + QLatin1Char('.'), out))
                return false;
            continue;
        }
        if (value.isArray() && prefix.isEmpty() && key == QLatin1String("ports")) {
            if (!readPorts(value.toArray(), keyPath, line, out))
                return false;
            continue;
        }
        const std::optional<QString> text = valueText(value);
        if (!text)
            return fail(line, QStringLiteral("%1: a value is a text, a number or true/false").arg(name));
        const Change change{name, *text};
        if (const std::optional<QString> refused = checkChanges({change}))
            return fail(line, *refused);
        const QString canonical = record_fields::resolve(name)->name();
        for (const FieldEntry& earlier : std::as_const(out)) {
            if (record_fields::resolve(earlier.name)->name() == canonical)
                return fail(line, QStringLiteral("%1: named twice (line %2 too)").arg(canonical).arg(earlier.line));
        }
        out << FieldEntry{name, *text, line};
    }
    return true;
}

/** "ports": [{…}, …] as read --json shows a device's serial ports: the first is COM1. */
bool Reader::readPorts(const QJsonArray& ports, const QString& path, int line, QList<FieldEntry>& out)
{
    for (qsizetype i = 0; i < ports.size(); ++i) {
        if (!ports.at(i).isObject())
            return fail(line, QStringLiteral("ports: a list of objects, one per serial port"));
        const QString portPath = path + kSeparator + QStringLiteral("#%1").arg(i);
        if (!readFields(ports.at(i).toObject(), portPath, QStringLiteral("com%1.").arg(i + 1), out))
            return false;
    }
    return true;
}

/** parseDesiredState for a YAML text. */
std::optional<DesiredState> parseYaml(const QByteArray& text, QString& error)
{
    KeyLines lines;
    const std::optional<QJsonValue> top = YamlReader(text).read(lines, error);
    if (!top)
        return std::nullopt;
    if (!top->isObject()) {
        error = lineError(1, QStringLiteral("a desired state is one mapping with the sections devices (and "
                                            "defaults)"));
        return std::nullopt;
    }
    if (lines.duplicate()) {
        error = *lines.duplicate();
        return std::nullopt;
    }
    const QJsonObject object = top->toObject();
    return Reader(object, lines).read(error);
}
} // namespace

std::optional<DesiredState> parseDesiredState(const QByteArray& text, QString& error)
{
    // A JSON desired state is one object: its text starts with "{". Any other text is read as YAML.
    if (!text.trimmed().startsWith('{') && !text.trimmed().startsWith('['))
        return parseYaml(text, error);
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        const int line = 1 + static_cast<int>(text.left(parseError.offset).count('\n'));
        error = lineError(line, QStringLiteral("not JSON: ") + parseError.errorString());
        return std::nullopt;
    }
    if (!doc.isObject()) {
        error = lineError(1, QStringLiteral("a desired state is one JSON object with the sections devices (and "
                                            "defaults)"));
        return std::nullopt;
    }
    const KeyLines lines(text);
    if (lines.duplicate()) {
        error = *lines.duplicate();
        return std::nullopt;
    }
    const QJsonObject top = doc.object();
    return Reader(top, lines).read(error);
}
} // namespace device
