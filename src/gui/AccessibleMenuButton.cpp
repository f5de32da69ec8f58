#include "AccessibleMenuButton.h"

#include "text/AccessKey.h"

#include <QMenu>
#include <QToolButton>

namespace {
QAccessibleInterface* menuButtonFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("QToolButton")) {
        if (auto* button = qobject_cast<QToolButton*>(object))
            return new AccessibleMenuButton(button);
    }
    return nullptr;
}
} // namespace

AccessibleMenuButton::AccessibleMenuButton(QToolButton* button) : QAccessibleWidget(button, QAccessible::Button)
{
    addControllingSignal(QStringLiteral("clicked(bool)"));
}

void AccessibleMenuButton::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(menuButtonFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

QToolButton* AccessibleMenuButton::button() const
{
    return static_cast<QToolButton*>(widget());
}

QWidget* AccessibleMenuButton::openMenu() const
{
    QMenu* menu = button()->menu();
    return menu && menu->isVisible() ? menu : nullptr;
}

QAccessible::Role AccessibleMenuButton::role() const
{
    return button()->menu() ? QAccessible::ButtonMenu : QAccessible::Button;
}

QAccessible::State AccessibleMenuButton::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    if (button()->menu()) {
        s.hasPopup = true;
        s.expandable = true;
        s.expanded = openMenu() != nullptr;
        s.collapsed = !s.expanded;
    }
    if (button()->isCheckable())
        s.checkable = true;
    s.checked = button()->isChecked();
    s.pressed = button()->isDown();
    return s;
}

QString AccessibleMenuButton::text(QAccessible::Text t) const
{
    if (t == QAccessible::Name) {
        if (!widget()->accessibleName().isEmpty())
            return widget()->accessibleName();
        if (!button()->text().isEmpty())
            return access_key::shown(button()->text());
        return button()->toolTip();
    }
    if (t == QAccessible::Accelerator) {
        const QChar key = access_key::of(button()->text());
        return key.isNull() ? QString() : QStringLiteral("Alt+") + key;
    }
    return QAccessibleWidget::text(t);
}

int AccessibleMenuButton::childCount() const
{
    return openMenu() ? 1 : 0;
}

QAccessibleInterface* AccessibleMenuButton::child(int index) const
{
    QWidget* menu = openMenu();
    return index == 0 && menu ? QAccessible::queryAccessibleInterface(menu) : nullptr;
}

int AccessibleMenuButton::indexOfChild(const QAccessibleInterface* child) const
{
    QWidget* menu = openMenu();
    return child && menu && child->object() == menu ? 0 : -1;
}

QStringList AccessibleMenuButton::actionNames() const
{
    if (button()->menu())
        return {showMenuAction(), pressAction()};
    return {pressAction()};
}

void AccessibleMenuButton::doAction(const QString& actionName)
{
    if (!widget()->isEnabled())
        return;
    // The menu runs its own loop: opened from the event loop, the reader's request returns at once.
    if (actionName == showMenuAction() || (actionName == pressAction() && button()->menu()))
        QMetaObject::invokeMethod(button(), &QToolButton::showMenu, Qt::QueuedConnection);
    else if (actionName == pressAction())
        button()->animateClick();
}
