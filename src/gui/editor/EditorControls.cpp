#include "EditorControls.h"

#include "record/SettingsFile.h"
#include "gui/Accessibility.h"
#include "gui/AccessibleList.h"
#include "gui/Ipv4AddressEdit.h"
#include "record/RecordFields.h"
#include "text/StringTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>

namespace {
using record_fields::Id;

// Captions of the groups and buttons (string numbers); the fields' own captions and list entries come
// from the catalogue of fields.
constexpr int kStrMacAddress = 105;
constexpr int kStrRead = 108;
constexpr int kStrExit = 111;
constexpr int kStrStatus = 112;
constexpr int kStrNetwork = 1001;
constexpr int kStrOption = 1002;
constexpr int kStrTcpIp = 1012;
constexpr int kStrSerialPort = 1013;
constexpr int kStrWrite = 1026;
constexpr int kStrHistory = 1610;
constexpr int kStrPppoeId = 1027;
constexpr int kStrSetPassword = 1029;
constexpr int kStrIpv4Type = 1409; // the list has no caption on screen: a screen reader's name for it
// Access keys of Read, Write, the account button, Set Password, Status, Export, Import, Exit and History, and of
// the check boxes Obtain an IP From The First Received Packet, IP Address Search, Telnet and SSL.
constexpr int kKeyRead = 1530;
constexpr int kKeyWrite = 1531;
constexpr int kKeyStatus = 1534;
constexpr int kKeyExport = 1535;
constexpr int kKeyImport = 1536;
constexpr int kKeyExit = 1537;
constexpr int kKeyArp = 1538;
constexpr int kKeyRemoteSearch = 1539;
constexpr int kKeyTelnet = 1540;
constexpr int kKeySsl = 1541;
constexpr int kKeyHistory = 1542;
// Access keys of the field labels that hand the focus to their field (letters no button of the editor
// uses; the MAC address, which cannot be edited, and EAPoL go without).
constexpr int kKeyIpAddress = 2110;
constexpr int kKeySubnetMask = 2111;
constexpr int kKeyGateway = 2112;
constexpr int kKeyMultiIp = 2113;
constexpr int kKeyPassword = 2114;
constexpr int kKeyComment = 2115;
constexpr int kStrTestPort = 2019;
constexpr int kKeyTestPort = 2058;

template <typename W> W* named(W* widget, const QString& name)
{
    widget->setObjectName(name);
    return widget;
}

QString portName(const char* kind, int port)
{
    return QStringLiteral("com%1%2").arg(port + 1).arg(QLatin1String(kind));
}

QComboBox* list(QWidget* parent, const QString& name, const QStringList& entries)
{
    auto* box = named(new QComboBox(parent), name);
    box->addItems(entries);
    // Wide enough for its longest entry in any script: the style's own estimate can fall short of text
    // drawn with a fallback font (Hangul, Hanzi).
    int widest = 0;
    for (const QString& entry : entries)
        widest = std::max(widest, box->fontMetrics().horizontalAdvance(entry));
    box->setMinimumWidth(widest + box->fontMetrics().height() * 3);
    return box;
}

/** A field's list entries in the table's language (an entry without a text of its own shows its name). */
QStringList entries(const StringTable& strings, Id id)
{
    QStringList out;
    for (const record_fields::Entry& e : record_fields::field(id).entries)
        out << (e.stringId ? strings.text(e.stringId) : QString::fromLatin1(e.names[0]));
    return out;
}

/** A field's caption in the table's language. */
QString caption(const StringTable& strings, Id id)
{
    return strings.text(record_fields::field(id).captionId);
}

/** A field's caption with the access key of string `keyId` marked: the label hands the focus to its field. */
QString keyedCaption(const StringTable& strings, Id id, int keyId)
{
    return accessibility::withKey(strings, caption(strings, id), keyId);
}

QLineEdit* numberField(QWidget* parent, const QString& name)
{
    auto* edit = named(new QLineEdit(parent), name);
    edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("655340")) + 12);
    return edit;
}

