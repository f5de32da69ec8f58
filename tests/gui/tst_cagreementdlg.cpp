// The first-run disclaimer: the language list by system language, OK only while the box is ticked,
// the exit question on Cancel, Escape and the close box, and the view back at its first line.
#include "GuiTestSupport.h"

#include "app/CAgreementDlg.h"
#include "app/DisclaimerDocuments.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextEdit>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestCAgreementDlg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void offersKoreanOnlyOnAKoreanSystem_data();
    void offersKoreanOnlyOnAKoreanSystem();
    void mapsEntriesToKoreanEnglishFrench_data();
    void mapsEntriesToKoreanEnglishFrench();
    void enablesOkExactlyWhileTheBoxIsTicked();
    void okEndsTheDialogAccepted();
    void asksBeforeLeaving_data();
    void asksBeforeLeaving();
    void answeringNoKeepsBoxAndLanguage();
    void showsANewLanguageFromItsFirstLine();
    void showsItsTexts();

private:
    QTemporaryDir m_profileDir;
};

namespace {
struct Controls
{
    explicit Controls(CAgreementDlg& d)
        : language(d.findChild<QComboBox*>(QStringLiteral("languageCombo"))),
          view(d.findChild<QTextEdit*>(QStringLiteral("documentView"))),
          accept(d.findChild<QCheckBox*>(QStringLiteral("acceptCheckBox"))),
          ok(d.findChild<QPushButton*>(QStringLiteral("okButton"))),
          cancel(d.findChild<QPushButton*>(QStringLiteral("cancelButton")))
    {
    }
    QComboBox* language;
    QTextEdit* view;
    QCheckBox* accept;
    QPushButton* ok;
    QPushButton* cancel;
};

QStringList entries(const QComboBox* combo)
{
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list << combo->itemText(i);
    return list;
}

const QString kTitle = QStringLiteral("CormapMP v4.1F (2013/06/04)");
} // namespace

void TestCAgreementDlg::initTestCase()
{
    guitest::isolateProfile(m_profileDir);
}

void TestCAgreementDlg::offersKoreanOnlyOnAKoreanSystem_data()
{
    QTest::addColumn<int>("systemLanguage");
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<int>("firstDocument");
    QTest::addColumn<QString>("firstLine");
    const QStringList withoutKorean = {QStringLiteral("English"), QStringLiteral("Franch")};
    QTest::newRow("Korean 0x12") << 0x12 << (QStringList{u"Korean"_s} + withoutKorean) << kDisclaimerKorean
                                 << QStringLiteral("면책 조항");
    QTest::newRow("English 0x09") << 0x09 << withoutKorean << kDisclaimerEnglish
                                  << QStringLiteral("Exemption from Liability");
    QTest::newRow("Chinese 0x04") << 0x04 << withoutKorean << kDisclaimerEnglish
                                  << QStringLiteral("Exemption from Liability");
    QTest::newRow("neutral 0x00") << 0x00 << withoutKorean << kDisclaimerEnglish
                                  << QStringLiteral("Exemption from Liability");
}

