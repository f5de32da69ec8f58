#include "EditorControls.h"

#include "config/SettingsFile.h"
#include "gui/Ipv4AddressEdit.h"
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

#include <algorithm>

namespace {
// Captions and list entries of the editor (string numbers).
constexpr int kStrMacAddress = 105;
constexpr int kStrRead = 108;
constexpr int kStrExit = 111;
constexpr int kStrStatus = 112;
constexpr int kStrLocalIpAddress = 117;
constexpr int kStrNetwork = 1001;
constexpr int kStrOption = 1002;
constexpr int kStrSubnetMask = 1003;
constexpr int kStrGateway = 1004;
constexpr int kStrMultiIp = 1005;
constexpr int kStrEapol = 1006;
constexpr int kStrPassword = 1007;
constexpr int kStrArp = 1008;
constexpr int kStrRemoteSearch = 1009;
constexpr int kStrTelnet = 1010;
constexpr int kStrSsl = 1011;
constexpr int kStrTcpIp = 1012;
constexpr int kStrSerialPort = 1013;
constexpr int kStrMode = 1014;
constexpr int kStrLocalPort = 1015;
constexpr int kStrPeerAddress = 1016;
constexpr int kStrPeerPort = 1017;
constexpr int kStrTimeout = 1018;
constexpr int kStrBaudrate = 1019;
constexpr int kStrParity = 1020;
constexpr int kStrDataBit = 1021;
constexpr int kStrStopBit = 1022;
constexpr int kStrFlowControl = 1023;
constexpr int kStrEventByte = 1024;
constexpr int kStrComment = 1025;
constexpr int kStrWrite = 1026;
constexpr int kStrPppoeId = 1027;
constexpr int kStrSetPassword = 1029;
constexpr int kStrIpv4Types[] = {1030, 1031, 1032};
constexpr int kStrDisableUse[] = {1033, 1034};
constexpr int kStrDisableMd5[] = {1033, 1035};
constexpr int kStrModes[] = {1036, 1037, 1038, 1039};
constexpr int kStrParities[] = {1040, 1041, 1042};
constexpr int kStrFlowControls[] = {1040, 1043, 1044};

const char* const kRates[] = {"600",   "1200",  "2400",  "4800",   "9600",  "14400",
                              "19200", "38400", "57600", "115200", "230400"};

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

template <std::size_t N> QStringList texts(const StringTable& strings, const int (&ids)[N])
{
    QStringList out;
    for (int id : ids)
        out << strings.text(id);
    return out;
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
    c.ipv4Type = list(group, QStringLiteral("ipv4TypeCombo"), texts(s, kStrIpv4Types));
    c.ipAddress = named(new Ipv4AddressEdit(group), QStringLiteral("ipAddressEdit"));
    c.subnetMask = named(new Ipv4AddressEdit(group), QStringLiteral("subnetMaskEdit"));
    c.gateway = named(new Ipv4AddressEdit(group), QStringLiteral("gatewayEdit"));
    auto* form = new QFormLayout(group);
    form->addRow(s.text(kStrMacAddress), c.mac);
    form->addRow(c.ipv4Type);
    form->addRow(s.text(kStrLocalIpAddress), c.ipAddress);
    form->addRow(s.text(kStrSubnetMask), c.subnetMask);
    form->addRow(s.text(kStrGateway), c.gateway);
    return group;
}

QGroupBox* optionGroup(EditorControls& c, QWidget* w, const StringTable& s)
{
    auto* group = named(new QGroupBox(s.text(kStrOption), w), QStringLiteral("optionGroup"));
    c.multiIp = list(group, QStringLiteral("multiIpCombo"), texts(s, kStrDisableUse));
    c.eapol = list(group, QStringLiteral("eapolCombo"), texts(s, kStrDisableMd5));
    c.password = named(new QLineEdit(group), QStringLiteral("passwordEdit"));
    c.password->setEchoMode(QLineEdit::Password);
    c.password->setMaxLength(8);
    c.arp = named(new QCheckBox(s.text(kStrArp), group), QStringLiteral("arpCheck"));
    c.remoteSearch = named(new QCheckBox(s.text(kStrRemoteSearch), group), QStringLiteral("remoteSearchCheck"));
    c.telnet = named(new QCheckBox(s.text(kStrTelnet), group), QStringLiteral("telnetCheck"));
    c.ssl = named(new QCheckBox(s.text(kStrSsl), group), QStringLiteral("sslCheck"));
    c.ssl->setEnabled(false);
    auto* form = new QFormLayout(group);
    form->addRow(s.text(kStrMultiIp), c.multiIp);
    form->addRow(s.text(kStrEapol), c.eapol);
    form->addRow(s.text(kStrPassword), c.password);
    auto* checks = new QGridLayout;
    checks->addWidget(c.arp, 0, 0, 1, 2);
    checks->addWidget(c.remoteSearch, 1, 0);
    checks->addWidget(c.telnet, 1, 1);
    checks->addWidget(c.ssl, 2, 0);
    form->addRow(checks);
    return group;
}

QGridLayout* portGrid(QGroupBox* group, const StringTable& s, std::initializer_list<int> heads)
{
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(s.text(kStrSerialPort), group), 0, 0);
    int column = 1;
    for (int id : heads)
        grid->addWidget(new QLabel(s.text(id), group), 0, column++);
    for (int port = 0; port < EditorControls::kPortCount; ++port)
        grid->addWidget(new QLabel(QStringLiteral("COM%1").arg(port + 1), group), port + 1, 0);
    return grid;
}

