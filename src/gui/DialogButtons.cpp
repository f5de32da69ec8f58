#include "DialogButtons.h"

#include "text/StringTable.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>

namespace {
constexpr int kStrOk = 177;
constexpr int kStrCancel = 1048;
} // namespace

QDialogButtonBox* okCancelButtons(QDialog* dialog, const StringTable& strings)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->setObjectName(QStringLiteral("buttonBox"));
    buttons->button(QDialogButtonBox::Ok)->setText(strings.text(kStrOk));
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    buttons->button(QDialogButtonBox::Cancel)->setText(strings.text(kStrCancel));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}
