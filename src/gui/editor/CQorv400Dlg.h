#pragma once

#include "gui/editor/EditorControls.h"
#include "gui/AppContext.h"
#include "device/Exchange.h"
#include "device/GuardedWrite.h"
#include "device/HistoryKeeper.h"
#include "history/SettingsHistory.h"
#include "net/CNetEnv.h"
#include "record/FormValidation.h"
#include "status/StatusSource.h"

#include <QDialog>
#include <QPointer>
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
    bool requestInFlight() const { return m_exchange.running() || m_write.running(); }
    /** The timer of the request under way (a Write's steps included). */
    const QTimer& requestTimer() const { return m_write.running() ? m_write.exchange().timer() : m_exchange.timer(); }
    CNetEnv& endpoint() { return m_endpoint; }
    CMsgDlg& messageWindow() { return *m_messageWindow; }
    CPppoeDlg& accountDialog() { return *m_account; }
    CStatDlg& statusDialog() { return *m_status; }
    CEnvManager& envManager() { return *m_envManager; }

    /** Exit, Escape and the close box ask "Are you sure to exit the program?" first. */
    void reject() override;

    bool requestStatusReading(Reply reply) override;
    void cancelStatusReading() override;

    /** Where the settings in the form came from while they differ from what the device was last read or
     *  written with. */
    enum class FormSource
    {
        History,      // an earlier state loaded from the device's settings history
        SettingsFile, // a settings file imported
        Account,      // the PPPoE or EAPoL account changed in the form
    };
    /** Says `text` on the status line and to a screen reader: as the description of the control that has
     *  the focus (the button pressed), whose change a screen reader announces. */
    void announce(const QString& text);
    /** Says on the status line that the form holds settings from `source` not yet written to the device
     *  (`detail`: the settings file's name). */
    void markFormSource(FormSource source, const QString& detail = {});
    /** Says what a request the device answered did: a Read, a Write or a password change it took. */
    void reportOutcome(int command, bool accepted);

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
    void finishRequest();
    /** Gives the focus back to the control that had it when the request went out. */
    void restoreFocus();
    void complete(int command);
    /** A Write goes through the guarded write of the device layer (EditorWrite.cpp). */
    void startWrite(const EnvRecord& body);
    device::Target target(const EnvRecord& body) const;
    device::Resolution decideConflict(const device::Conflict& conflict);
    void onWriteStep(device::GuardedWrite::Step step, const QString& detail);
    void completeWrite(const device::WriteOutcome& outcome);
    void noteHistoryNotKept(const QString& why);
    void completePasswordChange(bool accepted);
    void reloadFromTable();
    void onAccountButton();
    QString text(int id) const;

    AppContext m_context;
    AdapterBinding m_binding;
    EditorControls m_controls;
    EnvRecord m_shown;
    /** The device's record as the form was last loaded from it (opening, Read, a Write it took): what a
     *  Write compares the device with before it goes out. An import does not change it. */
    EnvRecord m_readRecord;
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
    /** The wait of the editor's own requests (Read, Status, the password change). */
    device::Exchange m_exchange;
    /** What the editor's writes replaced, kept as the command line keeps it. */
    device::HistoryKeeper m_history;
    device::GuardedWrite m_write;
    /** Set while a live reading for the status dialog is under way: its answer goes there alone. */
    Reply m_readingReply;
    /** The control that had the focus when a request went out: it has it again when the request ends. */
    QPointer<QWidget> m_focusBeforeRequest;
    /** The control whose description carries the last announcement. */
    QPointer<QWidget> m_announcedOn;
};
