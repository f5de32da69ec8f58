#pragma once

#include <QAccessibleWidget>

class QComboBox;

/**
 * What a screen reader is told about a drop-down list: its name (the accessible name the dialog gave it,
 * "COM3 Baudrate") and, apart from it, its value (the entry chosen, "19200"), with the popup list as its
 * child. Qt's own interface on Linux announces a list by its entry alone, so twenty lists of a form
 * could not be told apart; install() puts this one in its place for every QComboBox of the program.
 * The entry is also the list's text (read-only), which is what a screen reader on Linux says for a list
 * when it gets the focus: the popup, where the entry is only an item marked selected, is hidden then.
 */
class AccessibleList final : public QAccessibleWidget, public QAccessibleTextInterface
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
    void* interface_cast(QAccessible::InterfaceType t) override;

    // The chosen entry as read-only text.
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

private:
    QComboBox* list() const;
    /** The text of the label that hands the focus to this list, if one does. */
    QString labelText() const;
};