QGroupBox* tcpIpGroup(EditorControls& c, QWidget* w, const StringTable& s)
{
    auto* group = named(new QGroupBox(s.text(kStrTcpIp), w), QStringLiteral("tcpIpGroup"));
    QGridLayout* grid =
        portGrid(group, s, {kStrMode, kStrLocalIpAddress, kStrLocalPort, kStrPeerAddress, kStrPeerPort, kStrTimeout});
    for (int i = 0; i < EditorControls::kPortCount; ++i) {
        PortControls& p = c.ports[static_cast<std::size_t>(i)];
        p.mode = list(group, portName("ModeCombo", i), texts(s, kStrModes));
        p.localIp = named(new Ipv4AddressEdit(group), portName("LocalIpEdit", i));
        p.localPort = numberField(group, portName("LocalPortEdit", i));
        p.peerIp = named(new Ipv4AddressEdit(group), portName("PeerIpEdit", i));
        p.peerPort = numberField(group, portName("PeerPortEdit", i));
        p.timeout = numberField(group, portName("TimeoutEdit", i));
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
        portGrid(group, s, {kStrBaudrate, kStrParity, kStrDataBit, kStrStopBit, kStrFlowControl, kStrEventByte});
    QStringList rates;
    for (const char* rate : kRates)
        rates << QString::fromLatin1(rate);
    for (int i = 0; i < EditorControls::kPortCount; ++i) {
        PortControls& p = c.ports[static_cast<std::size_t>(i)];
        p.baudRate = list(group, portName("BaudRateCombo", i), rates);
        p.parity = list(group, portName("ParityCombo", i), texts(s, kStrParities));
        p.dataBits = list(group, portName("DataBitsCombo", i),
                          {QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8")});
        p.stopBits = list(group, portName("StopBitsCombo", i), {QStringLiteral("1"), QStringLiteral("2")});
        p.flowControl = list(group, portName("FlowControlCombo", i), texts(s, kStrFlowControls));
        p.eventByte = numberField(group, portName("EventByteEdit", i));
        int column = 1;
        for (QWidget* field :
             std::initializer_list<QWidget*>{p.baudRate, p.parity, p.dataBits, p.stopBits, p.flowControl, p.eventByte})
            grid->addWidget(field, i + 1, column++);
    }
    return group;
}

QPushButton* button(QWidget* parent, const QString& name, const QString& caption)
{
    auto* b = named(new QPushButton(caption, parent), name);
    // The Enter key never presses a button of the editor.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QHBoxLayout* buttonRow(EditorControls& c, QWidget* w, const StringTable& s)
{
    c.readButton = button(w, QStringLiteral("readButton"), s.text(kStrRead));
    c.writeButton = button(w, QStringLiteral("writeButton"), s.text(kStrWrite));
    c.accountButton = button(w, QStringLiteral("accountButton"), s.text(kStrPppoeId));
    c.passwordButton = button(w, QStringLiteral("passwordButton"), s.text(kStrSetPassword));
    c.statusButton = button(w, QStringLiteral("statusButton"), s.text(kStrStatus));
    c.exportButton = button(w, QStringLiteral("exportButton"), s.text(settings_file::kStrExport));
    c.importButton = button(w, QStringLiteral("importButton"), s.text(settings_file::kStrImport));
    c.exitButton = button(w, QStringLiteral("exitButton"), s.text(kStrExit));
    auto* row = new QHBoxLayout;
    for (QPushButton* b : {c.readButton, c.writeButton, c.accountButton, c.passwordButton, c.statusButton,
                           c.exportButton, c.importButton})
        row->addWidget(b);
    row->addStretch(1);
    row->addWidget(c.exitButton);
    return row;
}
} // namespace

void buildEditorControls(EditorControls& c, QWidget* w, const StringTable& s)
{
    auto* top = new QHBoxLayout;
    top->addWidget(networkGroup(c, w, s), 1);
    top->addWidget(optionGroup(c, w, s), 1);

    c.comment = named(new QLineEdit(w), QStringLiteral("commentEdit"));
    auto* commentRow = new QHBoxLayout;
    commentRow->addWidget(new QLabel(s.text(kStrComment), w));
    commentRow->addWidget(c.comment, 1);

    auto* layout = new QVBoxLayout(w);
    layout->addLayout(top);
    layout->addWidget(tcpIpGroup(c, w, s));
    layout->addWidget(serialGroup(c, w, s));
    layout->addLayout(commentRow);
    layout->addLayout(buttonRow(c, w, s));
}
