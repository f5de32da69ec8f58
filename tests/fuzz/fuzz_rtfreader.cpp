// The RTF reader. Checks: runs are never empty and neighbouring runs differ in format; the paragraphs
// read, written out again as RTF (every character escaped, every format stated) and read back, are the
// same; plain text without control characters reads as itself.

#include "FuzzCheck.h"
#include "app/RtfReader.h"

namespace {
QString describe(const QList<RtfParagraph>& paragraphs)
{
    QStringList lines;
    for (const RtfParagraph& p : paragraphs)
        lines << QStringLiteral("[%1 %2 %3] ").arg(p.alignment).arg(p.spaceBefore).arg(p.spaceAfter) + p.plainText();
    return lines.join(QLatin1Char('\n'));
}

/** The paragraphs as RTF this reader takes: each paragraph with its properties, each run in a group of
 *  its own with its format, characters outside printable ASCII as \uN with no fallback. */
QByteArray write(const QList<RtfParagraph>& paragraphs)
{
    static const char* const kAlign[] = {"\\ql", "\\qc", "\\qr", "\\qj"};
    QByteArray out = "{\\rtf1\\ansi\\uc0 ";
    for (const RtfParagraph& p : paragraphs) {
        out += "\\pard" + QByteArray(kAlign[p.alignment]) + "\\sb" + QByteArray::number(p.spaceBefore) + "\\sa" +
               QByteArray::number(p.spaceAfter) + ' ';
        for (const RtfRun& run : p.runs) {
            out += "{\\plain\\b" + QByteArray(run.bold ? "" : "0") + "\\i" + (run.italic ? "" : "0") +
                   (run.underline ? "\\ul" : "\\ulnone") + "\\fs" + QByteArray::number(run.halfPoints) + ' ';
            for (const QChar c : run.text) {
                const char16_t u = c.unicode();
                if (u == '\\' || u == '{' || u == '}')
                    out += '\\' + QByteArray(1, static_cast<char>(u));
                else if (u >= 0x20 && u < 0x7F)
                    out += static_cast<char>(u);
                else
                    out += "\\u" + QByteArray::number(static_cast<int>(u) - (u >= 0x8000 ? 65536 : 0)) + ' ';
            }
            out += '}';
        }
        out += "\\par\n";
    }
    return out + '}';
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray rtf(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QList<RtfParagraph> paragraphs = RtfReader::parse(rtf);
    for (const RtfParagraph& p : paragraphs) {
        for (qsizetype i = 0; i < p.runs.size(); ++i) {
            FUZZ_CHECK(!p.runs[i].text.isEmpty(), describe(paragraphs));
            FUZZ_CHECK(i == 0 || !p.runs[i].sameFormat(p.runs[i - 1]), describe(paragraphs));
            FUZZ_CHECK(p.runs[i].halfPoints > 0, describe(paragraphs));
        }
        FUZZ_CHECK(p.spaceBefore >= 0 && p.spaceAfter >= 0, describe(paragraphs));
    }
    const QByteArray rewritten = write(paragraphs);
    const QList<RtfParagraph> again = RtfReader::parse(rewritten);
    FUZZ_CHECK(again.size() == paragraphs.size(),
               describe(paragraphs) + QStringLiteral("\n--- read back as\n") + describe(again));
    for (qsizetype i = 0; i < again.size(); ++i) {
        const RtfParagraph& a = paragraphs[i];
        const RtfParagraph& b = again[i];
        FUZZ_CHECK(a.alignment == b.alignment && a.spaceBefore == b.spaceBefore && a.spaceAfter == b.spaceAfter,
                   describe(paragraphs) + QStringLiteral("\n--- read back as\n") + describe(again));
        FUZZ_CHECK(a.runs.size() == b.runs.size(),
                   describe(paragraphs) + QStringLiteral("\n--- read back as\n") + describe(again));
        for (qsizetype r = 0; r < a.runs.size(); ++r)
            FUZZ_CHECK(a.runs[r].text == b.runs[r].text && a.runs[r].sameFormat(b.runs[r]),
                       describe(paragraphs) + QStringLiteral("\n--- read back as\n") + describe(again));
    }
    // Text with no backslash, brace or line break reads as its Latin-1 characters, in one paragraph.
    if (!rtf.contains('\\') && !rtf.contains('{') && !rtf.contains('}') && !rtf.contains('\r') && !rtf.contains('\n') &&
        !rtf.isEmpty()) {
        FUZZ_CHECK(paragraphs.size() == 1 && paragraphs[0].plainText() == QString::fromLatin1(rtf),
                   describe(paragraphs));
    }
    return 0;
}
