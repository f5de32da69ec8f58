#pragma once

#include "history/SettingsHistory.h"

#include <QDialog>

#include <optional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class StringTable;

/**
 * The settings history of one device, opened from the settings editor: every kept write, newest first,
 * with its time, who wrote (the desktop program or a verb of the command line) and the settings it changed
 * by their labels in the form; the chosen entry's changes one per line. "Load the settings before this
 * change" closes it with that entry chosen: the editor shows the kept settings, and nothing is sent until
 * the user writes.
 */
class CHistoryDlg final : public QDialog
{
    Q_OBJECT

public:
    CHistoryDlg(const StringTable& strings, const settings_history::Store& store, const settings_history::Mac& mac,
                QWidget* parent = nullptr);

    /** The entry chosen with Load; nothing after Close. */
    const std::optional<settings_history::Entry>& chosen() const { return m_chosen; }

private:
    void fillList();
    void showChanges();
    void load();
    const settings_history::Entry* current() const;
    /** Who wrote, in words: "desktop program", "command line: write". */
    QString writer(const settings_history::Entry& entry) const;
    /** A field as the settings editor labels it ("COM2 Baudrate"); a name without a label stays as is. */
    QString label(const QString& fieldName) const;

    const StringTable& m_strings;
    QList<settings_history::Entry> m_entries;
    std::optional<settings_history::Entry> m_chosen;
    QTableWidget* m_list = nullptr;
    QPlainTextEdit* m_changes = nullptr;
    QPushButton* m_load = nullptr;
};
