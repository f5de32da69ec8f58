#include "SearchList.h"

#include "net/CNetEnv.h"
#include "record/RecordFields.h"

#include <QStringList>

namespace search_list {
namespace {
const QString kLineEnd = QStringLiteral("\r\n");

QString dotted(std::uint32_t address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF);
}

bool isControl(char16_t u)
{
    return u < 0x20 || (u >= 0x7F && u <= 0x9F);
}
} // namespace

QString headerRow()
{
    return QStringLiteral("MAC,IP address,Product,Comment,Source address,Adapter");
}

QString deviceText(const std::string& bytes)
{
    const QString latin1 = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QString out;
    out.reserve(latin1.size());
    for (const QChar c : latin1) {
        if (isControl(c.unicode()))
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString field(const QString& text)
{
    const bool quote = text.contains(u',') || text.contains(u'"') || text.contains(u'\r') || text.contains(u'\n') ||
                       text.startsWith(u' ') || text.endsWith(u' ');
    if (!quote)
        return text;
    QString doubled = text;
    doubled.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + doubled + u'"';
}

/** The device's comment, empty for a device that keeps none. */
QString comment(const EnvRecord& record)
{
    return record_fields::kept(record_fields::field(record_fields::Id::Comment), record) ? deviceText(record.comment())
                                                                                         : QString();
}

QString row(const EnvRecord& record, const QString& adapter)
{
    const QStringList fields = {
        QString::fromStdString(record.macText()), dotted(record.ipAddress()),
        QString::number(record.productCode()),    comment(record),
        dotted(record.sourceAddress()),           adapter,
    };
    QStringList written;
    for (const QString& f : fields)
        written << field(f);
    return written.join(u',');
}

QByteArray csv(const CNetEnv& env)
{
    QString text = headerRow() + kLineEnd;
    for (int i = 0; i < env.count(); ++i)
        text += row(env.record(i), env.heardOn(env.record(i))) + kLineEnd;
    return text.toUtf8();
}
} // namespace search_list
