// The string table: every id the program uses, in English exactly as quoted, with Korean and Chinese
// translations; the language follows the system locale.
#include "text/StringTable.h"

#include <QtTest>

namespace {
/** The access keys of the buttons and menu entries: one letter per row, ids 1500-1599. */
bool isAccessKey(int id)
{
    // 2110-2119: the keys of the settings editor's field labels; 2050-2099 the port terminal's;
    // 1822-1824 the conflict window's.
    return (id >= 1500 && id <= 1599) || (id >= 2110 && id <= 2119) || (id >= 2050 && id <= 2099) ||
           (id >= 1822 && id <= 1824);
}
} // namespace

class TestStringTable : public QObject
{
    Q_OBJECT

private slots:
    void holdsEveryQuotedIdWithTheSpecsEnglishText_data();
    void holdsEveryQuotedIdWithTheSpecsEnglishText();
    void translatesEveryIdIntoKoreanAndChinese();
    void givesEveryAccessKeyAsOneLatinLetter();
    void keepsTheTitleTheSameInEveryLanguage();
    void picksTheLanguageFromTheLocale_data();
    void picksTheLanguageFromTheLocale();
    void numbersKoreanAsPrimaryLanguage0x12();
    void fallsBackToEnglishForAnEmptyTranslation();
    void unescapesLineBreaksAndTabs();
    void answersEmptyForAnUnknownId();
};

void TestStringTable::holdsEveryQuotedIdWithTheSpecsEnglishText_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("english");
    const QList<std::pair<int, const char*>> rows = {
        {102, "CormapMP v4.1F (2013/06/04)"},
        {103, "Windows sockets initialization has failed."},
        {104, "Search Results"},
        {105, "MAC Address"},
        {106, "IP Address"},
        {107, "Search"},
        {108, "Read"},
        {109, "Change Firmware"},
        {110, "Windows Firewall"},
        {111, "Exit"},
        {112, "Status"},
        {117, "Local IP Address"},
        {153, "Change Firmware"},
        {154, "Firmware"},
        {155, "CRC"},
        {156, "Close"},
        {157, "Send"},
        {159, "Downloading has failed.[No firmware]"},
        {160, "Downloading has failed.[File size]"},
        {161, "Downloading has failed.[Timeout]"},
        {162, "Downloading has failed.[Memory error]"},
        {163, "Downloading firmware has been successfully completed."},
        {166,
         "No response from the Tessel(s).\r\nPlease check the LAN cable and the setting of the firewall on your PC."},
        {167, "Writing the environment variables of the Tessel…"},
        {168, "Reading the status of the Tessel…"},
        {169, "Changing the password of the Tessel…"},
        {170, "Reading the environment variables of the Tessel…"},
        {171, "Searching for the Tessel(s)…"},
        {177, "OK"},
        {184, "Select binding IP"},
        {186, "Are you sure to exit the program?"},
        {187, "Product"},
    };
    for (const auto& [id, english] : rows)
        QTest::addRow("%d", id) << id << QString::fromUtf8(english);
}

void TestStringTable::holdsEveryQuotedIdWithTheSpecsEnglishText()
{
    QFETCH(int, id);
    QFETCH(QString, english);
    const StringTable table(UiLanguage::English);
    QCOMPARE(table.text(id), english);
}

void TestStringTable::givesEveryAccessKeyAsOneLatinLetter()
{
    const StringTable table(UiLanguage::English);
    int keys = 0;
    for (const int id : table.ids()) {
        if (!isAccessKey(id))
            continue;
        ++keys;
        for (const UiLanguage language : {UiLanguage::English, UiLanguage::Korean, UiLanguage::Chinese}) {
            const QString key = table.text(id, language);
            QVERIFY2(key.size() == 1 && key.front().isLetterOrNumber() && key.front().unicode() < 0x80,
                     qPrintable(QStringLiteral("id %1: \"%2\"").arg(id).arg(key)));
        }
    }
    QVERIFY(keys >= 20);
}