void TestCAgreementDlg::offersKoreanOnlyOnAKoreanSystem()
{
    QFETCH(int, systemLanguage);
    QFETCH(QStringList, list);
    QFETCH(int, firstDocument);
    QFETCH(QString, firstLine);
    guitest::Services services(UiLanguage::English, static_cast<std::uint8_t>(systemLanguage));
    CAgreementDlg dialog(services.context());
    Controls c(dialog);
    QCOMPARE(entries(c.language), list);
    QCOMPARE(c.language->currentIndex(), 0);
    QCOMPARE(dialog.documentIndex(), firstDocument);
    QCOMPARE(c.view->document()->firstBlock().text(), firstLine);
    QVERIFY(c.view->isReadOnly());
    QCOMPARE(c.view->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

void TestCAgreementDlg::mapsEntriesToKoreanEnglishFrench_data()
{
    QTest::addColumn<int>("systemLanguage");
    QTest::addColumn<int>("entry");
    QTest::addColumn<int>("document");
    QTest::addColumn<QString>("firstLine");
    QTest::newRow("Korean system, Korean") << 0x12 << 0 << kDisclaimerKorean << QStringLiteral("면책 조항");
    QTest::newRow("Korean system, English")
        << 0x12 << 1 << kDisclaimerEnglish << QStringLiteral("Exemption from Liability");
    QTest::newRow("Korean system, French")
        << 0x12 << 2 << kDisclaimerFrench << QStringLiteral("Exonération de responsabilité");
    QTest::newRow("other system, English")
        << 0x09 << 0 << kDisclaimerEnglish << QStringLiteral("Exemption from Liability");
    QTest::newRow("other system, French")
        << 0x09 << 1 << kDisclaimerFrench << QStringLiteral("Exonération de responsabilité");
}

void TestCAgreementDlg::mapsEntriesToKoreanEnglishFrench()
{
    QFETCH(int, systemLanguage);
    QFETCH(int, entry);
    QFETCH(int, document);
    QFETCH(QString, firstLine);
    guitest::Services services(UiLanguage::English, static_cast<std::uint8_t>(systemLanguage));
    CAgreementDlg dialog(services.context());
    Controls c(dialog);
    c.language->setCurrentIndex(c.language->count() - 1);
    c.language->setCurrentIndex(entry);
    QCOMPARE(dialog.documentIndex(), document);
    QCOMPARE(c.view->document()->firstBlock().text(), firstLine);
}

void TestCAgreementDlg::enablesOkExactlyWhileTheBoxIsTicked()
{
    guitest::Services services;
    CAgreementDlg dialog(services.context());
    Controls c(dialog);
    dialog.show();
    QVERIFY(!c.ok->isEnabled());
    QVERIFY(!c.accept->isChecked());
    for (int i = 0; i < 3; ++i) {
        guitest::clickCheckBox(c.accept);
        QVERIFY(c.accept->isChecked());
        QVERIFY(c.ok->isEnabled());
        guitest::clickCheckBox(c.accept);
        QVERIFY(!c.accept->isChecked());
        QVERIFY(!c.ok->isEnabled());
    }
    QTest::keyClick(&dialog, Qt::Key_Return); // the disabled OK does nothing
    QVERIFY(dialog.isVisible());
}

void TestCAgreementDlg::okEndsTheDialogAccepted()
{
    guitest::Services services;
    CAgreementDlg dialog(services.context());
    Controls c(dialog);
    dialog.show();
    guitest::clickCheckBox(c.accept);
    QTest::mouseClick(c.ok, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.isVisible());
    QVERIFY(services.messages.shown().isEmpty());
}

void TestCAgreementDlg::asksBeforeLeaving_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("answer");
    for (const char* how : {"cancel button", "escape key", "close box"}) {
        QTest::addRow("%s, Yes", how) << QString::fromLatin1(how) << int(QMessageBox::Yes);
        QTest::addRow("%s, No", how) << QString::fromLatin1(how) << int(QMessageBox::No);
    }
}

void TestCAgreementDlg::asksBeforeLeaving()
{
    QFETCH(QString, how);
    QFETCH(int, answer);
    guitest::Services services;
    CAgreementDlg dialog(services.context());
    Controls c(dialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    services.messages.setNextAnswer(QMessageBox::StandardButton(answer));
    if (how == QStringLiteral("cancel button"))
        QTest::mouseClick(c.cancel, Qt::LeftButton);
    else if (how == QStringLiteral("escape key"))
        QTest::keyClick(&dialog, Qt::Key_Escape);
    else
        dialog.close();
    QCOMPARE(services.messages.shown().size(), 1);
    const ShownMessage shown = services.messages.last();
    QCOMPARE(shown.text, QStringLiteral("Are you sure to exit the program?"));
    QCOMPARE(shown.caption, kTitle);
    QCOMPARE(shown.icon, QMessageBox::Warning);
    QCOMPARE(shown.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(dialog.isVisible(), answer == QMessageBox::No);
    if (answer == QMessageBox::Yes)
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void TestCAgreementDlg::answeringNoKeepsBoxAndLanguage()
{
    guitest::Services services(UiLanguage::English, 0x12);
    CAgreementDlg dialog(services.context());
    Controls c(dialog);
    dialog.show();
    c.language->setCurrentIndex(2);
    guitest::clickCheckBox(c.accept);
    services.messages.setNextAnswer(QMessageBox::No);
    QTest::mouseClick(c.cancel, Qt::LeftButton);
    QVERIFY(dialog.isVisible());
    QCOMPARE(c.language->currentIndex(), 2);
    QCOMPARE(dialog.documentIndex(), kDisclaimerFrench);
    QVERIFY(c.accept->isChecked());
    QVERIFY(c.ok->isEnabled());
    // The box keeps its state when the language changes, too.
    c.language->setCurrentIndex(1);
    QVERIFY(c.accept->isChecked());
    QVERIFY(c.ok->isEnabled());
}

void TestCAgreementDlg::showsANewLanguageFromItsFirstLine()
{
    guitest::Services services(UiLanguage::English, 0x12);
    CAgreementDlg dialog(services.context());
    Controls c(dialog);
    dialog.resize(480, 260); // small enough that the documents scroll
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QScrollBar* bar = c.view->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    bar->setValue(bar->maximum());
    QVERIFY(bar->value() > 0);
    c.language->setCurrentIndex(1);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(c.view->document()->firstBlock().text(), QStringLiteral("Exemption from Liability"));
    bar->setValue(bar->maximum());
    c.language->setCurrentIndex(0);
    QCOMPARE(bar->value(), 0);
}

void TestCAgreementDlg::showsItsTexts()
{
    guitest::Services services(UiLanguage::Korean, 0x12);
    CAgreementDlg dialog(services.context());
    Controls c(dialog);
    QCOMPARE(dialog.windowTitle(), kTitle);
    QCOMPARE(c.accept->text(), QStringLiteral("I &accept the terms in the exemption from liability."));
    QCOMPARE(c.ok->text(), QStringLiteral("&OK"));
    QCOMPARE(c.cancel->text(), QStringLiteral("&Cancel"));
    QVERIFY(!c.language->isEditable());
    QVERIFY(!dialog.windowIcon().isNull());
}

QTEST_MAIN(TestCAgreementDlg)
#include "tst_cagreementdlg.moc"
