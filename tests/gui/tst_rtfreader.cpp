// The RTF reader behind the disclaimer: the subset our documents use, and the documents themselves.
#include "app/DisclaimerDocuments.h"
#include "app/RtfReader.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestRtfReader : public QObject
{
    Q_OBJECT

private slots:
    void readsParagraphs_data();
    void readsParagraphs();
    void formatsRunsByTheirControlWords();
    void keepsFormatsInsideTheirGroups();
    void readsFontSizesInHalfPoints();
    void readsParagraphAlignment();
    void readsUnicodeEscapesAndSkipsTheirFallback();
    void skipsAsManyFallbackCharactersAsUcSays();
    void readsWindows1252Bytes();
    void fillsATextDocument();
    void readsTheDisclaimerPiecesInOrder_data();
    void readsTheDisclaimerPiecesInOrder();
};

void TestRtfReader::readsParagraphs_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QStringList>("paragraphs");
    QTest::newRow("plain text") << QByteArray("{\\rtf1 Hello}") << QStringList{u"Hello"_s};
    QTest::newRow("two paragraphs") << QByteArray("{\\rtf1 One\\par Two\\par}") << QStringList{u"One"_s, u"Two"_s};
    QTest::newRow("empty paragraph") << QByteArray("{\\rtf1 A\\par\\par B}") << QStringList{u"A"_s, u""_s, u"B"_s};
    QTest::newRow("source line breaks ignored") << QByteArray("{\\rtf1 A\r\nB\nC}") << QStringList{u"ABC"_s};
    QTest::newRow("font table skipped") << QByteArray(
                                               "{\\rtf1\\ansi{\\fonttbl{\\f0\\fswiss Arial;}{\\f1 Gulim;}}\\f0 Text}")
                                        << QStringList{u"Text"_s};
    QTest::newRow("colour table skipped")
        << QByteArray("{\\rtf1{\\colortbl;\\red0\\green0\\blue0;}X}") << QStringList{u"X"_s};
    QTest::newRow("starred destination skipped")
        << QByteArray("{\\rtf1{\\*\\generator Writer 1.0;}{\\*\\unknown {nested} text}Y}") << QStringList{u"Y"_s};
    QTest::newRow("escaped symbols") << QByteArray("{\\rtf1 a\\\\b\\{c\\}d}") << QStringList{u"a\\b{c}d"_s};
    QTest::newRow("unknown words ignored") << QByteArray("{\\rtf1\\viewkind4\\uc1\\lang1033 Z}") << QStringList{u"Z"_s};
    QTest::newRow("quotes and dashes") << QByteArray("{\\rtf1 \\ldblquote x\\rdblquote\\emdash y}")
                                       << QStringList{u"“x”—y"_s};
    QTest::newRow("tab and non-breaking space") << QByteArray("{\\rtf1 a\\tab b\\~c}") << QStringList{u"a\tb\u00A0c"_s};
}

void TestRtfReader::readsParagraphs()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QStringList, paragraphs);
    QStringList texts;
    for (const RtfParagraph& p : RtfReader::parse(rtf))
        texts << p.plainText();
    QCOMPARE(texts, paragraphs);
}

void TestRtfReader::formatsRunsByTheirControlWords()
{
    const QList<RtfParagraph> doc =
        RtfReader::parse(QByteArray("{\\rtf1 n \\b bold\\b0  \\i it\\i0  \\ul u\\ulnone  e}"));
    QCOMPARE(doc.size(), 1);
    const QList<RtfRun>& runs = doc.first().runs;
    QCOMPARE(runs.size(), 7);
    QCOMPARE(runs[0].text, QStringLiteral("n "));
    QVERIFY(!runs[0].bold);
    QCOMPARE(runs[1].text, QStringLiteral("bold"));
    QVERIFY(runs[1].bold && !runs[1].italic);
    QCOMPARE(runs[3].text, QStringLiteral("it"));
    QVERIFY(runs[3].italic && !runs[3].bold);
    QCOMPARE(runs[5].text, QStringLiteral("u"));
    QVERIFY(runs[5].underline);
    QVERIFY(!runs[6].underline && !runs[6].bold && !runs[6].italic);
}

void TestRtfReader::keepsFormatsInsideTheirGroups()
{
    const QList<RtfParagraph> doc = RtfReader::parse(QByteArray("{\\rtf1 a{\\b b{\\i c}d}e\\plain}"));
    const QList<RtfRun>& runs = doc.first().runs;
    QCOMPARE(runs.size(), 5);
    QVERIFY(!runs[0].bold);
    QVERIFY(runs[1].bold && !runs[1].italic);
    QCOMPARE(runs[1].text, QStringLiteral("b"));
    QVERIFY(runs[2].bold && runs[2].italic);
    QCOMPARE(runs[3].text, QStringLiteral("d")); // bold again once the inner group closes
    QVERIFY(runs[3].bold && !runs[3].italic);
    QCOMPARE(runs[4].text, QStringLiteral("e")); // plain once the outer group closes
    QVERIFY(!runs[4].bold);
}

