#pragma once

#include <QAccessibleWidget>

class QToolButton;

/**
 * What a screen reader is told about a tool button: a push button, or, when it carries a menu, a menu
 * button whose open menu is its child. A popup menu is a window of its own that the application's
 * accessible tree leaves out, so without this a reader walking the tree never meets the open menu (the
 * search window's ≡ menu). install() puts this interface in place for every QToolButton of the program.
 */
class AccessibleMenuButton final : public QAccessibleWidget
{
public:
    explicit AccessibleMenuButton(QToolButton* button);

    /** Makes every QToolButton use this interface. Safe to call more than once. */
    static void install();

    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;

private:
    QToolButton* button() const;
    /** The button's menu while it is open; nothing otherwise. */
    QWidget* openMenu() const;
};
