#pragma once

#include "record/EnvRecord.h"

#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;
class StringTable;

/**
 * The password dialog ("Set Password"): the current password, the new one twice, and "Clear" to remove
 * the password. It lives for one change-password flow, so what was typed survives each re-showing after
 * a refused entry. Every box takes at most 8 characters.
 */
class CPwdDlg final : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kPasswordMax = static_cast<int>(EnvRecord::kPasswordMax);

    explicit CPwdDlg(const StringTable& strings, QWidget* parent = nullptr);

    /** Shows the dialog with `current` as the current password; true on OK. The values are read back
     *  into the dialog's members either way. */
    bool ask(const QString& current);

    QString currentPassword() const { return m_current; }
    QString newPassword() const { return m_new; }
    QString retype() const { return m_retype; }
    bool clearTicked() const { return m_clear; }
    /** "Clear" confirmed: the new password is the empty one. */
    void forgetNewPassword();

private:
    void onClearToggled();

    QString m_current;
    QString m_new;
    QString m_retype;
    bool m_clear = false;
    QLineEdit* m_currentEdit = nullptr;
    QLineEdit* m_newEdit = nullptr;
    QLineEdit* m_retypeEdit = nullptr;
    QCheckBox* m_clearCheck = nullptr;
};
