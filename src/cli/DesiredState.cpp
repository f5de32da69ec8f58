#include "DesiredState.h"

#include "record/RecordFields.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace cli {
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
    explicit KeyLines(const QByteArray& text) { scan(text); }

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
    const QString path = top.path + kSeparator + top.key;
    if (m_lines.contains(path) && !m_duplicate)
        m_duplicate = QStringLiteral("line %1: %2: named twice").arg(line).arg(top.key);
    m_lines.insert(path, line);
    m_keys[top.path] << top.key;
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
} // namespace

std::optional<DesiredState> parseDesiredState(const QByteArray& text, QString& error)
{
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
} // namespace cli
