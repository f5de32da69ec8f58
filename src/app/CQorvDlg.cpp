#include "CQorvDlg.h"

#include "app/CBindDlg.h"
#include "app/SearchListFile.h"
#include "gui/Accessibility.h"
#include "gui/AccessibleMenuButton.h"
#include "gui/AppIcon.h"
#include "gui/CMsgDlg.h"
#include "gui/FirewallLauncher.h"
#include "gui/Ipv4AddressEdit.h"
#include "gui/MessageService.h"
#include "gui/UserProfile.h"
#include "net/AdapterCatalog.h"
#include "net/ReplyWaits.h"
#include "protocol/Ipv4.h"
#include "text/FixedTexts.h"
#include "text/StringTable.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {
// String numbers of the search window.
constexpr int kStrSearchResults = 104;
constexpr int kStrMacAddress = 105;
constexpr int kStrIpAddress = 106;
constexpr int kStrSearch = 107;
constexpr int kStrRead = 108;
constexpr int kStrChangeFirmware = 109;
constexpr int kStrExit = 111;
constexpr int kStrNoResponse = 166;
constexpr int kStrReading = 170;
constexpr int kStrSearching = 171;
constexpr int kStrSelectBinding = 184;
constexpr int kStrExitQuestion = 186;
// Texts of this port.
constexpr int kStrNotUnicast = 901;
constexpr int kStrEditorMissing = 903;
constexpr int kStrFirmwareMissing = 904;
constexpr int kStrMenu = 905;
constexpr int kStrNotAnAddress = 906;
constexpr int kStrEveryAdapter = 976;
constexpr int kStrSaveList = 978;
constexpr int kStrSearchAddressName = 1407; // what a screen reader calls the IP address field
// Access keys of the buttons, the radio buttons and the menu entries.
constexpr int kKeySearch = 1500;
constexpr int kKeyRead = 1501;
constexpr int kKeyFirmware = 1502;
constexpr int kKeyFirewall = 1503;
constexpr int kKeyExit = 1504;
constexpr int kKeyMac = 1505;
constexpr int kKeyIp = 1506;
constexpr int kKeySelectBinding = 1507;
constexpr int kKeySaveList = 1508;

// Fixed English texts, the same in every language.
const QString kSorting = QStringLiteral("Sorting.....");
const QString kFoundLine = QStringLiteral("\r\n%1 Tessel(s) found");

template <typename W> W* control(W* widget, const char* objectName, int id)
{
    widget->setObjectName(QString::fromLatin1(objectName));
    widget->setProperty("controlId", id);
    return widget;
}
} // namespace

CQorvDlg::CQorvDlg(const AppContext& context, AdapterBinding& binding, SearchHooks hooks, QWidget* parent)
    : QDialog(parent), m_context(context), m_binding(binding), m_hooks(std::move(hooks)), m_endpoint(context.network)
{
    setObjectName(QStringLiteral("searchWindow"));
    setProperty("controlId", kDialogId);
    if (!m_hooks.openEditor) {
        m_hooks.openEditor = [this](QWidget* owner, const EnvRecord& record, int, std::uint32_t) {
            m_context.messages.information(owner, text(kStrEditorMissing).arg(QString::fromStdString(record.macText())),
                                           text(StringTable::kProgramTitle));
        };
    }
    if (!m_hooks.openFirmware) {
        m_hooks.openFirmware = [this](QWidget* owner, int, std::uint32_t) {
            m_context.messages.information(owner, text(kStrFirmwareMissing), text(StringTable::kProgramTitle));
        };
    }
    connect(&m_exchange, &device::Exchange::finished, this, &CQorvDlg::finishRequest);
    // A search's progress shows the devices found so far at every tick.
    connect(&m_exchange.timer(), &QTimer::timeout, this, &CQorvDlg::onTick);
    buildControls();
    initialise();
}

CQorvDlg::~CQorvDlg()
{
    m_exchange.cancel();
    m_endpoint.Close();
    // The list empties while its widget is destroyed, after this window has ceased to be one: nothing of
    // this window may hear that.
    m_resultsList->model()->disconnect(this);
}

QString CQorvDlg::text(int id) const
{
    return m_context.strings.text(id);
}

