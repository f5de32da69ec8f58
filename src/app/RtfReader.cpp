#include "RtfReader.h"

#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <array>
#include <cctype>

namespace {
constexpr double kTwipsPerPixel = 15.0; // 1440 twips an inch, 96 pixels an inch

/** Windows-1252 0x80..0x9F; the rest of the code page above 0x9F is Latin-1. */
constexpr std::array<char16_t, 32> kCp1252High = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                                  0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

QChar fromCp1252(int byte)
{
    if (byte >= 0x80 && byte < 0xA0)
        return QChar(kCp1252High[static_cast<std::size_t>(byte - 0x80)]);
    return QChar(static_cast<char16_t>(byte));
}

struct State
{
    RtfRun format;
    RtfParagraph paragraph; // the paragraph properties (alignment, spacing); its runs stay empty
    bool skip = false;      // inside a destination that is not text
    int unicodeSkip = 1;
};

class Parser
{
public:
    explicit Parser(const QByteArray& rtf) : m_in(rtf) {}
    QList<RtfParagraph> run();

private:
    void controlWord();
    void controlSymbol(char c);
    void applyWord(const QByteArray& word, bool hasParam, int param);
    bool applyFormatWord(const QByteArray& word, bool hasParam, int param);
    bool applyParagraphWord(const QByteArray& word, int param);
    void takeParagraphProperties();
    void append(QChar c);
    void endParagraph();
    int hexByte();

    const QByteArray& m_in;
    qsizetype m_pos = 0;
    QList<State> m_stack;
    State m_state;
    RtfParagraph m_paragraph;
    QList<RtfParagraph> m_out;
    int m_pendingSkip = 0;          // fallback characters still to drop after a \uN
    bool m_destinationNext = false; // a \* was read: the group is an optional destination
};

QList<RtfParagraph> Parser::run()
{
    while (m_pos < m_in.size()) {
        const char c = m_in.at(m_pos++);
        if (c == '{') {
            m_stack.append(m_state);
        } else if (c == '}') {
            if (!m_stack.isEmpty())
                m_state = m_stack.takeLast();
            m_pendingSkip = 0;
        } else if (c == '\\') {
            controlWord();
        } else if (c == '\r' || c == '\n') {
            continue; // line breaks in the source carry no meaning
        } else if (m_pendingSkip > 0) {
            --m_pendingSkip;
        } else {
            append(QChar(static_cast<char16_t>(static_cast<unsigned char>(c))));
        }
    }
    if (!m_paragraph.runs.isEmpty())
        endParagraph();
    return m_out;
}

void Parser::controlWord()
{
    if (m_pos >= m_in.size())
        return;
    const char first = m_in.at(m_pos);
    if (!std::isalpha(static_cast<unsigned char>(first))) {
        ++m_pos;
        controlSymbol(first);
        return;
    }
    QByteArray word;
    while (m_pos < m_in.size() && std::isalpha(static_cast<unsigned char>(m_in.at(m_pos))))
        word.append(m_in.at(m_pos++));
    bool negative = false;
    if (m_pos < m_in.size() && m_in.at(m_pos) == '-') {
        negative = true;
        ++m_pos;
    }
    bool hasParam = false;
    long long param = 0;
    while (m_pos < m_in.size() && std::isdigit(static_cast<unsigned char>(m_in.at(m_pos)))) {
        hasParam = true;
        param = param * 10 + (m_in.at(m_pos++) - '0');
        if (param > 0x7FFFFFFF)
            param = 0x7FFFFFFF;
    }
    if (m_pos < m_in.size() && m_in.at(m_pos) == ' ')
        ++m_pos; // the delimiting space belongs to the control word
    applyWord(word, hasParam, static_cast<int>(negative ? -param : param));
}

void Parser::controlSymbol(char c)
{
    switch (c) {
    case '*':
        m_destinationNext = true;
        return;
    case '\'': {
        const int byte = hexByte();
        if (m_pendingSkip > 0)
            --m_pendingSkip;
        else if (byte >= 0)
            append(fromCp1252(byte));
        return;
    }
    case '~':
        append(QChar(0x00A0));
        return;
    case '_':
        append(QChar(0x2011));
        return;
    case '-': // optional hyphen: nothing to show
        return;
    case '\r':
    case '\n':
        endParagraph();
        return;
    default: // \\ \{ \} and any other symbol stand for themselves
        append(QChar(static_cast<char16_t>(static_cast<unsigned char>(c))));
    }
}

int Parser::hexByte()
{
    if (m_pos + 2 > m_in.size())
        return -1;
    bool ok = false;
    const int value = m_in.mid(m_pos, 2).toInt(&ok, 16);
    m_pos += 2;
    return ok ? value : -1;
}

void Parser::applyWord(const QByteArray& word, bool hasParam, int param)
{
    static const QList<QByteArray> kSkippedDestinations = {"fonttbl", "colortbl", "stylesheet", "info",
                                                           "pict",    "header",   "footer",     "listtable"};
    if (m_destinationNext || kSkippedDestinations.contains(word)) {
        m_destinationNext = false;
        m_state.skip = true;
        return;
    }
    if (word == "par") {
        endParagraph();
    } else if (word == "line") {
        append(QChar(QChar::LineSeparator));
    } else if (word == "tab") {
        append(u'\t');
    } else if (word == "uc") {
        m_state.unicodeSkip = hasParam ? param : 1;
    } else if (word == "u" && hasParam) {
        append(QChar(static_cast<char16_t>(param < 0 ? param + 65536 : param)));
        m_pendingSkip = m_state.unicodeSkip;
    } else if (!applyFormatWord(word, hasParam, param)) {
        static const QList<std::pair<QByteArray, char16_t>> kSymbols = {
            {"emdash", 0x2014}, {"endash", 0x2013},    {"bullet", 0x2022},   {"lquote", 0x2018},
            {"rquote", 0x2019}, {"ldblquote", 0x201C}, {"rdblquote", 0x201D}};
        for (const auto& [name, symbol] : kSymbols) {
            if (word == name)
                append(QChar(symbol));
        }
    }
}

bool Parser::applyFormatWord(const QByteArray& word, bool hasParam, int param)
{
    const bool on = !hasParam || param != 0;
    RtfRun& f = m_state.format;
    if (word == "b")
        f.bold = on;
    else if (word == "i")
        f.italic = on;
    else if (word == "ul")
        f.underline = on;
    else if (word == "ulnone")
        f.underline = false;
    else if (word == "fs")
        f.halfPoints = hasParam && param > 0 ? param : 24;
    else if (word == "plain")
        f = RtfRun{};
    else
        return applyParagraphWord(word, param);
    return true;
}

bool Parser::applyParagraphWord(const QByteArray& word, int param)
{
    RtfParagraph& p = m_state.paragraph;
    if (word == "pard")
        p = RtfParagraph{};
    else if (word == "ql")
        p.alignment = RtfParagraph::Left;
    else if (word == "qc")
        p.alignment = RtfParagraph::Center;
    else if (word == "qr")
        p.alignment = RtfParagraph::Right;
    else if (word == "qj")
        p.alignment = RtfParagraph::Justify;
    else if (word == "sb")
        p.spaceBefore = qMax(0, param);
    else if (word == "sa")
        p.spaceAfter = qMax(0, param);
    else
        return false;
    return true;
}

void Parser::append(QChar c)
{
    if (m_state.skip)
        return;
    takeParagraphProperties();
    if (m_paragraph.runs.isEmpty() || !m_paragraph.runs.last().sameFormat(m_state.format)) {
        RtfRun run = m_state.format;
        run.text.clear();
        m_paragraph.runs.append(run);
    }
    m_paragraph.runs.last().text.append(c);
}

/** A paragraph takes the properties in force when its text (or its end) is read. */
void Parser::takeParagraphProperties()
{
    m_paragraph.alignment = m_state.paragraph.alignment;
    m_paragraph.spaceBefore = m_state.paragraph.spaceBefore;
    m_paragraph.spaceAfter = m_state.paragraph.spaceAfter;
}

void Parser::endParagraph()
{
    if (m_state.skip)
        return;
    takeParagraphProperties();
    m_out.append(m_paragraph);
    m_paragraph = RtfParagraph{};
}

Qt::Alignment toQt(RtfParagraph::Alignment alignment)
{
    switch (alignment) {
    case RtfParagraph::Center:
        return Qt::AlignHCenter;
    case RtfParagraph::Right:
        return Qt::AlignRight;
    case RtfParagraph::Justify:
        return Qt::AlignJustify;
    default:
        return Qt::AlignLeft;
    }
}
} // namespace

