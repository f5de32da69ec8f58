#pragma once

#include "gui/AppContext.h"
#include "device/Exchange.h"
#include "net/CNetEnv.h"

#include <QDialog>
#include <QTimer>

#include <functional>
#include <memory>

class CMsgDlg;
class Ipv4AddressEdit;
class QAction;
class QLabel;
class QListWidget;
class QPushButton;
class QRadioButton;
class QToolButton;

/**
 * Where the search window hands over to the tools of later Parts. Read's completion gives the settings
 * editor the reply's record, the mode and the remote address; "Change Firmware" gives the
 * firmware dialog the product code and the target address. Addresses are host-order
 * numbers. An empty hook shows an information note instead.
 */
struct SearchHooks
{
    std::function<void(QWidget* owner, const EnvRecord& record, int mode, std::uint32_t remoteAddress)> openEditor;
    std::function<void(QWidget* owner, int productCode, std::uint32_t targetAddress)> openFirmware;
};

/**
 * The search window, the program's main window (dialog 102). It finds devices by a broadcast
 * (mode 0, listed by MAC) or by a unicast read of a typed address (mode 1, listed by the address the
 * answer came from), reads the selected device for the settings editor, opens the firmware dialog and
 * the desktop's firewall settings, and offers the adapter binding in its menu.
 */
class CQorvDlg final : public QDialog
{
    Q_OBJECT

public:
    // Control ids of dialog 102.
    static constexpr int kDialogId = 102;
    static constexpr int kIdResultsLabel = 1210;
    static constexpr int kIdResultsList = 1050;
    static constexpr int kIdMacRadio = 1180;
    static constexpr int kIdIpRadio = 1181;
    static constexpr int kIdIpAddressEdit = 1179;
    static constexpr int kIdSearchButton = 1007;
    static constexpr int kIdReadButton = 1008;
    static constexpr int kIdFirmwareButton = 1009;
    static constexpr int kIdFirewallButton = 1186;
    static constexpr int kIdExitButton = 1000;
    /** The menu command "Select binding IP". */
    static constexpr int kIdBindingCommand = 1948;

    static constexpr int kModeMac = 0;
    static constexpr int kModeIp = 1;

    /** `binding` is the application's adapter binding; the window loads it from the profile. */
    CQorvDlg(const AppContext& context, AdapterBinding& binding, SearchHooks hooks = {}, QWidget* parent = nullptr);
    ~CQorvDlg() override;

    int mode() const { return m_mode; }
    std::uint32_t remoteAddress() const { return m_remoteAddress; }
    bool requestInFlight() const { return m_exchange.running(); }
    /** Timer 1, which polls the endpoint during a request. */
    const QTimer& requestTimer() const { return m_exchange.timer(); }
    CNetEnv& endpoint() { return m_endpoint; }
    CMsgDlg& messageWindow() { return *m_messageWindow; }
    QAction* bindingAction() const { return m_bindingAction; }
    QAction* saveListAction() const { return m_saveListAction; }

    /** Exit, Escape and the close box: asks "Are you sure to exit the program?" first. */
    void reject() override;

private:
    void buildControls();
    QWidget* buildButtonColumn();
    void connectControls();
    void loadTexts();
    void initialise();
    void loadBinding();
    void setTitle(const QString& bindingLabel = {});

    void onSearch();
    void onRead();
    void onSelectionChanged();
    void switchMode(int mode);
    void onFirmware();
    void onFirewall();
    void onSelectBinding();
    void onTick();
    /** Ends a read as soon as its answer is in; a search keeps its full wait. */
    void finishRequest();
    void complete();
    void rebuildList();

    void startWait(int periodMs, const QString& text);
    /** Opens the endpoint for a broadcast: from every adapter, or from the bound address (0: unbound). */
    bool openBroadcast();
    bool openEndpointFailed(bool opened);
    std::optional<std::uint32_t> typedAddress();
    int selectedRow() const;
    void showMembers();
    QString text(int id) const;

    AppContext m_context;
    AdapterBinding& m_binding;
    SearchHooks m_hooks;
    int m_mode = -1;
    std::uint32_t m_remoteAddress = 0;
    int m_readFlag = 0;
    CNetEnv m_endpoint;
    std::unique_ptr<CMsgDlg> m_messageWindow;
    /** The wait of the request under way: both copies out, the tick, the end on the answer. */
    device::Exchange m_exchange{m_endpoint};
    bool m_selectingRow = false;

    QLabel* m_resultsLabel = nullptr;
    QListWidget* m_resultsList = nullptr;
    QRadioButton* m_macRadio = nullptr;
    QRadioButton* m_ipRadio = nullptr;
    Ipv4AddressEdit* m_ipAddressEdit = nullptr;
    QPushButton* m_searchButton = nullptr;
    QPushButton* m_readButton = nullptr;
    QPushButton* m_firmwareButton = nullptr;
    QPushButton* m_firewallButton = nullptr;
    QPushButton* m_exitButton = nullptr;
    QToolButton* m_menuButton = nullptr;
    QAction* m_bindingAction = nullptr;
    QAction* m_saveListAction = nullptr;
};
