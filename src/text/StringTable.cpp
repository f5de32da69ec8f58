#include "StringTable.h"

#include <QFile>
#include <QtDebug>

#include <algorithm>

namespace {
const QString kResourcePath = QStringLiteral(":/cormap/strings.tsv");

/** Undoes the cell escapes \r \n \t and \\. */
QString unescape(const QString& cell)
{
    QString out;
    out.reserve(cell.size());
    for (qsizetype i = 0; i < cell.size(); ++i) {
        const QChar c = cell.at(i);
        if (c != u'\\' || i + 1 == cell.size()) {
            out.append(c);
            continue;
        }
        const QChar next = cell.at(++i);
        if (next == u'r')
            out.append(u'\r');
        else if (next == u'n')
            out.append(u'\n');
        else if (next == u't')
            out.append(u'\t');
        else
            out.append(next);
    }
    return out;
}
} // namespace

std::uint8_t primary_language::of(const QLocale& locale)
{
    switch (locale.language()) {
    case QLocale::Korean:
        return kKorean;
    case QLocale::Chinese:
        return kChinese;
    case QLocale::English:
        return kEnglish;
    case QLocale::French:
        return kFrench;
    default:
        return kNeutral;
    }
}

StringTable::StringTable(UiLanguage language) : m_language(language)
{
    QFile file(kResourcePath);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("StringTable: the compiled-in string table is missing");
        return;
    }
    parse(file.readAll());
}

StringTable StringTable::fromTsv(QByteArrayView tsv, UiLanguage language)
{
    StringTable table{Empty{}};
    table.m_language = language;
    table.parse(tsv);
    return table;
}

UiLanguage StringTable::languageFor(const QLocale& locale)
{
    switch (locale.language()) {
    case QLocale::Korean:
        return UiLanguage::Korean;
    case QLocale::Chinese:
        return UiLanguage::Chinese;
    default:
        return UiLanguage::English;
    }
}

void StringTable::parse(QByteArrayView tsv)
{
    const QStringList lines = QString::fromUtf8(tsv).split(u'\n');
    for (QString line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const QStringList cells = line.split(u'\t');
        bool ok = false;
        const int id = cells.at(0).toInt(&ok);
        if (!ok) // the header row
            continue;
        std::array<QString, 3> texts;
        for (int column = 0; column < 3; ++column)
            texts[column] = column + 1 < cells.size() ? unescape(cells.at(column + 1)) : QString();
        m_rows.insert(id, texts);
    }
}

QString StringTable::text(int id) const
{
    return text(id, m_language);
}

QString StringTable::text(int id, UiLanguage language) const
{
    const auto row = m_rows.constFind(id);
    if (row == m_rows.cend()) {
        qWarning("StringTable: no string %d", id);
        return {};
    }
    const QString& translated = (*row)[static_cast<int>(language)];
    return translated.isEmpty() ? (*row)[0] : translated;
}

QList<int> StringTable::ids() const
{
    QList<int> ids = m_rows.keys();
    std::sort(ids.begin(), ids.end());
    return ids;
}
