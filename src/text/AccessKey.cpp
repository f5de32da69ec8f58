#include "AccessKey.h"

namespace {
/** Hangul, Hanzi, kana and the other scripts whose captions take the key in parentheses. */
bool isIdeographicOrHangul(QChar c)
{
    const QChar::Script script = c.script();
    return script == QChar::Script_Hangul || script == QChar::Script_Han || script == QChar::Script_Hiragana ||
           script == QChar::Script_Katakana || script == QChar::Script_Bopomofo;
}

bool takesParentheses(const QString& text)
{
    for (const QChar c : text) {
        if (isIdeographicOrHangul(c))
            return true;
    }
    return false;
}

/** Where the parentheses go: before a trailing ellipsis, colon or the spaces around them. */
qsizetype insertionPoint(const QString& text)
{
    static const QString trailing = QStringLiteral("…:：. ");
    qsizetype end = text.size();
    while (end > 0 && trailing.contains(text.at(end - 1)))
        --end;
    return end;
}

/** Where the key goes in a Latin caption: the first word that starts with it (as written, then in either
 *  case), else its first occurrence (likewise); -1 when the caption lacks it. */
qsizetype letterPosition(const QString& text, QChar key)
{
    const auto startsWord = [&text](qsizetype i) { return i == 0 || !text.at(i - 1).isLetterOrNumber(); };
    for (const Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
        for (qsizetype i = text.indexOf(key, 0, cs); i >= 0; i = text.indexOf(key, i + 1, cs)) {
            if (startsWord(i))
                return i;
        }
    }
    const qsizetype exact = text.indexOf(key);
    return exact >= 0 ? exact : text.indexOf(key, 0, Qt::CaseInsensitive);
}
} // namespace

namespace access_key {
QString mark(const QString& text, QChar key)
{
    QString escaped = text;
    escaped.replace(u'&', QStringLiteral("&&"));
    if (!key.isLetterOrNumber())
        return escaped;
    if (!takesParentheses(text)) {
        const qsizetype at = letterPosition(escaped, key);
        if (at >= 0)
            return escaped.insert(at, u'&');
    }
    const qsizetype at = insertionPoint(escaped);
    return escaped.insert(at, QStringLiteral("(&%1)").arg(key.toUpper()));
}

QString shown(const QString& marked)
{
    QString out;
    out.reserve(marked.size());
    for (qsizetype i = 0; i < marked.size(); ++i) {
        if (marked.at(i) == u'&' && i + 1 < marked.size())
            ++i; // "&x" shows x, "&&" shows "&"
        out += marked.at(i);
    }
    return out;
}

QChar of(const QString& marked)
{
    for (qsizetype i = 0; i + 1 < marked.size(); ++i) {
        if (marked.at(i) != u'&')
            continue;
        if (marked.at(i + 1) != u'&')
            return marked.at(i + 1).toUpper();
        ++i; // a literal "&"
    }
    return {};
}
} // namespace access_key
