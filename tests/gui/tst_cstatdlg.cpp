// The status report dialog, offscreen: its controls and texts, what a user reads in the fields and the
// text box after each opening, and fields that keep the previous report's text when an item is absent.
#include "GuiTestSupport.h"
#include "gui/status/CStatDlg.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

#include <vector>

namespace {
using Bytes = std::vector<std::uint8_t>;

/** Puts `items` at the start of the dialog's status data, zero behind them, as the editor fills it. */
void fill(CStatDlg& dialog, const Bytes& items)
{
    auto& data = dialog.statusData();
    std::fill(data.begin(), data.end(), std::uint8_t{0});
    std::copy(items.begin(), items.end(), data.begin());
}

/** Opens the dialog the way the editor does (exec) and closes it with OK once it is shown. */
int openAndClose(CStatDlg& dialog)
{
    auto watcher = guitest::whenShown<CStatDlg>([](CStatDlg* shown) {
        QTest::mouseClick(shown->findChild<QPushButton*>(QStringLiteral("okButton")), Qt::LeftButton);
    });
    return dialog.exec();
}

QString fieldText(const CStatDlg& dialog, const char* objectName)
{
    const auto* edit = dialog.findChild<QLineEdit*>(QString::fromLatin1(objectName));
    return edit ? edit->text() : QStringLiteral("<no %1>").arg(QString::fromLatin1(objectName));
}

QPlainTextEdit* textBox(const CStatDlg& dialog)
{
    return dialog.findChild<QPlainTextEdit*>(QStringLiteral("textBox"));
}

// A report as a device sends it: identity, counters, and LAN lines laid out by text items.
const Bytes kFirstReport = {
    1,  6, 1,    5,    2,    20,               // version 1.5C 20MHz
    32, 6, 0x14, 0x6C, 0x89, 0x00,             // uptime 9,006,100
    16, 8, 0x02, 0x11, 0x22, 0x0A, 0xBC, 0xDE, // MAC
    17, 6, 127,  0,    0,    7,                // local IP
    18, 6, 255,  255,  255,  0,                // subnet
    19, 6, 127,  0,    0,    1,                // gateway
    64, 6, 0x10, 0x27, 0,    0,                // COM1 RX 10000
    68, 6, 0xFF, 0xFF, 0xFF, 0xFF,             // COM1 TX 4294967295
    67, 6, 1,    0,    0,    0,                // COM4 RX 1
    70, 6, 0x00, 0x01, 0,    0,                // COM3 TX 256
    2,  7, 'L',  'A',  'N',  '\r', '\n',       // text with a line break
    96, 6, 0xE8, 0x03, 0,    0,                // LAN RX 1000
    97, 6, 0x20, 0x03, 0,    0,                // LAN TX 800, joined to RX
    2,  4, '\r', '\n',                         //
    98, 8, 0x05, 0x00, 0xEE, 0xEE, 0xEE, 0xEE, // two-byte type with a longer L
    2,  4, '\r', '\n',                         //
    3,  2,                                     // separator
};
} // namespace

class TestCStatDlg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void controlsCarryTheirIdsAndKinds_data();
    void controlsCarryTheirIdsAndKinds();
    void titleAndButtonComeFromTheStringTable_data();
    void titleAndButtonComeFromTheStringTable();
    void textBoxIsReadOnlyWithoutWordWrap();
    void openingShowsEveryFieldOfTheReport();
    void textBoxJoinsLanLinesAndTakesLineBreaksFromTextItems();
    void secondReportWithoutGatewayShowsTheGatewayAsMissing();
    void caretSitsAfterTheFirstCharacterAtTheTop();
    void hostileReportShowsWhatCameBeforeTheBadItem();
};

void TestCStatDlg::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
}

void TestCStatDlg::controlsCarryTheirIdsAndKinds_data()
{
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<int>("id");
    const std::pair<const char*, int> controls[] = {
        {"versionEdit", 1176}, {"uptimeEdit", 1166},  {"macEdit", 1177},    {"localIpEdit", 1035},
        {"subnetEdit", 1178},  {"gatewayEdit", 1026}, {"com1RxEdit", 1163}, {"com1TxEdit", 1164},
        {"com2RxEdit", 1167},  {"com2TxEdit", 1169},  {"com3RxEdit", 1170}, {"com3TxEdit", 1172},
        {"com4RxEdit", 1173},  {"com4TxEdit", 1175},  {"textBox", 1080},    {"okButton", 1},
    };
    for (const auto& [name, id] : controls)
        QTest::newRow(name) << QString::fromLatin1(name) << id;
}

