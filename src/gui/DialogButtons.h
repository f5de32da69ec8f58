#pragma once

// The OK and Cancel row of the settings editor's side dialogs, with their texts from the string table.

class QDialog;
class QDialogButtonBox;
class StringTable;

/** "OK" (string 177) and "Cancel" as okButton and cancelButton, with their access keys, accepting and
 *  rejecting `dialog`. */
QDialogButtonBox* okCancelButtons(QDialog* dialog, const StringTable& strings);