void CQorvDlg::buildControls()
{
    setWindowIcon(programIcon());
    m_resultsLabel = control(new QLabel(this), "resultsLabel", kIdResultsLabel);
    m_resultsList = control(new QListWidget(this), "resultsList", kIdResultsList);
    m_resultsList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_resultsList->setMinimumSize(fontMetrics().horizontalAdvance(QStringLiteral("00:00:00:00:00:00")) * 3 / 2,
                                  fontMetrics().height() * 12);
    m_resultsLabel->setBuddy(m_resultsList);

    m_bindingAction = new QAction(this);
    m_bindingAction->setObjectName(QStringLiteral("bindingAction"));
    m_bindingAction->setData(kIdBindingCommand);
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("windowMenu"));
    menu->addAction(m_bindingAction);
    m_saveListAction = new QAction(this);
    m_saveListAction->setObjectName(QStringLiteral("saveListAction"));
    m_saveListAction->setEnabled(false);
    menu->addAction(m_saveListAction);
    // The open menu is the menu button's child for a screen reader, so that it is in the window's tree.
    AccessibleMenuButton::install();
    m_menuButton = control(new QToolButton(this), "bindingMenuButton", kIdBindingCommand);
    menu->setParent(m_menuButton, menu->windowFlags());
    m_menuButton->setMenu(menu);
    m_menuButton->setPopupMode(QToolButton::InstantPopup);
    m_menuButton->setAutoRaise(false);
    m_menuButton->setIcon(menuIcon(palette().color(QPalette::WindowText)));
    m_menuButton->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    // The same menu on a right click anywhere in the window (the platform's system menu is the WM's).
    setContextMenuPolicy(Qt::ActionsContextMenu);
    addAction(m_bindingAction);
    addAction(m_saveListAction);

    auto* header = new QHBoxLayout;
    header->addWidget(m_resultsLabel);
    header->addStretch(1);
    header->addWidget(m_menuButton);
    auto* left = new QVBoxLayout;
    left->addLayout(header);
    left->addWidget(m_resultsList, 1);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addWidget(buildButtonColumn());
    connectControls();
}

void CQorvDlg::connectControls()
{
    connect(m_searchButton, &QPushButton::clicked, this, &CQorvDlg::onSearch);
    connect(m_readButton, &QPushButton::clicked, this, &CQorvDlg::onRead);
    connect(m_resultsList, &QListWidget::itemDoubleClicked, this, &CQorvDlg::onRead);
    connect(m_resultsList, &QListWidget::itemSelectionChanged, this, &CQorvDlg::onSelectionChanged);
    // The mode follows its radio however it got checked (pointer, keys, a screen reader's toggle action);
    // a click on the radio already chosen still empties the list.
    for (const auto& [radio, mode] : {std::pair{m_macRadio, kModeMac}, std::pair{m_ipRadio, kModeIp}}) {
        connect(radio, &QRadioButton::toggled, this, [this, mode = mode](bool checked) {
            if (checked && m_mode != mode)
                switchMode(mode);
        });
        connect(radio, &QRadioButton::clicked, this, [this, mode = mode] {
            if (m_mode == mode)
                switchMode(mode);
        });
    }
    connect(m_firmwareButton, &QPushButton::clicked, this, &CQorvDlg::onFirmware);
    connect(m_firewallButton, &QPushButton::clicked, this, &CQorvDlg::onFirewall);
    connect(m_exitButton, &QPushButton::clicked, this, &CQorvDlg::reject);
    connect(m_bindingAction, &QAction::triggered, this, &CQorvDlg::onSelectBinding);
    connect(m_saveListAction, &QAction::triggered, this, [this] {
        if (m_resultsList->count() > 0 && !requestInFlight())
            saveSearchList(this, m_context, m_endpoint);
    });
    // There is a list to save while the window lists devices.
    const auto listChanged = [this] { m_saveListAction->setEnabled(m_resultsList->count() > 0); };
    connect(m_resultsList->model(), &QAbstractItemModel::rowsInserted, this, listChanged);
    connect(m_resultsList->model(), &QAbstractItemModel::rowsRemoved, this, listChanged);
    connect(m_resultsList->model(), &QAbstractItemModel::modelReset, this, listChanged);
}

