#include "CAgreementDlg.h"

#include "gui/AppIcon.h"
#include "app/DisclaimerDocuments.h"
#include "gui/MessageService.h"
#include "app/RtfReader.h"
#include "gui/Accessibility.h"
#include "text/StringTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {
const QString kExitQuestion = QStringLiteral("Are you sure to exit the program?");
const QString kLanguage = QStringLiteral("Language");
constexpr int kStrDocumentName = 1408; // what a screen reader calls the document view
// Access keys of the acceptance box, OK and Cancel.
constexpr int kKeyAccept = 1520;
constexpr int kKeyOk = 1515;
constexpr int kKeyCancel = 1516;

bool isKoreanSystem(std::uint8_t language)
{
    return language == primary_language::kKorean;
}
} // namespace

CAgreementDlg::CAgreementDlg(const AppContext& context, QWidget* parent) : QDialog(parent), m_context(context)
{
    setObjectName(QStringLiteral("agreementDialog"));
    buildControls();
    if (isKoreanSystem(m_context.language))
        m_languageCombo->addItem(QStringLiteral("Korean"));
    m_languageCombo->addItem(QStringLiteral("English"));
    m_languageCombo->addItem(QStringLiteral("Franch")); // spelled as the program always has
    m_okButton->setEnabled(false);
    m_languageCombo->setCurrentIndex(0);
    showDocument();
    connect(m_languageCombo, &QComboBox::currentIndexChanged, this, &CAgreementDlg::showDocument);
}

void CAgreementDlg::buildControls()
{
    setWindowTitle(m_context.strings.text(StringTable::kProgramTitle));
    setWindowIcon(programIcon());
    const StringTable& strings = m_context.strings;
    auto* languageLabel = new QLabel(kLanguage, this);
    m_languageCombo = new QComboBox(this);
    m_languageCombo->setObjectName(QStringLiteral("languageCombo"));
    m_languageCombo->setEditable(false);
    languageLabel->setBuddy(m_languageCombo);
    accessibility::name(m_languageCombo, kLanguage);
    m_documentView = new QTextEdit(this);
    m_documentView->setObjectName(QStringLiteral("documentView"));
    m_documentView->setReadOnly(true);
    accessibility::name(m_documentView, strings.text(kStrDocumentName));
    m_documentView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_documentView->setMinimumSize(fontMetrics().averageCharWidth() * 72, fontMetrics().height() * 22);
    m_acceptCheck =
        new QCheckBox(accessibility::withKey(
                          strings, QStringLiteral("I accept the terms in the exemption from liability."), kKeyAccept),
                      this);
    m_acceptCheck->setObjectName(QStringLiteral("acceptCheckBox"));
    auto* buttons = new QDialogButtonBox(this);
    m_okButton =
        buttons->addButton(accessibility::withKey(strings, QStringLiteral("OK"), kKeyOk), QDialogButtonBox::AcceptRole);
    m_okButton->setObjectName(QStringLiteral("okButton"));
    m_cancelButton = buttons->addButton(accessibility::withKey(strings, QStringLiteral("Cancel"), kKeyCancel),
                                        QDialogButtonBox::RejectRole);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));

    auto* languageRow = new QHBoxLayout;
    languageRow->addWidget(languageLabel);
    languageRow->addWidget(m_languageCombo);
    languageRow->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(languageRow);
    layout->addWidget(m_documentView, 1);
    layout->addWidget(m_acceptCheck);
    layout->addWidget(buttons);

    connect(m_acceptCheck, &QCheckBox::toggled, m_okButton, &QPushButton::setEnabled);
    connect(buttons, &QDialogButtonBox::accepted, this, &CAgreementDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CAgreementDlg::reject);
}

void CAgreementDlg::showDocument()
{
    m_documentView->verticalScrollBar()->setValue(0);
    // Without "Korean" in the list, entry 0 is English: the entries always map to 0 Korean, 1 English, 2 French.
    m_documentIndex = m_languageCombo->currentIndex() + (isKoreanSystem(m_context.language) ? 0 : 1);
    RtfReader::fill(*m_documentView->document(), RtfReader::parse(disclaimerDocument(m_documentIndex)));
    m_documentView->moveCursor(QTextCursor::Start);
    m_documentView->verticalScrollBar()->setValue(0);
}

void CAgreementDlg::reject()
{
    const QString title = m_context.strings.text(StringTable::kProgramTitle);
    if (m_context.messages.askYesNo(this, kExitQuestion, title, QMessageBox::Warning))
        QDialog::reject();
}