void TestStringTable::translatesEveryIdIntoKoreanAndChinese()
{
    const StringTable table(UiLanguage::English);
    // The title, "CRC" and the protocol and product names read the same everywhere (Multi IP, EAPoL,
    // Telnet, SSL, TCP/IP, PPPoE ID, EAPoL ID, ID, MD5, U2S - UDP, RTS/CTS, Xon/Xoff).
    // So do the name of a port's field ("%1 %2"), the status report's "MAC" and the access keys (1500
    // and up), which are Latin letters in every table.
    const QList<int> languageNeutral = {102,  155,  1005, 1006, 1010, 1011, 1012, 1027,
                                        1028, 1035, 1039, 1043, 1044, 1046, 1400, 2134};
    QVERIFY(table.ids().size() >= 32);
    for (const int id : table.ids()) {
        const QString english = table.text(id, UiLanguage::English);
        for (const UiLanguage language : {UiLanguage::Korean, UiLanguage::Chinese}) {
            const QString translated = table.text(id, language);
            QVERIFY2(!translated.isEmpty(), qPrintable(QStringLiteral("id %1").arg(id)));
            if (!languageNeutral.contains(id) && !isAccessKey(id))
                QVERIFY2(translated != english, qPrintable(QStringLiteral("id %1 is not translated").arg(id)));
            QCOMPARE(translated.count(QStringLiteral("%1")), english.count(QStringLiteral("%1")));
            QCOMPARE(translated.count(QStringLiteral("\r\n")), english.count(QStringLiteral("\r\n")));
        }
    }
    QVERIFY(table.text(104, UiLanguage::Korean).contains(QStringLiteral("검색")));
    QVERIFY(table.text(104, UiLanguage::Chinese).contains(QStringLiteral("搜索")));
}

void TestStringTable::keepsTheTitleTheSameInEveryLanguage()
{
    for (const UiLanguage language : {UiLanguage::English, UiLanguage::Korean, UiLanguage::Chinese})
        QCOMPARE(StringTable(language).text(StringTable::kProgramTitle), QStringLiteral("CormapMP v4.1F (2013/06/04)"));
}

void TestStringTable::picksTheLanguageFromTheLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("language");
    QTest::newRow("en_US") << "en_US" << int(UiLanguage::English);
    QTest::newRow("ko_KR") << "ko_KR" << int(UiLanguage::Korean);
    QTest::newRow("zh_CN") << "zh_CN" << int(UiLanguage::Chinese);
    QTest::newRow("zh_TW") << "zh_TW" << int(UiLanguage::Chinese);
    QTest::newRow("fr_FR") << "fr_FR" << int(UiLanguage::English);
    QTest::newRow("C") << "C" << int(UiLanguage::English);
}

void TestStringTable::picksTheLanguageFromTheLocale()
{
    QFETCH(QString, locale);
    QFETCH(int, language);
    QCOMPARE(int(StringTable::languageFor(QLocale(locale))), language);
}

void TestStringTable::numbersKoreanAsPrimaryLanguage0x12()
{
    QCOMPARE(primary_language::of(QLocale(QStringLiteral("ko_KR"))), std::uint8_t{0x12});
    QVERIFY(primary_language::of(QLocale(QStringLiteral("en_GB"))) != 0x12);
    QVERIFY(primary_language::of(QLocale(QStringLiteral("zh_CN"))) != 0x12);
}

void TestStringTable::fallsBackToEnglishForAnEmptyTranslation()
{
    const StringTable table = StringTable::fromTsv("id\ten\tko\tzh\n500\tHello\t\t你好\n", UiLanguage::Korean);
    QCOMPARE(table.text(500), QStringLiteral("Hello"));
    QCOMPARE(table.text(500, UiLanguage::Chinese), QStringLiteral("你好"));
}

void TestStringTable::unescapesLineBreaksAndTabs()
{
    const StringTable table = StringTable::fromTsv("# comment\n7\ta\\r\\nb\\tc\\\\d\n", UiLanguage::English);
    QCOMPARE(table.text(7), QStringLiteral("a\r\nb\tc\\d"));
}

void TestStringTable::answersEmptyForAnUnknownId()
{
    QTest::ignoreMessage(QtWarningMsg, "StringTable: no string 158");
    QVERIFY(StringTable(UiLanguage::English).text(158).isEmpty());
}

QTEST_GUILESS_MAIN(TestStringTable)
#include "tst_stringtable.moc"
