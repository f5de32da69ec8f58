// Start-up: the socket layer, the disclaimer until accepted once ("SETTINGS"/"AGREEMENT"
// 0, 1, anything else) and the search window as the one main window. The profile is redirected into
// a temporary directory.
#include "GuiTestSupport.h"

#include "app/CAgreementDlg.h"
#include "app/CQorvApp.h"
#include "app/CQorvDlg.h"

#include <QCheckBox>
#include <QPushButton>
#include <QtTest>

class TestCQorvApp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void followsTheStoredAgreement_data();
    void followsTheStoredAgreement();
    void usesTheVarkonSystemsProfile();
    void endsWithTheSocketMessageWhenSocketsAreMissing();

private:
    QTemporaryDir m_profileDir;
};

void TestCQorvApp::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
}

void TestCQorvApp::init()
{
    UserProfile().settings().clear();
}

void TestCQorvApp::followsTheStoredAgreement_data()
{
    QTest::addColumn<QVariant>("stored");          // invalid: nothing stored
    QTest::addColumn<QString>("disclaimerAction"); // "accept", "decline" or "" (must not appear)
    QTest::addColumn<bool>("searchWindowShown");
    QTest::addColumn<int>("agreementAfter");
    QTest::newRow("first start, accepted") << QVariant() << "accept" << true << 1;
    QTest::newRow("0, accepted") << QVariant(0) << "accept" << true << 1;
    QTest::newRow("0, declined") << QVariant(0) << "decline" << false << 0;
    QTest::newRow("1: straight to the search window") << QVariant(1) << "" << true << 1;
    QTest::newRow("2: ends at once, showing nothing") << QVariant(2) << "" << false << 2;
    QTest::newRow("-1: ends at once") << QVariant(-1) << "" << false << -1;
}

void TestCQorvApp::followsTheStoredAgreement()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, disclaimerAction);
    QFETCH(bool, searchWindowShown);
    QFETCH(int, agreementAfter);
    guitest::Services services;
    if (stored.isValid())
        services.profile.setAgreement(stored.toInt());

    bool disclaimerSeen = false;
    const auto disclaimerWatch = guitest::whenShown<CAgreementDlg>([&](CAgreementDlg* dialog) {
        disclaimerSeen = true;
        if (disclaimerAction == QStringLiteral("accept")) {
            guitest::clickCheckBox(dialog->findChild<QCheckBox*>(QStringLiteral("acceptCheckBox")));
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("okButton")), Qt::LeftButton);
        } else {
            services.messages.setNextAnswer(QMessageBox::Yes); // "Are you sure to exit the program?"
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cancelButton")), Qt::LeftButton);
        }
    });
    bool searchWindowSeen = false;
    const auto searchWindowWatch = guitest::whenShown<CQorvDlg>([&](CQorvDlg* window) {
        searchWindowSeen = true;
        QCOMPARE(QApplication::activeModalWidget(), window);
        services.messages.setNextAnswer(QMessageBox::Yes);
        QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("exitButton")), Qt::LeftButton);
    });

    CQorvApp app(services.context());
    QCOMPARE(app.run(), 0);
    QCOMPARE(disclaimerSeen, !disclaimerAction.isEmpty());
    QCOMPARE(searchWindowSeen, searchWindowShown);
    QCOMPARE(UserProfile().agreement(), agreementAfter);
    if (!searchWindowShown && disclaimerAction.isEmpty())
        QVERIFY(services.messages.shown().isEmpty());
}

void TestCQorvApp::usesTheVarkonSystemsProfile()
{
    UserProfile profile;
    profile.setAgreement(1);
    QCOMPARE(profile.settings().organizationName(), QStringLiteral("VarkonSystems"));
    QCOMPARE(profile.settings().applicationName(), QStringLiteral("CormapMP"));
    QVERIFY(profile.settings().fileName().startsWith(m_profileDir.path()));
    QSettings raw(QStringLiteral("VarkonSystems"), QStringLiteral("CormapMP"));
    QCOMPARE(raw.value(QStringLiteral("SETTINGS/AGREEMENT")).toInt(), 1);
}

void TestCQorvApp::endsWithTheSocketMessageWhenSocketsAreMissing()
{
    guitest::Services services;
    services.profile.setAgreement(1);
    bool anyWindow = false;
    const auto watch = guitest::whenShown<QDialog>([&](QDialog*) { anyWindow = true; });
    CQorvApp app(services.context(), {}, [] { return false; });
    QVERIFY(app.run() != 0);
    QCOMPARE(services.messages.shown().size(), 1);
    const ShownMessage shown = services.messages.last();
    QCOMPARE(shown.text, QStringLiteral("Windows sockets initialization has failed."));
    QCOMPARE(shown.caption, QStringLiteral("CormapMP"));
    QCOMPARE(shown.icon, QMessageBox::Critical);
    QCOMPARE(shown.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QTest::qWait(350);
    QVERIFY(!anyWindow);
    QVERIFY(CQorvApp::socketLayerAvailable());
}

QTEST_MAIN(TestCQorvApp)
#include "tst_cqorvapp.moc"