void TestRtfReader::readsFontSizesInHalfPoints()
{
    const QList<RtfParagraph> doc = RtfReader::parse(QByteArray("{\\rtf1 a\\fs32 b\\plain c}"));
    const QList<RtfRun>& runs = doc.first().runs;
    QCOMPARE(runs[0].halfPoints, 24);
    QCOMPARE(runs[1].halfPoints, 32);
    QCOMPARE(runs[2].halfPoints, 24);
}

void TestRtfReader::readsParagraphAlignment()
{
    const QList<RtfParagraph> doc =
        RtfReader::parse(QByteArray("{\\rtf1\\pard\\qc\\sa120 Title\\par\\pard\\qj Body\\par\\pard Left}"));
    QCOMPARE(doc.size(), 3);
    QCOMPARE(doc[0].alignment, RtfParagraph::Center);
    QCOMPARE(doc[0].spaceAfter, 120);
    QCOMPARE(doc[1].alignment, RtfParagraph::Justify);
    QCOMPARE(doc[1].spaceAfter, 0);
    QCOMPARE(doc[2].alignment, RtfParagraph::Left);
}

void TestRtfReader::readsUnicodeEscapesAndSkipsTheirFallback()
{
    // 면 is U+BA74 (47732, written -17804); é is U+00E9.
    const QList<RtfParagraph> doc = RtfReader::parse(QByteArray("{\\rtf1\\uc1 \\u-17804?x \\u233?t\\u233\\'3f}"));
    QCOMPARE(doc.first().plainText(), QStringLiteral("\uBA74x \u00E9t\u00E9"));
}

void TestRtfReader::skipsAsManyFallbackCharactersAsUcSays()
{
    const QList<RtfParagraph> doc =
        RtfReader::parse(QByteArray("{\\rtf1\\uc2 \\u8364 EUa{\\uc0 \\u8364 b}\\u8364??c}"));
    QCOMPARE(doc.first().plainText(), QStringLiteral("€a€b€c"));
}

void TestRtfReader::readsWindows1252Bytes()
{
    const QList<RtfParagraph> doc = RtfReader::parse(QByteArray("{\\rtf1 caf\\'e9 \\'80 \\'93q\\'94}"));
    QCOMPARE(doc.first().plainText(), QStringLiteral("café € “q”"));
}

void TestRtfReader::fillsATextDocument()
{
    QTextDocument document;
    document.setPlainText(QStringLiteral("old content"));
    RtfReader::fill(document,
                    RtfReader::parse(QByteArray("{\\rtf1\\pard\\qc\\fs32\\b Title\\b0\\par\\pard Body \\i x}")));
    QCOMPARE(document.blockCount(), 2);
    const QTextBlock title = document.firstBlock();
    QCOMPARE(title.text(), QStringLiteral("Title"));
    QCOMPARE(title.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    const QTextCharFormat titleFormat = title.begin().fragment().charFormat();
    QCOMPARE(titleFormat.fontWeight(), int(QFont::Bold));
    QCOMPARE(titleFormat.fontPointSize(), 16.0);
    const QTextBlock body = title.next();
    QCOMPARE(body.text(), QStringLiteral("Body x"));
    auto it = body.begin();
    ++it;
    QVERIFY(it.fragment().charFormat().fontItalic());
}

void TestRtfReader::readsTheDisclaimerPiecesInOrder_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("mention");
    QTest::newRow("Korean") << kDisclaimerKorean << QStringLiteral("면책 조항")
                            << QStringLiteral("책임을 지지 않습니다");
    QTest::newRow("English") << kDisclaimerEnglish << QStringLiteral("Exemption from Liability")
                             << QStringLiteral("not liable");
    QTest::newRow("French") << kDisclaimerFrench << QStringLiteral("Exonération de responsabilité")
                            << QStringLiteral("ne sauraient être tenus responsables");
}

void TestRtfReader::readsTheDisclaimerPiecesInOrder()
{
    QFETCH(int, index);
    QFETCH(QString, title);
    QFETCH(QString, mention);
    const std::span<const char* const> pieces = disclaimerDocument(index);
    QVERIFY(pieces.size() > 3);
    QVERIFY(QByteArray(pieces.front()).startsWith("{\\rtf1"));
    for (const char* piece : pieces) { // RTF is 7-bit: everything else is escaped
        for (const char c : QByteArray(piece))
            QVERIFY(static_cast<unsigned char>(c) < 0x80);
    }
    const QList<RtfParagraph> doc = RtfReader::parse(pieces);
    QVERIFY(doc.size() >= 8);
    QCOMPARE(doc.first().plainText(), title);
    QCOMPARE(doc.first().alignment, RtfParagraph::Center);
    QVERIFY(doc.first().runs.first().bold);
    QString all;
    for (const RtfParagraph& p : doc)
        all += p.plainText() + u'\n';
    QVERIFY2(all.contains(mention), qPrintable(all));
    QVERIFY(all.contains(QStringLiteral("CormapMP")));
    QVERIFY(!all.contains(u'?')); // every \uN fallback was skipped
    QVERIFY(!all.contains(u'\\') && !all.contains(u'{'));
}

QTEST_GUILESS_MAIN(TestRtfReader)
#include "tst_rtfreader.moc"
