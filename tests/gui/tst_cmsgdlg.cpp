// The progress message window: centred over its owner by an integer formula, no close button,
// two lines at most, empty after HideProgress.
#include "gui/CMsgDlg.h"

#include <QLabel>
#include <QtTest>

class TestCMsgDlg : public QObject
{
    Q_OBJECT

private slots:
    void centresOverItsOwnerByIntegerDivision_data();
    void centresOverItsOwnerByIntegerDivision();
    void recentresWhenTheOwnerMovedBetweenRequests();
    void hasATitleBarButNoCloseButton();
    void showsTwoLinesSplitAtCrLf();
    void isEmptyAfterHideProgress();
    void ignoresEscapeAndCloseRequests();
    void isWideEnoughForTheLongestTextsItIsGiven();
};

namespace {
const QString kTitle = QStringLiteral("CormapMP v4.1F (2013/06/04)");
}

void TestCMsgDlg::centresOverItsOwnerByIntegerDivision_data()
{
    QTest::addColumn<QRect>("owner");
    QTest::newRow("even sizes") << QRect(100, 80, 640, 480);
    QTest::newRow("odd sizes") << QRect(37, 51, 501, 333);
    QTest::newRow("owner narrower than the message") << QRect(300, 300, 120, 40);
}

void TestCMsgDlg::centresOverItsOwnerByIntegerDivision()
{
    QFETCH(QRect, owner);
    QWidget ownerWindow;
    ownerWindow.setGeometry(owner);
    ownerWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&ownerWindow));
    CMsgDlg message(&ownerWindow, kTitle);
    message.ShowProgress(QStringLiteral("Searching for the Tessel(s)…"));
    QVERIFY(message.isVisible());
    const QRect o = ownerWindow.frameGeometry();
    const QSize m = message.frameGeometry().size();
    // C integer division truncates towards zero, also for a negative difference.
    const QPoint expected(o.left() + (o.width() - m.width()) / 2, o.top() + (o.height() - m.height()) / 2);
    QCOMPARE(message.frameGeometry().topLeft(), expected);
    QCOMPARE(message.centredPosition(), expected);
}

void TestCMsgDlg::recentresWhenTheOwnerMovedBetweenRequests()
{
    QWidget owner;
    owner.setGeometry(50, 50, 600, 400);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    CMsgDlg message(&owner, kTitle);
    message.ShowProgress(QStringLiteral("first"));
    const QPoint first = message.pos();
    const QPoint ownerBefore = owner.frameGeometry().topLeft();
    message.HideProgress();
    owner.move(250, 170);
    const QPoint shift = owner.frameGeometry().topLeft() - ownerBefore;
    QVERIFY(!shift.isNull());
    QCOMPARE(message.pos(), first); // hidden, it stays where it was
    message.ShowProgress(QStringLiteral("second"));
    QCOMPARE(message.pos(), first + shift);
}

void TestCMsgDlg::hasATitleBarButNoCloseButton()
{
    QWidget owner;
    CMsgDlg message(&owner, kTitle);
    const Qt::WindowFlags flags = message.windowFlags();
    QVERIFY(flags.testFlag(Qt::Dialog));
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(flags.testFlag(Qt::WindowTitleHint));
    QVERIFY(!flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowSystemMenuHint));
    QCOMPARE(message.windowTitle(), kTitle);
    QVERIFY(!message.isModal());
    QVERIFY(!message.isVisible()); // created hidden
}

void TestCMsgDlg::showsTwoLinesSplitAtCrLf()
{
    QWidget owner;
    owner.resize(500, 300);
    owner.show();
    CMsgDlg message(&owner, kTitle);
    message.ShowProgress();
    message.SetProgressText(QStringLiteral("Searching for the Tessel(s)…\r\n3 Tessel(s) found"));
    QCOMPARE(message.text(), QStringLiteral("Searching for the Tessel(s)…\r\n3 Tessel(s) found"));
    auto* label = message.findChild<QLabel*>(QStringLiteral("messageLabel"));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("Searching for the Tessel(s)…\n3 Tessel(s) found"));
    QVERIFY(label->alignment().testFlag(Qt::AlignHCenter));
}

void TestCMsgDlg::isEmptyAfterHideProgress()
{
    QWidget owner;
    owner.show();
    CMsgDlg message(&owner, kTitle);
    message.ShowProgress(QStringLiteral("Sorting....."));
    message.HideProgress();
    QVERIFY(!message.isVisible());
    QVERIFY(message.text().isEmpty());
    message.ShowProgress(); // without a text: an empty window until the owner sets one
    QVERIFY(message.isVisible());
    QVERIFY(message.text().isEmpty());
    QVERIFY(message.findChild<QLabel*>(QStringLiteral("messageLabel"))->text().isEmpty());
}

void TestCMsgDlg::ignoresEscapeAndCloseRequests()
{
    QWidget owner;
    owner.show();
    CMsgDlg message(&owner, kTitle);
    message.ShowProgress(QStringLiteral("busy"));
    QTest::keyClick(&message, Qt::Key_Escape);
    QVERIFY(message.isVisible());
    QVERIFY(!message.close());
    QVERIFY(message.isVisible());
    QCOMPARE(message.text(), QStringLiteral("busy"));
}

void TestCMsgDlg::isWideEnoughForTheLongestTextsItIsGiven()
{
    QWidget owner;
    const QString longest =
        QStringLiteral("Reading the environment variables of the Tessel…\r\nMAC address 02:7e:55:00:00:01");
    CMsgDlg message(&owner, kTitle, {longest});
    auto* label = message.findChild<QLabel*>(QStringLiteral("messageLabel"));
    const QSize needed =
        label->fontMetrics().size(0, QString(longest).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    QVERIFY(message.width() > needed.width());
    QVERIFY(message.height() > needed.height());
    // Never smaller than the dialog's 188 × 41 dialog units.
    QVERIFY(message.width() >= 188 * message.fontMetrics().averageCharWidth() / 4 - 8);
}

QTEST_MAIN(TestCMsgDlg)
#include "tst_cmsgdlg.moc"
