// Access keys marked in captions: inline in Latin captions, in parentheses after Hangul and Hanzi ones.
#include "text/AccessKey.h"

#include <QKeySequence>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestAccessKey : public QObject
{
    Q_OBJECT

private slots:
    void marksTheKeyAsTheCaptionsScriptHasIt_data();
    void marksTheKeyAsTheCaptionsScriptHasIt();
    void readsBackTheShownTextAndTheKey_data();
    void readsBackTheShownTextAndTheKey();
};

void TestAccessKey::marksTheKeyAsTheCaptionsScriptHasIt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("marked");
    QTest::newRow("first letter") << u"Read"_s << u"R"_s << u"&Read"_s;
    QTest::newRow("inside a word") << u"Exit"_s << u"X"_s << u"E&xit"_s;
    QTest::newRow("upper case preferred") << u"IP Address Search"_s << u"S"_s << u"IP Address &Search"_s;
    QTest::newRow("first lower case when no upper") << u"Status"_s << u"T"_s << u"S&tatus"_s;
    QTest::newRow("a word's first letter before one inside a word")
        << u"Send broadcasts from all network adapters at once"_s << u"A"_s
        << u"Send broadcasts from &all network adapters at once"_s;
    QTest::newRow("the word that starts with the letter as written")
        << u"Set Password"_s << u"P"_s << u"Set &Password"_s;
    QTest::newRow("lower-case key") << u"Clear"_s << u"l"_s << u"C&lear"_s;
    QTest::newRow("latin caption without the letter") << u"Send"_s << u"X"_s << u"Send(&X)"_s;
    QTest::newRow("hangul") << u"읽기"_s << u"R"_s << u"읽기(&R)"_s;
    QTest::newRow("hanzi") << u"读取"_s << u"R"_s << u"读取(&R)"_s;
    QTest::newRow("hangul with latin letters") << u"IP 주소 검색"_s << u"S"_s << u"IP 주소 검색(&S)"_s;
    QTest::newRow("hangul with the key among them") << u"Multi IP 사용"_s << u"I"_s << u"Multi IP 사용(&I)"_s;
    QTest::newRow("lower-case key shown upper") << u"종료"_s << u"x"_s << u"종료(&X)"_s;
    QTest::newRow("before an ellipsis") << u"목록 저장…"_s << u"S"_s << u"목록 저장(&S)…"_s;
    QTest::newRow("before a colon") << u"제품 : "_s << u"P"_s << u"제품(&P) : "_s;
    QTest::newRow("latin with ellipsis") << u"Save list…"_s << u"S"_s << u"&Save list…"_s;
    QTest::newRow("ampersand kept literal") << u"R&D"_s << u"D"_s << u"R&&&D"_s;
    QTest::newRow("no key") << u"R&D"_s << QString() << u"R&&D"_s;
    QTest::newRow("latin-only text in a korean table") << u"PPPoE ID"_s << u"I"_s << u"PPPoE &ID"_s;
}

void TestAccessKey::marksTheKeyAsTheCaptionsScriptHasIt()
{
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(QString, marked);
    QCOMPARE(access_key::mark(text, key.isEmpty() ? QChar() : key.front()), marked);
}

void TestAccessKey::readsBackTheShownTextAndTheKey_data()
{
    QTest::addColumn<QString>("marked");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("key");
    QTest::newRow("inline") << u"E&xit"_s << u"Exit"_s << u"X"_s;
    QTest::newRow("parentheses") << u"읽기(&R)"_s << u"읽기(R)"_s << u"R"_s;
    QTest::newRow("literal ampersand first") << u"R&&&D"_s << u"R&D"_s << u"D"_s;
    QTest::newRow("none") << u"R&&D"_s << u"R&D"_s << QString();
    QTest::newRow("trailing ampersand") << u"AT&"_s << u"AT&"_s << QString();
}

void TestAccessKey::readsBackTheShownTextAndTheKey()
{
    QFETCH(QString, marked);
    QFETCH(QString, shown);
    QFETCH(QString, key);
    QCOMPARE(access_key::shown(marked), shown);
    const QChar expected = key.isEmpty() ? QChar() : key.front();
    QCOMPARE(access_key::of(marked), expected);
    // Qt reads the same key from the caption, so Alt and the letter press it.
    const QKeySequence mnemonic = QKeySequence::mnemonic(marked);
    QCOMPARE(mnemonic.isEmpty(), key.isEmpty());
    if (!key.isEmpty())
        QCOMPARE(mnemonic, QKeySequence(QKeyCombination(Qt::ALT, Qt::Key(expected.unicode()))));
}

QTEST_GUILESS_MAIN(TestAccessKey)
#include "tst_accesskey.moc"
