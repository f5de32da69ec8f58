#pragma once

// How the dialogs name their controls for screen readers and mark their access keys, with the texts
// from the string table.

#include <QString>

class QAbstractButton;
class QAction;
class QWidget;
class StringTable;

namespace accessibility {
/** String of the name of a control in a port's row: "%1 %2", the port and the column ("COM2 Local Port"). */
constexpr int kStrPortField = 1400;

/**
 * Gives `control` the name a screen reader announces for it. A drop-down list keeps its entry as its
 * value (AccessibleList), and its popup marks that entry as selected, so the entry is not lost when
 * the list carries a name of its own.
 */
void name(QWidget* control, const QString& name);

/** "COM2 Local Port": the name of the control of port `port` (0 for COM1) in the column `column`. */
QString portFieldName(const StringTable& strings, int port, const QString& column);

/** `text` with the access key of string `keyId` marked ("&Read", "읽기(&R)"). */
QString withKey(const StringTable& strings, const QString& text, int keyId);
/** Sets a button's (or check box's) caption: `text` with the access key of string `keyId`; a key shown in
 *  parentheses stays out of the name a screen reader says. Captions of buttons go through here only. */
void setCaption(QAbstractButton* button, const StringTable& strings, const QString& text, int keyId);
/** Sets a menu entry's text: `text` with the access key of string `keyId`. */
void setCaption(QAction* action, const StringTable& strings, const QString& text, int keyId);
} // namespace accessibility
