#pragma once

#include <QAccessibleWidget>

class QComboBox;

/**
 * What a screen reader is told about a drop-down list: its name (the accessible name the dialog gave it,
 * "COM3 Baudrate") and, apart from it, its value (the entry chosen, "19200"), with the popup list as its
 * child. Qt's own interface on Linux announces a list by its entry alone, so twenty lists of a form
 * could not be told apart; install() puts this one in its place for every QComboBox of the program.
 */
class AccessibleList final : public QAccessibleWidget
{
public:
    explicit AccessibleList(QComboBox* list);

    /** Makes every QComboBox created from now on use this interface. Safe to call more than once. */
    static void install();

    QString text(QAccessible::Text t) const override;
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;

private:
    QComboBox* list() const;
    /** The text of the label that hands the focus to this list, if one does. */
    QString labelText() const;
};
