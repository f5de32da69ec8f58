#pragma once

#include "history/SettingsHistory.h"

#include <QDialog>

#include <optional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class StringTable;

/**
 * The settings history of one device, opened from the settings editor: every kept write, newest first,
 * with its time, the program and verb that wrote and the settings it changed; the chosen entry's changes
 * one per line. "Load into the form" closes it with that entry chosen: the editor shows the kept
 * settings, and nothing is sent until the user writes.
 */
class CHistoryDlg final : public QDialog
{
    Q_OBJECT

public:
    CHistoryDlg(const StringTable& strings, const settings_history::Store& store, const settings_history::Mac& mac,
                QWidget* parent = nullptr);

    /** The entry chosen with "Load into the form"; nothing after Close. */
    const std::optional<settings_history::Entry>& chosen() const { return m_chosen; }

private:
    void fillList();
    void showChanges();
    void load();
    const settings_history::Entry* current() const;

    const StringTable& m_strings;
    QList<settings_history::Entry> m_entries;
    std::optional<settings_history::Entry> m_chosen;
    QTreeWidget* m_list = nullptr;
    QPlainTextEdit* m_changes = nullptr;
    QPushButton* m_load = nullptr;
};
