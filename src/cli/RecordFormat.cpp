#include "RecordFormat.h"

#include "CliArguments.h"
#include "record/RecordFields.h"

#include <QJsonArray>
#include <QList>
#include <QStringList>

#include <algorithm>
#include <array>

namespace cli {
// Ranges the record layout marks as not interpreted, including bytes 2-3 of each port block.
const std::array<ByteSpan, 10> kUninterpretedSpans = {{
    {6, 11},
    {14, 15},
    {120, 151},
    {156, 315},
    {318, 319},
    {342, 343},
    {366, 367},
    {390, 391},
    {412, 507},
    {508, 511},
}};

namespace {
// The comment field, uninterpreted on a device that does not keep a comment.
constexpr ByteSpan kCommentSpan = {EnvRecord::kOffComment, EnvRecord::kOffComment + EnvRecord::kCommentSize - 1};
constexpr int kLabelWidth = 24;
constexpr int kHexBytesPerLine = 32;

using record_fields::deviceText;
using record_fields::Field;
using record_fields::Fields;
using record_fields::portFields;
using record_fields::quoted;
using record_fields::recordFields;
using record_fields::toJson;

void appendText(QString& out, const Fields& fields, int extraIndent)
{
    for (const Field& f : fields) {
        const QString label = QString(2 * (f.indent + extraIndent), QLatin1Char(' ')) + f.name;
        out += label.leftJustified(kLabelWidth - 1) + QLatin1Char(' ') + f.text + QLatin1Char('\n');
    }
}

QString spanKey(const ByteSpan& span)
{
    return QStringLiteral("%1-%2").arg(span.first).arg(span.last);
}

QByteArray spanBytes(const EnvRecord& r, const ByteSpan& span)
{
    return QByteArray(reinterpret_cast<const char*>(r.data() + span.first),
                      static_cast<qsizetype>(span.last - span.first + 1));
}

QString portName(int index)
{
    return QStringLiteral("COM%1").arg(index + 1);
}
} // namespace

QJsonObject recordJson(const EnvRecord& record)
{
    QJsonObject object = toJson(recordFields(record));
    QJsonArray ports;
    for (int i = 0; i < EnvRecord::kPortCount; ++i)
        ports.append(toJson(portFields(record.port(i))));
    object.insert(QStringLiteral("ports"), ports);
    QJsonObject uninterpreted;
    for (const ByteSpan& span : uninterpretedSpans(record))
        uninterpreted.insert(spanKey(span), QString::fromLatin1(spanBytes(record, span).toHex()));
    object.insert(QStringLiteral("uninterpreted"), uninterpreted);
    return object;
}

QString recordText(const EnvRecord& record)
{
    QString out;
    appendText(out, recordFields(record), 0);
    for (int i = 0; i < EnvRecord::kPortCount; ++i) {
        out += QStringLiteral("ports[%1] (%2)\n").arg(i).arg(portName(i));
        appendText(out, portFields(record.port(i)), 0);
    }
    out += QStringLiteral("uninterpreted\n");
    for (const ByteSpan& span : uninterpretedSpans(record)) {
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
    QJsonObject device = {
        {QStringLiteral("mac"), deviceText(record.macText())},
        {QStringLiteral("ipAddress"), dottedAddress(record.ipAddress())},
        {QStringLiteral("productId"), record.productId()},
        {QStringLiteral("productCode"), record.productCode()},
        {QStringLiteral("sourceAddress"), dottedAddress(record.sourceAddress())},
    };
    if (record.commentSupported())
        device.insert(QStringLiteral("comment"), deviceText(record.comment()));
    return device;
}

QString summaryLine(const QString& first, const EnvRecord& record)
{
    const QString line = QStringLiteral("%1  %2  product %3")
                             .arg(first.leftJustified(17), dottedAddress(record.ipAddress()).leftJustified(15),
                                  QString::number(record.productCode()).leftJustified(2));
    if (!record.commentSupported())
        return line.trimmed();
    return line + QStringLiteral("  ") + quoted(deviceText(record.comment()));
}

QList<ByteSpan> uninterpretedSpans(const EnvRecord& record)
{
    QList<ByteSpan> spans(kUninterpretedSpans.begin(), kUninterpretedSpans.end());
    if (!record.commentSupported()) {
        const auto after =
            std::find_if(spans.begin(), spans.end(), [](const ByteSpan& s) { return s.first > kCommentSpan.first; });
        spans.insert(after, kCommentSpan);
    }
    return spans;
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
