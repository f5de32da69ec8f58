#pragma once

#include "record/EnvRecord.h"

#include <QDialog>
#include <QString>

class MessageService;
class QLineEdit;
class StringTable;

/**
 * The account dialog ("Account"): the PPPoE or EAPoL user name and password that the settings editor
 * sends with its next write. It lives as long as the editor, so its values persist between openings;
 * showing a record fills the user name and password but never the retype value.
 */
class CPppoeDlg final : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kIdMax = static_cast<int>(EnvRecord::kAccountIdSize);
    static constexpr int kPasswordMax = static_cast<int>(EnvRecord::kAccountPasswordMax);

    CPppoeDlg(const StringTable& strings, MessageService& messages, QWidget* parent = nullptr);

    /** The account flow: shows the dialog until OK with texts a record can hold (Latin-1) and a matching
     *  retype, or Cancel. Cancel leaves the values as they were before the flow, so a refused OK never
     *  reaches the device. */
    void runAccountFlow();

    QString userName() const { return m_userName; }
    QString password() const { return m_password; }
    QString retype() const { return m_retype; }
    /** Set from a shown record; the retype value stays. */
    void setAccount(const QString& userName, const QString& password);

private:
    void showValues();
    void storeValues();
    /** Says which characters of the ID or the password a record cannot hold and puts the focus there;
     *  false when both can be stored. */
    bool refuseUnstorable();

    const StringTable& m_strings;
    MessageService& m_messages;
    QString m_userName;
    QString m_password;
    QString m_retype;
    QLineEdit* m_userNameEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QLineEdit* m_retypeEdit = nullptr;
};