void TestCStatDlg::controlsCarryTheirIdsAndKinds()
{
    QFETCH(QString, objectName);
    QFETCH(int, id);
    guitest::Services services;
    CStatDlg dialog(services.context());
    QWidget* control = dialog.findChild<QWidget*>(objectName);
    QVERIFY2(control, qPrintable(objectName));
    QCOMPARE(control->property("controlId").toInt(), id);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        QVERIFY(edit->isReadOnly());
        QVERIFY(objectName.endsWith(QStringLiteral("Edit")));
        // Each field sits in the group, with its fixed English label beside it where it has one.
        QCOMPARE(edit->parentWidget()->objectName(), QStringLiteral("basicStatusGroupBox"));
    }
    QCOMPARE(dialog.property("controlId").toInt(), CStatDlg::kDialogId);
}

void TestCStatDlg::titleAndButtonComeFromTheStringTable_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("ok");
    QTest::newRow("English") << static_cast<int>(UiLanguage::English) << QStringLiteral("Status")
                             << QStringLiteral("&OK");
    QTest::newRow("Korean") << static_cast<int>(UiLanguage::Korean) << QStringLiteral("상태")
                            << QStringLiteral("확인(&O)");
    QTest::newRow("Chinese") << static_cast<int>(UiLanguage::Chinese) << QStringLiteral("状态")
                             << QStringLiteral("确定(&O)");
}

void TestCStatDlg::titleAndButtonComeFromTheStringTable()
{
    QFETCH(int, language);
    QFETCH(QString, title);
    QFETCH(QString, ok);
    guitest::Services services(static_cast<UiLanguage>(language));
    CStatDlg dialog(services.context());
    dialog.decodeReport();
    QCOMPARE(dialog.windowTitle(), title);
    QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("okButton"))->text(), ok);
    // The labels are in the user's language too (in English the report's own short ones); the ports
    // keep their names.
    QStringList labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        labels << label->text();
    for (const char* expected : {"COM1", "COM2", "COM3", "COM4"})
        QVERIFY2(labels.contains(QString::fromLatin1(expected)), expected);
    if (language == static_cast<int>(UiLanguage::English)) {
        QCOMPARE(dialog.findChild<QGroupBox*>()->title(), QStringLiteral("Tessel Basic Status"));
        for (const char* expected : {"Version", "Uptime", "MAC", "Local IP", "Subnet", "Gateway", "RX", "TX"})
            QVERIFY2(labels.contains(QString::fromLatin1(expected)), expected);
    } else {
        QVERIFY(!labels.contains(QStringLiteral("Uptime")) && !labels.contains(QStringLiteral("Gateway")));
    }
}

