#include "AccessibleList.h"

#include "text/AccessKey.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>

#include <algorithm>

namespace {
QAccessibleInterface* listFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("QComboBox")) {
        if (auto* list = qobject_cast<QComboBox*>(object))
            return new AccessibleList(list);
    }
    return nullptr;
}
} // namespace

AccessibleList::AccessibleList(QComboBox* list) : QAccessibleWidget(list, QAccessible::ComboBox) {}

void AccessibleList::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(listFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

QString AccessibleList::labelText() const
{
    const QWidget* parent = widget()->parentWidget();
    if (!parent)
        return {};
    for (const QLabel* label : parent->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (label->buddy() == widget())
            return access_key::shown(label->text());
    }
    return {};
}

QComboBox* AccessibleList::list() const
{
    return static_cast<QComboBox*>(widget());
}

QString AccessibleList::text(QAccessible::Text t) const
{
    switch (t) {
    case QAccessible::Name: {
        // The name the dialog gave, else its label's; a list nobody named is known by its entry, as Qt has
        // it (never by the title of the group around it, which names no list).
        if (!widget()->accessibleName().isEmpty())
            return widget()->accessibleName();
        if (const QString label = labelText(); !label.isEmpty())
            return label;
        return list()->currentText();
    }
    case QAccessible::Value:
        return list()->currentText();
    default:
        return QAccessibleWidget::text(t);
    }
}

int AccessibleList::childCount() const
{
    return list()->view() ? 1 : 0;
}

QAccessibleInterface* AccessibleList::child(int index) const
{
    return index == 0 && list()->view() ? QAccessible::queryAccessibleInterface(list()->view()) : nullptr;
}

int AccessibleList::indexOfChild(const QAccessibleInterface* child) const
{
    return child && list()->view() && child->object() == list()->view() ? 0 : -1;
}

QStringList AccessibleList::actionNames() const
{
    return {showMenuAction(), pressAction()};
}

void AccessibleList::doAction(const QString& actionName)
{
    if (actionName == showMenuAction() || actionName == pressAction())
        list()->showPopup();
}

void* AccessibleList::interface_cast(QAccessible::InterfaceType t)
{
    if (t == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
}

void AccessibleList::selection(int, int* startOffset, int* endOffset) const
{
    *startOffset = 0;
    *endOffset = 0;
}

QString AccessibleList::text(int startOffset, int endOffset) const
{
    const QString entry = list()->currentText();
    const int start = std::clamp(startOffset, 0, static_cast<int>(entry.size()));
    const int size = static_cast<int>(entry.size());
    const int end = endOffset < 0 ? size : std::clamp(endOffset, start, size);
    return entry.mid(start, end - start);
}

int AccessibleList::characterCount() const
{
    return static_cast<int>(list()->currentText().size());
}

QRect AccessibleList::characterRect(int) const
{
    return {};
}

int AccessibleList::offsetAtPoint(const QPoint&) const
{
    return -1;
}

QString AccessibleList::attributes(int offset, int* startOffset, int* endOffset) const
{
    *startOffset = offset;
    *endOffset = offset;
    return {};
}