QWidget* CQorvDlg::buildButtonColumn()
{
    auto* column = new QWidget(this);
    m_macRadio = control(new QRadioButton(column), "macRadio", kIdMacRadio);
    m_ipRadio = control(new QRadioButton(column), "ipRadio", kIdIpRadio);
    m_ipAddressEdit = control(new Ipv4AddressEdit(column), "ipAddressEdit", kIdIpAddressEdit);
    m_searchButton = control(new QPushButton(column), "searchButton", kIdSearchButton);
    m_searchButton->setDefault(true);
    m_searchButton->setAutoDefault(true);
    m_readButton = control(new QPushButton(column), "readButton", kIdReadButton);
    m_firmwareButton = control(new QPushButton(column), "firmwareButton", kIdFirmwareButton);
    m_firewallButton = control(new QPushButton(column), "firewallButton", kIdFirewallButton);
    m_exitButton = control(new QPushButton(column), "exitButton", kIdExitButton);
    for (QPushButton* b : {m_readButton, m_firmwareButton, m_firewallButton, m_exitButton})
        b->setAutoDefault(false);

    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_macRadio);
    layout->addWidget(m_ipRadio);
    layout->addWidget(m_ipAddressEdit);
    layout->addSpacing(fontMetrics().height());
    for (QPushButton* b : {m_searchButton, m_readButton, m_firmwareButton, m_firewallButton})
        layout->addWidget(b);
    layout->addStretch(1);
    layout->addWidget(m_exitButton);
    return column;
}

void CQorvDlg::loadTexts()
{
    const StringTable& strings = m_context.strings;
    m_resultsLabel->setText(text(kStrSearchResults));
    const std::pair<QAbstractButton*, std::pair<int, int>> captions[] = {
        {m_macRadio, {kStrMacAddress, kKeyMac}},
        {m_ipRadio, {kStrIpAddress, kKeyIp}},
        {m_searchButton, {kStrSearch, kKeySearch}},
        {m_readButton, {kStrRead, kKeyRead}},
        {m_firmwareButton, {kStrChangeFirmware, kKeyFirmware}},
        {m_firewallButton, {FirewallLauncher::buttonTextId(), kKeyFirewall}},
        {m_exitButton, {kStrExit, kKeyExit}},
    };
    for (const auto& [button, ids] : captions)
        accessibility::setCaption(button, strings, text(ids.first), ids.second);
    accessibility::setCaption(m_bindingAction, strings, text(kStrSelectBinding), kKeySelectBinding);
    accessibility::setCaption(m_saveListAction, strings, text(kStrSaveList), kKeySaveList);
    accessibility::name(m_ipAddressEdit, text(kStrSearchAddressName));
    accessibility::name(m_resultsList, text(kStrSearchResults)); // a list is not named by its label
    m_menuButton->setToolTip(text(kStrMenu));
    m_menuButton->setAccessibleName(text(kStrMenu));
}

void CQorvDlg::initialise()
{
    loadTexts();
    resize(sizeHint());
    setTitle();
    m_readButton->setEnabled(false);
    if (!m_endpoint.hasTable()) {
        // Without a table nothing can be found: the window offers Exit and the menu only.
        m_context.messages.error(this, fixed_text::noDeviceTable(), fixedMessageCaption());
        for (QWidget* w : std::initializer_list<QWidget*>{m_searchButton, m_macRadio, m_ipRadio, m_ipAddressEdit})
            w->setEnabled(false);
        return;
    }
    const QString title = text(StringTable::kProgramTitle);
    const QStringList widest = {
        text(kStrSearching) + kFoundLine.arg(256),
        text(kStrReading) + QStringLiteral("\r\nMAC address 00:00:00:00:00:00"),
        text(kStrReading) + QStringLiteral("\r\nIP address 255.255.255.255"),
    };
    m_messageWindow = std::make_unique<CMsgDlg>(this, title, widest);
    CNetEnv::ResetRecord(m_endpoint.record(0));
    m_endpoint.setCount(0);
    m_endpoint.setLimit(CNetEnv::kTableSize);
    m_mode = kModeMac;
    m_ipAddressEdit->setEnabled(false);
    loadBinding();
    showMembers();
}

void CQorvDlg::loadBinding()
{
    m_binding.adapterName = m_context.profile.bindingAdapter();
    m_binding.address = m_context.profile.bindingAddress();
    if (m_binding.isEveryAdapter()) {
        setTitle(text(kStrEveryAdapter));
        return;
    }
    if (m_binding.address == 0)
        return;
    AdapterCatalog catalog(m_context.adapters);
    if (catalog.ValidateBinding(m_binding.adapterName, m_binding.address)) {
        setTitle(catalog.BindingLabel(m_binding.adapterName, m_binding.address));
        return;
    }
    // A binding to an adapter or address no longer present is dropped for this run; the profile keeps it.
    m_binding.clear();
}

void CQorvDlg::setTitle(const QString& bindingLabel)
{
    const QString title = text(StringTable::kProgramTitle);
    // The layout alone sizes the window; a title longer than the title bar is the window manager's to
    // elide, as on every desktop.
    setWindowTitle(bindingLabel.isEmpty() ? title : QStringLiteral("%1 [%2]").arg(title, bindingLabel));
}