QGroupBox* networkGroup(EditorControls& c, QWidget* w, const StringTable& s)
{
    auto* group = named(new QGroupBox(s.text(kStrNetwork), w), QStringLiteral("networkGroup"));
    c.mac = named(new QLineEdit(group), QStringLiteral("macEdit"));
    c.mac->setReadOnly(true);
    c.ipv4Type = list(group, QStringLiteral("ipv4TypeCombo"), entries(s, Id::Ipv4Type));
    c.ipAddress = named(new Ipv4AddressEdit(group), QStringLiteral("ipAddressEdit"));
    c.subnetMask = named(new Ipv4AddressEdit(group), QStringLiteral("subnetMaskEdit"));
    c.gateway = named(new Ipv4AddressEdit(group), QStringLiteral("gatewayEdit"));
    accessibility::name(c.mac, s.text(kStrMacAddress));
    accessibility::name(c.ipv4Type, s.text(kStrIpv4Type));
    accessibility::name(c.ipAddress, caption(s, Id::IpAddress));
    accessibility::name(c.subnetMask, caption(s, Id::SubnetMask));
    accessibility::name(c.gateway, caption(s, Id::Gateway));
    auto* form = new QFormLayout(group);
    form->addRow(s.text(kStrMacAddress), c.mac);
    form->addRow(c.ipv4Type);
    form->addRow(keyedCaption(s, Id::IpAddress, kKeyIpAddress), c.ipAddress);
    form->addRow(keyedCaption(s, Id::SubnetMask, kKeySubnetMask), c.subnetMask);
    form->addRow(keyedCaption(s, Id::Gateway, kKeyGateway), c.gateway);
    return group;
}

QCheckBox* check(QWidget* parent, const QString& name, const StringTable& s, Id id, int keyId)
{
    auto* box = named(new QCheckBox(parent), name);
    accessibility::setCaption(box, s, caption(s, id), keyId);
    return box;
}

/** Names each control of a port's row after its port and column ("COM2 Local Port"). */
void namePortRow(const StringTable& s, int port, std::initializer_list<std::pair<QWidget*, Id>> row)
{
    for (const auto& [field, id] : row)
        accessibility::name(field, accessibility::portFieldName(s, port, caption(s, id)));
}

QGroupBox* optionGroup(EditorControls& c, QWidget* w, const StringTable& s)
{
    auto* group = named(new QGroupBox(s.text(kStrOption), w), QStringLiteral("optionGroup"));
    c.multiIp = list(group, QStringLiteral("multiIpCombo"), entries(s, Id::MultiIp));
    c.eapol = list(group, QStringLiteral("eapolCombo"), entries(s, Id::Eapol));
    c.password = named(new QLineEdit(group), QStringLiteral("passwordEdit"));
    c.password->setEchoMode(QLineEdit::Password);
    c.password->setMaxLength(record_fields::field(Id::Password).max);
    c.arp = check(group, QStringLiteral("arpCheck"), s, Id::Arp, kKeyArp);
    c.remoteSearch = check(group, QStringLiteral("remoteSearchCheck"), s, Id::RemoteSearch, kKeyRemoteSearch);
    c.telnet = check(group, QStringLiteral("telnetCheck"), s, Id::Telnet, kKeyTelnet);
    c.ssl = check(group, QStringLiteral("sslCheck"), s, Id::Ssl, kKeySsl);
    accessibility::name(c.multiIp, caption(s, Id::MultiIp));
    accessibility::name(c.eapol, caption(s, Id::Eapol));
    accessibility::name(c.password, caption(s, Id::Password));
    c.ssl->setEnabled(false);
    auto* form = new QFormLayout(group);
    form->addRow(keyedCaption(s, Id::MultiIp, kKeyMultiIp), c.multiIp);
    form->addRow(caption(s, Id::Eapol), c.eapol);
    form->addRow(keyedCaption(s, Id::Password, kKeyPassword), c.password);
    auto* checks = new QGridLayout;
    checks->addWidget(c.arp, 0, 0, 1, 2);
    checks->addWidget(c.remoteSearch, 1, 0);
    checks->addWidget(c.telnet, 1, 1);
    checks->addWidget(c.ssl, 2, 0);
    form->addRow(checks);
    return group;
}

