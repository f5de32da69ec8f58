#include "Accessibility.h"

#include "AccessibleList.h"
#include "text/AccessKey.h"
#include "text/StringTable.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QItemSelectionModel>

namespace {
/** The popup of a list marks its chosen entry as selected, so a screen reader finds the value there. */
void selectChosenEntry(QComboBox* list)
{
    QAbstractItemView* view = list->view();
    if (!view || !view->selectionModel())
        return;
    const QModelIndex chosen = list->model()->index(list->currentIndex(), list->modelColumn(), list->rootModelIndex());
    if (chosen.isValid())
        view->selectionModel()->setCurrentIndex(chosen, QItemSelectionModel::ClearAndSelect);
    else
        view->selectionModel()->clearSelection();
}
} // namespace

namespace accessibility {
void name(QWidget* control, const QString& name)
{
    // Installed before the name is set: setting it announces the change, which makes the interface.
    AccessibleList::install();
    control->setAccessibleName(name);
    if (auto* list = qobject_cast<QComboBox*>(control)) {
        selectChosenEntry(list);
        const char* const following = "cormapFollowsChosenEntry";
        if (!list->property(following).toBool()) {
            list->setProperty(following, true);
            QObject::connect(list, &QComboBox::currentIndexChanged, list, [list] { selectChosenEntry(list); });
        }
    }
}

QString portFieldName(const StringTable& strings, int port, const QString& column)
{
    return strings.text(kStrPortField).arg(QStringLiteral("COM%1").arg(port + 1), column);
}

QString withKey(const StringTable& strings, const QString& text, int keyId)
{
    const QString key = strings.text(keyId);
    return access_key::mark(text, key.isEmpty() ? QChar() : key.front());
}

void setCaption(QAbstractButton* button, const StringTable& strings, const QString& text, int keyId)
{
    const QString caption = withKey(strings, text, keyId);
    button->setText(caption);
    // A key in parentheses ("읽기(R)") is the caption's mark, not its words: a screen reader says the
    // words and announces the key apart, as it does for an underlined letter.
    const bool keyApart = access_key::shown(caption) != text;
    button->setAccessibleName(keyApart ? text : QString());
}

void setCaption(QAction* action, const StringTable& strings, const QString& text, int keyId)
{
    action->setText(withKey(strings, text, keyId));
}
} // namespace accessibility
