#pragma once

#include "record/EnvRecord.h"
#include "serial/PortLink.h"

#include <QByteArray>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <memory>
#include <optional>

class MessageService;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class StringTable;

/**
 * A terminal for one serial port of a device, opened from the settings editor: it connects as the port's
 * mode says (as the record shown in the editor describes the port), sends text or hex with a choice of
 * line ending, and shows what goes out and what comes back as text and hex, with the time, the byte counts
 * and the round-trip time of the last answer. A port that takes no connection here, or a device that
 * refuses it, is said in a message and in the dialog's status line.
 */
class CPortTestDlg final : public QDialog
{
    Q_OBJECT

public:
    /** `deviceAddress` is where the editor reaches the device (host order). */
    CPortTestDlg(const StringTable& strings, MessageService& messages, const EnvRecord& record,
                 std::uint32_t deviceAddress, int port, QWidget* parent = nullptr);
    ~CPortTestDlg() override;

    bool isConnected() const { return m_link && m_link->isOpen(); }
    /** What goes out for the input as typed: the text (or hex bytes) and the line ending; nothing when
     *  the hex is not bytes. */
    std::optional<QByteArray> outgoing() const;

private:
    void onPortChosen();
    void onConnect();
    void onSend();
    void onReceived(const QByteArray& bytes);
    void onFailure(serial::Problem problem, const QString& detail);
    void addLine(bool sent, const QByteArray& bytes);
    void flushBurst();
    void showCounts();
    void setStatus(const QString& text);
    void updateButtons();
    serial::PortTarget target() const;

    const StringTable& m_strings;
    MessageService& m_messages;
    EnvRecord m_record;
    std::uint32_t m_deviceAddress;
    std::unique_ptr<serial::PortLink> m_link;
    QComboBox* m_port = nullptr;
    QLabel* m_endpoint = nullptr;
    QPushButton* m_connect = nullptr;
    QLineEdit* m_input = nullptr;
    QComboBox* m_format = nullptr;
    QComboBox* m_ending = nullptr;
    QPushButton* m_send = nullptr;
    QPlainTextEdit* m_log = nullptr;
    QLabel* m_counts = nullptr;
    QLabel* m_status = nullptr;
    qint64 m_sent = 0;
    qint64 m_received = 0;
    QElapsedTimer m_sentAt;
    bool m_waitingForAnswer = false;
    double m_lastRoundTripMs = -1;
    // What came back in one burst (a serial line delivers a few bytes at a time): shown as one line once
    // the line has been quiet for a moment.
    QByteArray m_burst;
    QTimer m_burstQuiet;
};