QGridLayout* portGrid(QGroupBox* group, const StringTable& s, std::initializer_list<Id> heads)
{
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(s.text(kStrSerialPort), group), 0, 0);
    int column = 1;
    for (Id id : heads)
        grid->addWidget(new QLabel(caption(s, id), group), 0, column++);
    for (int port = 0; port < EditorControls::kPortCount; ++port)
        grid->addWidget(new QLabel(QStringLiteral("COM%1").arg(port + 1), group), port + 1, 0);
    return grid;
}

QGroupBox* tcpIpGroup(EditorControls& c, QWidget* w, const StringTable& s)
{
    auto* group = named(new QGroupBox(s.text(kStrTcpIp), w), QStringLiteral("tcpIpGroup"));
    QGridLayout* grid =
        portGrid(group, s, {Id::Mode, Id::LocalIp, Id::LocalPort, Id::PeerIp, Id::PeerPort, Id::Timeout});
    for (int i = 0; i < EditorControls::kPortCount; ++i) {
        PortControls& p = c.ports[static_cast<std::size_t>(i)];
        p.mode = list(group, portName("ModeCombo", i), entries(s, Id::Mode));
        p.localIp = named(new Ipv4AddressEdit(group), portName("LocalIpEdit", i));
        p.localPort = numberField(group, portName("LocalPortEdit", i));
        p.peerIp = named(new Ipv4AddressEdit(group), portName("PeerIpEdit", i));
        p.peerPort = numberField(group, portName("PeerPortEdit", i));
        p.timeout = numberField(group, portName("TimeoutEdit", i));
        namePortRow(s, i,
                    {{p.mode, Id::Mode},
                     {p.localIp, Id::LocalIp},
                     {p.localPort, Id::LocalPort},
                     {p.peerIp, Id::PeerIp},
                     {p.peerPort, Id::PeerPort},
                     {p.timeout, Id::Timeout}});
        int column = 1;
        for (QWidget* field :
             std::initializer_list<QWidget*>{p.mode, p.localIp, p.localPort, p.peerIp, p.peerPort, p.timeout})
            grid->addWidget(field, i + 1, column++);
    }
    return group;
}

QGroupBox* serialGroup(EditorControls& c, QWidget* w, const StringTable& s)
{
    auto* group = named(new QGroupBox(s.text(kStrSerialPort), w), QStringLiteral("serialGroup"));
    QGridLayout* grid =
        portGrid(group, s, {Id::BaudRate, Id::Parity, Id::DataBits, Id::StopBits, Id::FlowControl, Id::WaterMark});
    const QStringList rates = entries(s, Id::BaudRate);
    for (int i = 0; i < EditorControls::kPortCount; ++i) {
        PortControls& p = c.ports[static_cast<std::size_t>(i)];
        p.baudRate = list(group, portName("BaudRateCombo", i), rates);
        p.parity = list(group, portName("ParityCombo", i), entries(s, Id::Parity));
        p.dataBits = list(group, portName("DataBitsCombo", i), entries(s, Id::DataBits));
        p.stopBits = list(group, portName("StopBitsCombo", i), entries(s, Id::StopBits));
        p.flowControl = list(group, portName("FlowControlCombo", i), entries(s, Id::FlowControl));
        p.eventByte = numberField(group, portName("EventByteEdit", i));
        namePortRow(s, i,
                    {{p.baudRate, Id::BaudRate},
                     {p.parity, Id::Parity},
                     {p.dataBits, Id::DataBits},
                     {p.stopBits, Id::StopBits},
                     {p.flowControl, Id::FlowControl},
                     {p.eventByte, Id::WaterMark}});
        int column = 1;
        for (QWidget* field :
             std::initializer_list<QWidget*>{p.baudRate, p.parity, p.dataBits, p.stopBits, p.flowControl, p.eventByte})
            grid->addWidget(field, i + 1, column++);
    }
    return group;
}

