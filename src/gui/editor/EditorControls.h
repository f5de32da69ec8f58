#pragma once

// The controls of the settings editor and how they are laid out: the "Network" and "Option" groups,
// the "TCP/IP" and "Serial Port" rows of the four ports, the comment and the button row. Plain
// pointers, owned by the editor window; the mapping to and from a record lives in EditorMapping.

#include <array>

class Ipv4AddressEdit;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
class StringTable;

/** One serial port's controls: its "TCP/IP" row and its "Serial Port" row. */
struct PortControls
{
    QComboBox* mode = nullptr;
    Ipv4AddressEdit* localIp = nullptr;
    QLineEdit* localPort = nullptr;
    Ipv4AddressEdit* peerIp = nullptr;
    QLineEdit* peerPort = nullptr;
    QLineEdit* timeout = nullptr;
    QComboBox* baudRate = nullptr;
    QComboBox* parity = nullptr;
    QComboBox* dataBits = nullptr;
    QComboBox* stopBits = nullptr;
    QComboBox* flowControl = nullptr;
    QLineEdit* eventByte = nullptr;
};

struct EditorControls
{
    static constexpr int kPortCount = 4;

    QLineEdit* mac = nullptr;
    QComboBox* ipv4Type = nullptr;
    Ipv4AddressEdit* ipAddress = nullptr;
    Ipv4AddressEdit* subnetMask = nullptr;
    Ipv4AddressEdit* gateway = nullptr;
    QComboBox* multiIp = nullptr;
    QComboBox* eapol = nullptr;
    QLineEdit* password = nullptr;
    QCheckBox* arp = nullptr;
    QCheckBox* remoteSearch = nullptr;
    QCheckBox* telnet = nullptr;
    QCheckBox* ssl = nullptr;
    std::array<PortControls, kPortCount> ports;
    QLineEdit* comment = nullptr;

    QPushButton* readButton = nullptr;
    QPushButton* writeButton = nullptr;
    QPushButton* accountButton = nullptr;
    QPushButton* passwordButton = nullptr;
    QPushButton* statusButton = nullptr;
    QPushButton* exportButton = nullptr;
    QPushButton* importButton = nullptr;
    QPushButton* historyButton = nullptr;
    QPushButton* testPortButton = nullptr;
    QPushButton* exitButton = nullptr;

    /** The line under the buttons that says what the last request did, to which device and when, or where
     *  the form's settings came from while they are not yet written. */
    QLabel* statusLine = nullptr;
};

/** Creates every control as a child of `window`, with its caption and list entries in the table's
 *  language, and lays them out in `window`. */
void buildEditorControls(EditorControls& controls, QWidget* window, const StringTable& strings);
/** Access keys of the account button (whichever of its two captions it shows) and of Set Password. */
constexpr int kKeyAccount = 1532;
constexpr int kKeySetPassword = 1533;
/** Puts the editor's controls in reading order for Tab. */
void setEditorTabOrder(const EditorControls& controls);
