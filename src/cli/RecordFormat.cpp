#include "RecordFormat.h"

#include "protocol/Ipv4.h"
#include "record/RecordFields.h"

#include <QJsonArray>

namespace cli {
namespace {
using record_fields::Field;
using record_fields::FieldRef;
using record_fields::Id;

constexpr int kLabelWidth = 24;
constexpr int kHexBytesPerLine = 32;

/** The fields `read` shows for `record` (per port or not), in the catalogue's order. */
QList<const Field*> shownFields(const EnvRecord& record, bool perPort)
{
    QList<const Field*> fields;
    for (const Field& f : record_fields::all()) {
        // A device without a field's capability keeps no such field: its bytes are shown as uninterpreted.
        if (f.perPort == perPort && f.shown() && record_fields::kept(f, record))
            fields << &f;
    }
    return fields;
}

QString value(Id id, int port, const EnvRecord& r)
{
    return record_fields::valueText(FieldRef{&record_fields::field(id), port}, r);
}

/** The readable text of a field: its value as `write` shows it, with the parts of a byte spelt out. */
QString readableText(const FieldRef& ref, const EnvRecord& r)
{
    const QString text = record_fields::valueText(ref, r);
    if (ref.field->id == Id::ProductInfo)
        return QStringLiteral("%1 (%2, %3)").arg(text).arg(r.productInfo() >> 4).arg(r.productInfo() & 0x0F);
    if (ref.field->id != Id::SerialFormat)
        return text;
    const QString stopBits = value(Id::StopBits, ref.port, r);
    return QStringLiteral("%1: %2 data bits, %3 stop bit%4, parity %5, flow control %6")
        .arg(text, value(Id::DataBits, ref.port, r), stopBits,
             stopBits == QLatin1String("1") ? QString() : QStringLiteral("s"), value(Id::Parity, ref.port, r),
             value(Id::FlowControl, ref.port, r));
}

QJsonObject fieldsJson(const EnvRecord& r, int port)
{
    QJsonObject object;
    for (const Field* f : shownFields(r, port >= 0))
        object.insert(QLatin1String(f->name), record_fields::jsonValue(FieldRef{f, port}, r));
    return object;
}

void appendText(QString& out, const EnvRecord& r, int port)
{
    for (const Field* f : shownFields(r, port >= 0)) {
        // The option word's bits and a port's fields are indented.
        const int indent = port >= 0 || f->partOf == Id::Flags ? 1 : 0;
        const QString label = QString(2 * indent, QLatin1Char(' ')) + QLatin1String(f->name);
        out += label.leftJustified(kLabelWidth - 1) + QLatin1Char(' ') + readableText(FieldRef{f, port}, r) +
               QLatin1Char('\n');
    }
}

QString spanKey(const record_fields::ByteSpan& span)
{
    return QStringLiteral("%1-%2").arg(span.first).arg(span.last);
}

QByteArray spanBytes(const EnvRecord& r, const record_fields::ByteSpan& span)
{
    return QByteArray(reinterpret_cast<const char*>(r.data() + span.first),
                      static_cast<qsizetype>(span.last - span.first + 1));
}
} // namespace

QJsonObject recordJson(const EnvRecord& record)
{
    QJsonObject object = fieldsJson(record, -1);
    QJsonArray ports;
    for (int i = 0; i < EnvRecord::kPortCount; ++i)
        ports.append(fieldsJson(record, i));
    object.insert(QStringLiteral("ports"), ports);
    QJsonObject uninterpreted;
    for (const record_fields::ByteSpan& span : record_fields::uninterpretedSpans(record))
        uninterpreted.insert(spanKey(span), QString::fromLatin1(spanBytes(record, span).toHex()));
    object.insert(QStringLiteral("uninterpreted"), uninterpreted);
    return object;
}

QString recordText(const EnvRecord& record)
{
    QString out;
    appendText(out, record, -1);
    for (int i = 0; i < EnvRecord::kPortCount; ++i) {
        out += QStringLiteral("ports[%1] (COM%2)\n").arg(i).arg(i + 1);
        appendText(out, record, i);
    }
    out += QStringLiteral("uninterpreted\n");
    for (const record_fields::ByteSpan& span : record_fields::uninterpretedSpans(record)) {
        const QByteArray bytes = spanBytes(record, span);
        for (qsizetype at = 0; at < bytes.size(); at += kHexBytesPerLine) {
            const QString label = at == 0 ? QStringLiteral("  ") + spanKey(span) : QString();
            out += label.leftJustified(kLabelWidth - 1) + QLatin1Char(' ') +
                   QString::fromLatin1(bytes.mid(at, kHexBytesPerLine).toHex()) + QLatin1Char('\n');
        }
    }
    return out;
}

QJsonObject summaryJson(const EnvRecord& record)
{
    QJsonObject device;
    for (const Id id : {Id::Mac, Id::IpAddress, Id::ProductId, Id::ProductCode, Id::SourceAddress})
        device.insert(QLatin1String(record_fields::field(id).name),
                      record_fields::jsonValue(FieldRef{&record_fields::field(id), -1}, record));
    if (record_fields::kept(record_fields::field(Id::Comment), record))
        device.insert(QStringLiteral("comment"), QString::fromLatin1(record.comment()));
    return device;
}

QString summaryLine(const QString& first, const EnvRecord& record)
{
    const QString line = QStringLiteral("%1  %2  product %3")
                             .arg(first.leftJustified(17), ipv4::dotted(record.ipAddress()).leftJustified(15),
                                  QString::number(record.productCode()).leftJustified(2));
    if (!record_fields::kept(record_fields::field(Id::Comment), record))
        return line.trimmed();
    return line + QStringLiteral("  ") + value(Id::Comment, -1, record);
}

QString jsonText(const QJsonDocument& document)
{
    // Control characters can only stand inside JSON strings, where \u escapes mean the same characters;
    // the JSON writer escapes the C0 controls but passes DEL and the C1 controls through.
    const QString text = QString::fromUtf8(document.toJson(QJsonDocument::Indented));
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() >= 0x7F && c.unicode() <= 0x9F)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}
} // namespace cli