QPushButton* button(QWidget* parent, const QString& name, const StringTable& s, const QString& caption, int keyId)
{
    auto* b = named(new QPushButton(parent), name);
    accessibility::setCaption(b, s, caption, keyId);
    // The Enter key never presses a button of the editor.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QHBoxLayout* buttonRow(EditorControls& c, QWidget* w, const StringTable& s)
{
    c.readButton = button(w, QStringLiteral("readButton"), s, s.text(kStrRead), kKeyRead);
    c.writeButton = button(w, QStringLiteral("writeButton"), s, s.text(kStrWrite), kKeyWrite);
    c.accountButton = button(w, QStringLiteral("accountButton"), s, s.text(kStrPppoeId), kKeyAccount);
    c.passwordButton = button(w, QStringLiteral("passwordButton"), s, s.text(kStrSetPassword), kKeySetPassword);
    c.statusButton = button(w, QStringLiteral("statusButton"), s, s.text(kStrStatus), kKeyStatus);
    c.exportButton = button(w, QStringLiteral("exportButton"), s, s.text(settings_file::kStrExport), kKeyExport);
    c.importButton = button(w, QStringLiteral("importButton"), s, s.text(settings_file::kStrImport), kKeyImport);
    c.historyButton = button(w, QStringLiteral("historyButton"), s, s.text(kStrHistory), kKeyHistory);
    c.testPortButton = button(w, QStringLiteral("testPortButton"), s, s.text(kStrTestPort), kKeyTestPort);
    c.exitButton = button(w, QStringLiteral("exitButton"), s, s.text(kStrExit), kKeyExit);
    auto* row = new QHBoxLayout;
    for (QPushButton* b : {c.readButton, c.writeButton, c.accountButton, c.passwordButton, c.statusButton,
                           c.exportButton, c.importButton, c.historyButton, c.testPortButton})
        row->addWidget(b);
    row->addStretch(1);
    row->addWidget(c.exitButton);
    return row;
}
} // namespace

void buildEditorControls(EditorControls& c, QWidget* w, const StringTable& s)
{
    // Before the first list exists: a screen reader may ask about a list as soon as it is made.
    AccessibleList::install();
    auto* top = new QHBoxLayout;
    top->addWidget(networkGroup(c, w, s), 1);
    top->addWidget(optionGroup(c, w, s), 1);

    c.comment = named(new QLineEdit(w), QStringLiteral("commentEdit"));
    accessibility::name(c.comment, caption(s, Id::Comment));
    auto* commentRow = new QHBoxLayout;
    auto* commentLabel =
        named(new QLabel(keyedCaption(s, Id::Comment, kKeyComment), w), QStringLiteral("commentLabel"));
    commentLabel->setBuddy(c.comment);
    commentRow->addWidget(commentLabel);
    commentRow->addWidget(c.comment, 1);

    auto* layout = new QVBoxLayout(w);
    layout->addLayout(top);
    layout->addWidget(tcpIpGroup(c, w, s));
    layout->addWidget(serialGroup(c, w, s));
    layout->addLayout(commentRow);
    layout->addLayout(buttonRow(c, w, s));
    c.statusLine = named(new QLabel(w), QStringLiteral("statusLine"));
    // No name of its own: its text is what a screen reader says, and each change of it is announced.
    c.statusLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(c.statusLine);
    setEditorTabOrder(c);
}

void setEditorTabOrder(const EditorControls& c)
{
    // Top to bottom, left to right: Network, then Option, each port's TCP/IP row, each port's serial
    // row, the comment under them, then the buttons. Disabled controls keep their places.
    QList<QWidget*> order = {c.mac,   c.ipv4Type, c.ipAddress, c.subnetMask,   c.gateway, c.multiIp,
                             c.eapol, c.password, c.arp,       c.remoteSearch, c.telnet,  c.ssl};
    for (const PortControls& p : c.ports)
        order << p.mode << p.localIp << p.localPort << p.peerIp << p.peerPort << p.timeout;
    for (const PortControls& p : c.ports)
        order << p.baudRate << p.parity << p.dataBits << p.stopBits << p.flowControl << p.eventByte;
    order << c.comment << c.readButton << c.writeButton << c.accountButton << c.passwordButton << c.statusButton
          << c.exportButton << c.importButton << c.historyButton << c.testPortButton << c.exitButton;
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}
