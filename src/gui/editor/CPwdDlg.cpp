#include "CPwdDlg.h"

#include "gui/Accessibility.h"
#include "gui/AppIcon.h"
#include "gui/DialogButtons.h"
#include "text/StringTable.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

namespace {
constexpr int kStrSetPassword = 1029;
constexpr int kStrRetype = 1047;
constexpr int kStrCurrent = 1050;
constexpr int kStrNew = 1051;
constexpr int kStrClear = 1052;
constexpr int kKeyClear = 1517;

QLineEdit* maskedField(QWidget* parent, const char* name)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaxLength(CPwdDlg::kPasswordMax);
    edit->setEchoMode(QLineEdit::Password);
    return edit;
}
} // namespace

CPwdDlg::CPwdDlg(const StringTable& strings, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("passwordDialog"));
    setWindowTitle(strings.text(kStrSetPassword));
    setWindowIcon(programIcon());
    m_currentEdit = maskedField(this, "currentPasswordEdit");
    m_newEdit = maskedField(this, "newPasswordEdit");
    m_retypeEdit = maskedField(this, "retypeEdit");
    m_clearCheck = new QCheckBox(this);
    accessibility::setCaption(m_clearCheck, strings, strings.text(kStrClear), kKeyClear);
    m_clearCheck->setObjectName(QStringLiteral("clearCheck"));
    connect(m_clearCheck, &QCheckBox::toggled, this, &CPwdDlg::onClearToggled);
    QDialogButtonBox* buttons = okCancelButtons(this, strings);
    auto* form = new QFormLayout(this);
    form->addRow(strings.text(kStrCurrent), m_currentEdit);
    form->addRow(strings.text(kStrNew), m_newEdit);
    form->addRow(strings.text(kStrRetype), m_retypeEdit);
    form->addRow(m_clearCheck);
    form->addRow(buttons);
}

bool CPwdDlg::ask(const QString& current)
{
    m_current = current.left(kPasswordMax);
    m_currentEdit->setText(m_current);
    m_newEdit->setText(m_new);
    m_retypeEdit->setText(m_retype);
    m_clearCheck->setChecked(m_clear);
    onClearToggled();
    const bool accepted = exec() == QDialog::Accepted;
    m_current = m_currentEdit->text();
    m_new = m_newEdit->text();
    m_retype = m_retypeEdit->text();
    m_clear = m_clearCheck->isChecked();
    return accepted;
}

void CPwdDlg::forgetNewPassword()
{
    m_new.clear();
    m_retype.clear();
}

void CPwdDlg::onClearToggled()
{
    const bool clear = m_clearCheck->isChecked();
    m_newEdit->setEnabled(!clear);
    m_retypeEdit->setEnabled(!clear);
}
