#pragma once

#include "device/GuardedWrite.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;
class StringTable;

/**
 * The settings editor's question when someone else changed the device since the form was read: each
 * setting that differs, by its form label in the user's language, with the device's value now and the
 * value on screen, the settings both changed marked as such. Three answers: keep their changes to the
 * settings the user did not edit and write the user's (the default), write everything on screen over
 * theirs, or cancel (nothing sent, the edits stay).
 */
class CConflictDlg final : public QDialog
{
    Q_OBJECT

public:
    CConflictDlg(const StringTable& strings, const device::Conflict& conflict, QWidget* parent = nullptr);

    /** Shows the question and waits for the answer; closing the window is Cancel. */
    device::Resolution ask();

    const QTableWidget* fieldTable() const { return m_table; }
    QPushButton* keepTheirsButton() const { return m_keepTheirs; }
    QPushButton* overwriteButton() const { return m_overwrite; }
    QPushButton* cancelButton() const { return m_cancel; }

    /** The label of a setting named as read --json names it, in the user's language ("COM3 Baudrate"). */
    static QString settingLabel(const StringTable& strings, const QString& field);

private:
    void answer(device::Resolution resolution);

    QTableWidget* m_table = nullptr;
    QPushButton* m_keepTheirs = nullptr;
    QPushButton* m_overwrite = nullptr;
    QPushButton* m_cancel = nullptr;
    device::Resolution m_answer = device::Resolution::Cancel;
};