QString RtfParagraph::plainText() const
{
    QString text;
    for (const RtfRun& run : runs)
        text += run.text;
    return text;
}

QList<RtfParagraph> RtfReader::parse(std::span<const char* const> pieces)
{
    QByteArray rtf;
    for (const char* piece : pieces)
        rtf.append(piece);
    return parse(rtf);
}

QList<RtfParagraph> RtfReader::parse(const QByteArray& rtf)
{
    return Parser(rtf).run();
}

void RtfReader::fill(QTextDocument& document, const QList<RtfParagraph>& paragraphs)
{
    document.clear();
    QTextCursor cursor(&document);
    bool first = true;
    for (const RtfParagraph& paragraph : paragraphs) {
        QTextBlockFormat block;
        block.setAlignment(toQt(paragraph.alignment));
        block.setTopMargin(paragraph.spaceBefore / kTwipsPerPixel);
        block.setBottomMargin(paragraph.spaceAfter / kTwipsPerPixel);
        if (first)
            cursor.setBlockFormat(block);
        else
            cursor.insertBlock(block);
        first = false;
        for (const RtfRun& run : paragraph.runs) {
            QTextCharFormat format;
            format.setFontWeight(run.bold ? QFont::Bold : QFont::Normal);
            format.setFontItalic(run.italic);
            format.setFontUnderline(run.underline);
            format.setFontPointSize(run.halfPoints / 2.0);
            cursor.insertText(run.text, format);
        }
    }
}