void CQorvDlg::showMembers()
{
    m_macRadio->setChecked(m_mode == kModeMac);
    m_ipRadio->setChecked(m_mode == kModeIp);
}

int CQorvDlg::selectedRow() const
{
    const QList<QListWidgetItem*> selected = m_resultsList->selectedItems();
    return selected.isEmpty() ? -1 : m_resultsList->row(selected.first());
}

std::optional<std::uint32_t> CQorvDlg::typedAddress()
{
    // Text that is no address is named as typed; a blank field is the address 0.0.0.0, and it and every
    // other address that cannot name one device get the single-device message. Nothing is sent then.
    const std::optional<std::uint32_t> address = m_ipAddressEdit->addressOrZero();
    QString message;
    if (!address)
        message = text(kStrNotAnAddress).arg(m_ipAddressEdit->text());
    else if (!ipv4::isUnicastDeviceAddress(*address))
        message = text(kStrNotUnicast).arg(ipv4::dotted(*address));
    if (message.isEmpty())
        return address;
    m_context.messages.error(this, message, text(StringTable::kProgramTitle));
    m_ipAddressEdit->setFocus();
    m_ipAddressEdit->selectAll();
    return std::nullopt;
}

bool CQorvDlg::openBroadcast()
{
    return m_binding.isEveryAdapter() ? m_endpoint.OpenEveryAdapter() : m_endpoint.OpenLocal(m_binding.address);
}

bool CQorvDlg::openEndpointFailed(bool opened)
{
    // The program's message, then what was bound and the system's reason on a line of its own.
    if (!opened)
        m_context.messages.error(this, fixed_text::cannotOpenSocket() + QStringLiteral("\r\n") + m_endpoint.openError(),
                                 fixedMessageCaption());
    return !opened;
}

void CQorvDlg::onSearch()
{
    if (requestInFlight() || !m_endpoint.hasTable())
        return;
    std::uint32_t typed = 0;
    if (m_mode == kModeIp) {
        const std::optional<std::uint32_t> address = typedAddress();
        if (!address)
            return;
        typed = *address;
    }
    m_resultsList->clear();
    m_readFlag = 0;
    const bool opened = m_mode == kModeMac ? openBroadcast() : m_endpoint.OpenRemote(typed);
    if (openEndpointFailed(opened))
        return;
    m_endpoint.requestFrame().fill(0);
    m_endpoint.setCount(0);
    m_endpoint.setLimit(CNetEnv::kTableSize);
    if (m_mode == kModeMac) {
        m_endpoint.setCommand(frame::kSearch);
        m_endpoint.SendBroadcast();
    } else {
        // The body stays zero: the device is addressed by its IP alone.
        m_endpoint.setCommand(frame::kRead);
        m_remoteAddress = typed;
        m_endpoint.SendUnicast(typed);
    }
    startWait(reply_wait::kSearchTickMs, text(kStrSearching));
}

void CQorvDlg::onRead()
{
    const int row = selectedRow();
    if (row < 0 || requestInFlight() || row >= m_endpoint.count())
        return;
    if (m_mode == kModeIp && !ipv4::isUnicastDeviceAddress(m_remoteAddress)) {
        m_context.messages.error(this, text(kStrNotUnicast).arg(ipv4::dotted(m_remoteAddress)),
                                 text(StringTable::kProgramTitle));
        return;
    }
    m_readFlag = 1;
    const bool opened = m_mode == kModeMac ? openBroadcast() : m_endpoint.OpenRemote(m_remoteAddress);
    if (openEndpointFailed(opened))
        return;
    const EnvRecord& record = m_endpoint.record(row);
    m_endpoint.requestFrame().fill(0);
    std::copy_n(record.data(), 6, m_endpoint.requestBody());
    m_endpoint.setCommand(frame::kRead);
    QString secondLine;
    if (m_mode == kModeMac) {
        secondLine = QStringLiteral("MAC address ") + ipv4::macText(record.data());
        m_endpoint.SendBroadcast();
    } else {
        secondLine = QStringLiteral("IP address ") + ipv4::dotted(m_remoteAddress);
        m_endpoint.SendUnicast(m_remoteAddress);
    }
    startWait(reply_wait::kReadTickMs, text(kStrReading) + QStringLiteral("\r\n") + secondLine);
}

void CQorvDlg::startWait(int periodMs, const QString& message)
{
    m_messageWindow->ShowProgress();
    m_messageWindow->SetProgressText(message);
    setEnabled(false);
    // Both copies are out: an answer taken in between them ends a read at once; a search waits for the
    // tick at which it is in, as every device on the LAN may still answer.
    m_exchange.start(periodMs, {},
                     m_endpoint.command() == frame::kRead ? device::WaitEnd::OnAnswer : device::WaitEnd::AtTick);
}

