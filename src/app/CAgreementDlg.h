#pragma once

#include "gui/AppContext.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QPushButton;
class QTextEdit;

/**
 * The first-run disclaimer: the exemption from liability in Korean (offered on a Korean
 * system only), English or French, a box to accept it and OK, enabled only while the box is ticked.
 * Cancel, Escape and the close box ask before the dialog ends with Cancel. It stores nothing.
 */
class CAgreementDlg final : public QDialog
{
    Q_OBJECT

public:
    explicit CAgreementDlg(const AppContext& context, QWidget* parent = nullptr);

    /** The document shown: 0 Korean, 1 English, 2 French. */
    int documentIndex() const { return m_documentIndex; }

    /** Cancel, Escape or the close box: asks "Are you sure to exit the program?" first. */
    void reject() override;

private:
    void buildControls();
    void showDocument();

    AppContext m_context;
    QComboBox* m_languageCombo = nullptr;
    QTextEdit* m_documentView = nullptr;
    QCheckBox* m_acceptCheck = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    int m_documentIndex = -1;
};
