#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <span>

class QTextDocument;

/** A run of text with one character format. */
struct RtfRun
{
    QString text;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int halfPoints = 24; // \fsN: font size in half points (12 pt by default)

    bool sameFormat(const RtfRun& other) const
    {
        return bold == other.bold && italic == other.italic && underline == other.underline &&
               halfPoints == other.halfPoints;
    }
};

/** One paragraph: its runs and its alignment. */
struct RtfParagraph
{
    enum Alignment
    {
        Left,
        Center,
        Right,
        Justify,
    };
    QList<RtfRun> runs;
    Alignment alignment = Left;
    int spaceBefore = 0; // \sbN, twips
    int spaceAfter = 0;  // \saN, twips

    QString plainText() const;
};

/**
 * A small reader for the RTF our disclaimer documents use: groups, \par, \line, \tab, \pard, \plain,
 * \b, \i, \ul (and their 0 forms, \ulnone), \fsN, \ql \qc \qr \qj, \sbN \saN, \uN with \ucN fallback skipping,
 * \'hh (Windows-1252), the escaped symbols \\ \{ \} \~ \- \_, the quote and dash words; it skips the
 * \fonttbl, \colortbl, \stylesheet, \info, \pict destinations and every \* destination. Unknown
 * control words are ignored, as RTF readers must.
 */
class RtfReader final
{
public:
    /** Reads a document given as ordered pieces (they are read as one text). */
    static QList<RtfParagraph> parse(std::span<const char* const> pieces);
    static QList<RtfParagraph> parse(const QByteArray& rtf);
    /** Replaces the whole content of `document` with the paragraphs. */
    static void fill(QTextDocument& document, const QList<RtfParagraph>& paragraphs);
};