void CQorvDlg::onTick()
{
    if (m_exchange.running() && m_endpoint.command() == frame::kSearch && m_endpoint.count() > 0)
        m_messageWindow->SetProgressText(text(kStrSearching) + kFoundLine.arg(m_endpoint.count()));
}

void CQorvDlg::finishRequest()
{
    m_exchange.cancel();
    setEnabled(true);
    m_messageWindow->HideProgress();
    m_endpoint.Close();
    complete();
}

void CQorvDlg::complete()
{
    const int command = m_endpoint.command();
    if (m_endpoint.count() == 0) {
        m_context.messages.error(this, text(kStrNoResponse), text(StringTable::kProgramTitle));
        if (command == frame::kSearch)
            m_readButton->setEnabled(false);
        return;
    }
    m_resultsList->setFocus();
    if (command == frame::kSearch || m_resultsList->count() != m_endpoint.count())
        rebuildList();
    if (command == frame::kRead) {
        if (m_endpoint.answered() && m_readFlag == 1)
            m_hooks.openEditor(this, m_endpoint.replyRecord(), m_mode, m_remoteAddress);
        else if (!m_endpoint.answered())
            m_context.messages.error(this, text(kStrNoResponse), text(StringTable::kProgramTitle));
    }
    showMembers();
}

void CQorvDlg::rebuildList()
{
    m_resultsList->clear();
    const int count = m_endpoint.count();
    if (count > 1) {
        m_messageWindow->ShowProgress(kSorting);
        m_endpoint.sortByMac();
        m_messageWindow->HideProgress();
    }
    for (int i = 0; i < count; ++i) {
        const EnvRecord& record = m_endpoint.record(i);
        m_resultsList->addItem(m_mode == kModeMac ? ipv4::macText(record.data())
                                                  : ipv4::dotted(record.sourceAddress()));
    }
    m_readButton->setEnabled(true);
    // Selecting row 0 here is the program's doing and leaves the remote address alone.
    m_selectingRow = true;
    m_resultsList->setCurrentRow(0);
    m_selectingRow = false;
}

void CQorvDlg::onSelectionChanged()
{
    const int row = selectedRow();
    if (m_selectingRow || row < 0 || row >= m_endpoint.count())
        return;
    m_remoteAddress = m_endpoint.record(row).sourceAddress();
}

void CQorvDlg::switchMode(int mode)
{
    m_resultsList->clear();
    if (!m_endpoint.hasTable())
        return;
    CNetEnv::ResetRecord(m_endpoint.record(0));
    m_endpoint.setCount(0);
    m_endpoint.setLimit(CNetEnv::kTableSize);
    m_mode = mode;
    m_ipAddressEdit->setEnabled(mode == kModeIp);
    if (mode == kModeIp)
        m_ipAddressEdit->setFocus();
}

void CQorvDlg::onFirmware()
{
    int productCode = 0;
    std::uint32_t target = 0;
    const int row = selectedRow();
    if (row >= 0 && row < m_endpoint.count()) {
        productCode = m_endpoint.record(row).productId() >> 3;
        target = m_endpoint.record(row).ipAddress();
    }
    m_hooks.openFirmware(this, productCode, target);
}

void CQorvDlg::onFirewall()
{
    const int result = m_context.firewall.launch();
    if (result >= FirewallLauncher::kFirstSuccess)
        return;
    const QString message = m_context.firewall.failureMessage(result);
    if (!message.isEmpty())
        m_context.messages.error(this, message, fixedMessageCaption());
}

void CQorvDlg::onSelectBinding()
{
    CBindDlg dialog(m_context, m_binding.adapterName, m_binding.address, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (dialog.everyAdapter()) {
        m_binding = AdapterBinding::everyAdapter();
        setTitle(text(kStrEveryAdapter));
    } else if (dialog.useBinding()) {
        m_binding.adapterName = dialog.adapterName();
        m_binding.address = dialog.address();
        setTitle(dialog.BindingLabel(m_binding.adapterName, m_binding.address));
    } else {
        m_binding.clear();
        setTitle();
    }
    m_context.profile.setBinding(dialog.adapterName(), dialog.address());
}

void CQorvDlg::reject()
{
    // While a request is in flight the window is disabled; it ends when the wait does.
    if (requestInFlight())
        return;
    if (m_context.messages.askYesNo(this, text(kStrExitQuestion), text(StringTable::kProgramTitle)))
        QDialog::reject();
}
