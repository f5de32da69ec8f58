#pragma once

#include "config/EditorControls.h"
#include "gui/AppContext.h"
#include "history/SettingsHistory.h"
#include "net/CNetEnv.h"
#include "record/FormValidation.h"
#include "status/StatusSource.h"

#include <QDialog>
#include <QTimer>

#include <memory>

class CEnvManager;
class CMsgDlg;
class CPppoeDlg;
class CStatDlg;

/**
 * The settings editor of one device. It shows the device's record in its controls, keeps the controls
 * consistent with each other, checks the user's changes and talks to the device through an endpoint of
 * its own: Read (command 2), Write (command 3), Status (command 5) and the password change (command 4).
 * Every record it sends starts from the record it showed last, so bytes it does not show return to the
 * device unchanged. While its status dialog shows live traffic, it sends the same status request again
 * for each reading, quietly: no progress window, no message, the form left as it is.
 */
class CQorv400Dlg final : public QDialog, public StatusSource
{
    Q_OBJECT

public:
    /** Addressing modes: broadcast requests naming the device by its MAC, or unicast to an address. */
    static constexpr int kModeLocal = 0;
    static constexpr int kModeRemote = 1;
    static constexpr int kTableLimit = 2;

    /** `record` goes into record 0 of the editor's table and is shown; `remoteAddress` (host order) is
     *  used in remote mode; `binding` is the application's adapter binding. */
    CQorv400Dlg(const AppContext& context, const AdapterBinding& binding, const EnvRecord& record, int mode,
                std::uint32_t remoteAddress, QWidget* parent = nullptr);
    ~CQorv400Dlg() override;

    /** Puts a record into the controls and remembers it as the shown record. */
    void ShowRecord(const EnvRecord& record);
    /** A record built from the shown record and the controls, the typed password unhashed. */
    EnvRecord BuildRecord() const;
    /** Checks the form (showing the first problem), then enables, corrects and refills the controls. */
    void UpdateControlStates();

    const EditorControls& controls() const { return m_controls; }
    const EnvRecord& shownRecord() const { return m_shown; }
    QString confirmedPassword() const { return m_confirmedPassword; }
    bool requestInFlight() const { return m_timer.isActive(); }
    const QTimer& requestTimer() const { return m_timer; }
    CNetEnv& endpoint() { return m_endpoint; }
    CMsgDlg& messageWindow() { return *m_messageWindow; }
    CPppoeDlg& accountDialog() { return *m_account; }
    CStatDlg& statusDialog() { return *m_status; }
    CEnvManager& envManager() { return *m_envManager; }

    /** Exit, Escape and the close box ask "Are you sure to exit the program?" first. */
    void reject() override;

    bool requestStatusReading(Reply reply) override;
    void cancelStatusReading() override;

signals:
    /** The port terminal is open (modal, until it closes): tests drive it from here. */
    void portTestOpened(QDialog* dialog);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectControls();
    void setTitle();
    bool validateForm();
    QString problemMessage(const form::Problem& problem) const;
    void onMultiIpChanged();
    void updateNetworkLists(int& type);
    void updateAddressFields(int type);
    void updatePortRows(const record_fields::Situation& now);
    void onCommentLeft();

    bool openEndpoint();
    void startRequest(int command);
    void sendFrame(int command, int periodMs, int textId, const EnvRecord& body, const QByteArray& extra = {});
    void onPasswordButton();
    void onExport();
    void onHistory();
    void onTestPort();
    void onFileOutcome(int code, int detail);
    void completeImport();
    void onTick();
    /** Ends the request in flight as soon as its answer is in, without waiting for the next tick. */
    void endIfAnswered();
    void finishRequest();
    void complete(int command);
    /** A Write starts with a read of the device (EditorWriteCheck.cpp). */
    void startWriteCheck(const EnvRecord& body);
    void completeWriteCheck();
    void sendWrite();
    void keepHistory(const EnvRecord& before, const EnvRecord& after);
    void settleHistory(bool answered, int result);
    void completePasswordChange(bool accepted);
    void reloadFromTable();
    QString text(int id) const;

    AppContext m_context;
    AdapterBinding m_binding;
    EditorControls m_controls;
    EnvRecord m_shown;
    /** The device's record as the form was last loaded from it (opening, Read, a Write it took): what a
     *  Write compares the device with before it goes out. An import does not change it. */
    EnvRecord m_readRecord;
    bool m_checkingBeforeWrite = false;
    int m_mode;
    int m_lastPort = 0; // the port whose row had the focus last
    std::uint32_t m_remoteAddress;
    QString m_confirmedPassword;
    /** What the Password box held when the last password change went out. */
    QString m_passwordBeforeChange;
    bool m_noPassword = false;
    bool m_loading = false;
    bool m_validating = false;
    CNetEnv m_endpoint;
    std::unique_ptr<CMsgDlg> m_messageWindow;
    CPppoeDlg* m_account = nullptr;
    CStatDlg* m_status = nullptr;
    CEnvManager* m_envManager = nullptr;
    QTimer m_timer;
    int m_tickCount = 0;
    /** What the editor's writes replaced; the entry of the write under way (0: none). */
    settings_history::Store m_history;
    int m_historyEntry = 0;
    bool m_historyNoted = false;
    /** Set while a live reading for the status dialog is under way: its answer goes there alone. */
    Reply m_readingReply;
};
