#include "DialogButtons.h"

#include "Accessibility.h"
#include "text/StringTable.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>

namespace {
constexpr int kStrOk = 177;
constexpr int kStrCancel = 1048;
constexpr int kKeyOk = 1515;
constexpr int kKeyCancel = 1516;
} // namespace

QDialogButtonBox* okCancelButtons(QDialog* dialog, const StringTable& strings)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->setObjectName(QStringLiteral("buttonBox"));
    accessibility::setCaption(buttons->button(QDialogButtonBox::Ok), strings, strings.text(kStrOk), kKeyOk);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    accessibility::setCaption(buttons->button(QDialogButtonBox::Cancel), strings, strings.text(kStrCancel), kKeyCancel);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}
