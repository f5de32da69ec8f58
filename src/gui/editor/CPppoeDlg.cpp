#include "CPppoeDlg.h"

#include "gui/AppIcon.h"
#include "gui/DialogButtons.h"
#include "gui/MessageService.h"
#include "record/RecordFields.h"
#include "text/StringTable.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

namespace {
constexpr int kStrPassword = 1007;
constexpr int kStrAccount = 1045;
constexpr int kStrId = 1046;
constexpr int kStrRetype = 1047;
constexpr int kStrMismatch = 1049;
constexpr int kStrUnstorable = 1150;

QLineEdit* field(QWidget* parent, const char* name, int maxLength, bool masked)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaxLength(maxLength);
    if (masked)
        edit->setEchoMode(QLineEdit::Password);
    return edit;
}
} // namespace

CPppoeDlg::CPppoeDlg(const StringTable& strings, MessageService& messages, QWidget* parent)
    : QDialog(parent), m_strings(strings), m_messages(messages)
{
    setObjectName(QStringLiteral("accountDialog"));
    setWindowTitle(strings.text(kStrAccount));
    setWindowIcon(programIcon());
    m_userNameEdit = field(this, "userNameEdit", kIdMax, false);
    m_passwordEdit = field(this, "accountPasswordEdit", kPasswordMax, true);
    m_retypeEdit = field(this, "retypeEdit", kPasswordMax, true);
    m_userNameEdit->setMinimumWidth(m_userNameEdit->fontMetrics().horizontalAdvance(QLatin1Char('W')) * 20);
    QDialogButtonBox* buttons = okCancelButtons(this, strings);
    auto* form = new QFormLayout(this);
    form->addRow(strings.text(kStrId), m_userNameEdit);
    form->addRow(strings.text(kStrPassword), m_passwordEdit);
    form->addRow(strings.text(kStrRetype), m_retypeEdit);
    form->addRow(buttons);
}

void CPppoeDlg::setAccount(const QString& userName, const QString& password)
{
    m_userName = userName.left(kIdMax);
    m_password = password.left(kPasswordMax);
}

void CPppoeDlg::showValues()
{
    m_userNameEdit->setText(m_userName);
    m_passwordEdit->setText(m_password);
    m_retypeEdit->setText(m_retype);
}

void CPppoeDlg::storeValues()
{
    m_userName = m_userNameEdit->text();
    m_password = m_passwordEdit->text();
    m_retype = m_retypeEdit->text();
}

void CPppoeDlg::runAccountFlow()
{
    const QString userName = m_userName;
    const QString password = m_password;
    const QString retype = m_retype;
    for (;;) {
        showValues();
        if (exec() != QDialog::Accepted) {
            // Values of a refused OK are not kept: the next write sends what was there before.
            m_userName = userName;
            m_password = password;
            m_retype = retype;
            return;
        }
        storeValues();
        if (refuseUnstorable())
            continue;
        if (m_retype == m_password)
            return;
        m_messages.error(this, m_strings.text(kStrMismatch), m_strings.text(StringTable::kProgramTitle));
    }
}

bool CPppoeDlg::refuseUnstorable()
{
    const struct
    {
        QLineEdit* edit;
        int caption;
    } fields[] = {{m_userNameEdit, kStrId}, {m_passwordEdit, kStrPassword}};
    for (const auto& f : fields) {
        const QString bad = record_fields::unstorableCharacters(f.edit->text());
        if (bad.isEmpty())
            continue;
        m_messages.show(this, m_strings.text(kStrUnstorable).arg(m_strings.text(f.caption), bad),
                        m_strings.text(StringTable::kProgramTitle), QMessageBox::Warning);
        f.edit->setFocus(Qt::OtherFocusReason);
        return true;
    }
    return false;
}