void TestCStatDlg::textBoxIsReadOnlyWithoutWordWrap()
{
    guitest::Services services;
    CStatDlg dialog(services.context());
    QPlainTextEdit* box = textBox(dialog);
    QVERIFY(box->isReadOnly());
    QCOMPARE(box->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

void TestCStatDlg::openingShowsEveryFieldOfTheReport()
{
    guitest::Services services;
    CStatDlg dialog(services.context());
    fill(dialog, kFirstReport);
    QCOMPARE(openAndClose(dialog), int(QDialog::Accepted));
    QCOMPARE(fieldText(dialog, "versionEdit"), QStringLiteral("Tessel/LAN Rev. 1.5C 20MHz"));
    QCOMPARE(fieldText(dialog, "uptimeEdit"), QStringLiteral("1 days, 01:01:01"));
    QCOMPARE(fieldText(dialog, "macEdit"), QStringLiteral("02:11:22:0a:bc:de"));
    QCOMPARE(fieldText(dialog, "localIpEdit"), QStringLiteral("127.0.0.7"));
    QCOMPARE(fieldText(dialog, "subnetEdit"), QStringLiteral("255.255.255.0"));
    QCOMPARE(fieldText(dialog, "gatewayEdit"), QStringLiteral("127.0.0.1"));
    QCOMPARE(fieldText(dialog, "com1RxEdit"), QStringLiteral("10000"));
    QCOMPARE(fieldText(dialog, "com1TxEdit"), QStringLiteral("4294967295"));
    QCOMPARE(fieldText(dialog, "com3TxEdit"), QStringLiteral("256"));
    QCOMPARE(fieldText(dialog, "com4RxEdit"), QStringLiteral("1"));
    // Ports without an item in the report show as missing.
    QCOMPARE(fieldText(dialog, "com2RxEdit"), QStringLiteral("–"));
    QCOMPARE(fieldText(dialog, "com4TxEdit"), QStringLiteral("–"));
}

void TestCStatDlg::textBoxJoinsLanLinesAndTakesLineBreaksFromTextItems()
{
    guitest::Services services;
    CStatDlg dialog(services.context());
    fill(dialog, kFirstReport);
    openAndClose(dialog);
    const QString expected = QStringLiteral("LAN\nLAN RX packets: 1000LAN TX packets: 800\nLAN CRC errors: 5\n") +
                             QString(40, QLatin1Char('-'));
    QCOMPARE(textBox(dialog)->toPlainText(), expected);
    QCOMPARE(textBox(dialog)->document()->blockCount(), 4);
}

void TestCStatDlg::secondReportWithoutGatewayShowsTheGatewayAsMissing()
{
    guitest::Services services;
    CStatDlg dialog(services.context());
    fill(dialog, kFirstReport);
    openAndClose(dialog);
    // The second report: another address and uptime, no gateway, one text line.
    fill(dialog, {17, 6, 127, 0, 0, 9, 32, 6, 0, 0, 0, 0, 2, 6, 'n', 'e', 'x', 't'});
    openAndClose(dialog);
    // What the report gave shows; what it lacked shows as missing, with a tooltip that says why, never as
    // the first report's value.
    QCOMPARE(fieldText(dialog, "localIpEdit"), QStringLiteral("127.0.0.9"));
    QCOMPARE(fieldText(dialog, "uptimeEdit"), QStringLiteral("0 days, 00:00:00"));
    QCOMPARE(dialog.findChild<QLineEdit*>(QStringLiteral("localIpEdit"))->toolTip(), QString());
    for (const char* missing : {"gatewayEdit", "versionEdit", "macEdit", "com1RxEdit"}) {
        QCOMPARE(fieldText(dialog, missing), QStringLiteral("–"));
        const auto* field = dialog.findChild<QLineEdit*>(QString::fromLatin1(missing));
        QCOMPARE(field->toolTip(), QStringLiteral("Not in the Tessel's last report"));
        QCOMPARE(field->accessibleDescription(), field->toolTip());
    }
    QCOMPARE(dialog.fields()[status::Field::Gateway], QString());
    QCOMPARE(textBox(dialog)->toPlainText(), QStringLiteral("next")); // the text box starts empty each time
    // A device that sent no status data: every field missing, an empty text box.
    fill(dialog, {});
    openAndClose(dialog);
    QCOMPARE(fieldText(dialog, "localIpEdit"), QStringLiteral("–"));
    QCOMPARE(textBox(dialog)->toPlainText(), QString());
}

void TestCStatDlg::caretSitsAfterTheFirstCharacterAtTheTop()
{
    guitest::Services services;
    CStatDlg dialog(services.context());
    Bytes items;
    for (int line = 0; line < 60; ++line)
        items.insert(items.end(), {2, 6, static_cast<std::uint8_t>('a' + line % 26), 'x', '\r', '\n'});
    fill(dialog, items);
    dialog.resize(400, 300);
    dialog.show();
    dialog.decodeReport();
    QPlainTextEdit* box = textBox(dialog);
    QCOMPARE(box->document()->blockCount(), 61);
    QCOMPARE(box->textCursor().position(), 1);
    QVERIFY(box->verticalScrollBar()->maximum() > 0); // more lines than fit
    QCOMPARE(box->verticalScrollBar()->value(), 0);
    dialog.hide();
}

void TestCStatDlg::hostileReportShowsWhatCameBeforeTheBadItem()
{
    guitest::Services services;
    CStatDlg dialog(services.context());
    // A MAC, then an item with L = 1, then a version that must not show. Bytes behind the 1460 (the
    // buffer holds 2048) are not part of the report either.
    fill(dialog, {16, 8, 2, 0x7e, 0x55, 0, 0, 1, 2, 1, 'x', 'y', 1, 6, 9, 9, 9, 9});
    dialog.statusData()[1460] = 1;
    dialog.statusData()[1461] = 6;
    dialog.decodeReport();
    QCOMPARE(fieldText(dialog, "macEdit"), QStringLiteral("02:7e:55:00:00:01"));
    QCOMPARE(fieldText(dialog, "versionEdit"), QStringLiteral("–"));
    QCOMPARE(textBox(dialog)->toPlainText(), QString());
}

QTEST_MAIN(TestCStatDlg)
#include "tst_cstatdlg.moc"
