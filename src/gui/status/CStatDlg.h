#pragma once

#include "gui/AppContext.h"
#include "status/StatusReport.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <array>
#include <cstdint>
#include <span>

class LiveTrafficPanel;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QHBoxLayout;
class QVBoxLayout;
class StatusSource;

/**
 * The status report of one device (dialog 104): version, uptime, network identity, the serial counters
 * of the four ports and a text box with the device's free text and LAN statistics. The settings editor
 * creates it once, fills the first 1460 bytes of statusData() after each status reply and runs exec().
 * Each opening and each live reading decodes the data afresh; a field whose item the report lacks shows
 * "–" (its tooltip says the report did not give it), never an older report's value.
 *
 * With "Live" ticked (it starts unticked) the dialog asks its StatusSource for the status again at
 * every interval (1, 2, 5 or 10 s) while it is open, shows each answer in its fields and draws each
 * port's traffic rates beside them; a restart and an unanswered reading are marks on the graphs, and the
 * readings go on.
 */
class CStatDlg final : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kDialogId = 104;
    static constexpr int kIdVersion = 1176;
    static constexpr int kIdUptime = 1166;
    static constexpr int kIdMac = 1177;
    static constexpr int kIdLocalIp = 1035;
    static constexpr int kIdSubnet = 1178;
    static constexpr int kIdGateway = 1026;
    static constexpr int kIdCom1Rx = 1163;
    static constexpr int kIdCom1Tx = 1164;
    static constexpr int kIdCom2Rx = 1167;
    static constexpr int kIdCom2Tx = 1169;
    static constexpr int kIdCom3Rx = 1170;
    static constexpr int kIdCom3Tx = 1172;
    static constexpr int kIdCom4Rx = 1173;
    static constexpr int kIdCom4Tx = 1175;
    static constexpr int kIdTextBox = 1080;
    static constexpr int kIdOk = 1;
    static constexpr int kStrTitle = 112; // "Status"
    static constexpr int kStrOk = 177;    // "OK"
    static constexpr std::size_t kBufferSize = 2048;
    static constexpr int kIntervalsS[] = {1, 2, 5, 10};
    static constexpr int kDefaultInterval = 1; // 2 s

    explicit CStatDlg(const AppContext& context, QWidget* parent = nullptr);

    /** The status data; the owner fills its first 1460 bytes before each opening. */
    std::array<std::uint8_t, kBufferSize>& statusData() { return m_statusData; }

    /** Opens the report modally: decodes the status data (decodeReport) and runs until OK. */
    int exec() override;

    /** The opening without the modal loop: title and button texts, the text box emptied, the status data
     *  decoded into the fields and the text box, the caret after the first character. */
    void decodeReport();

    /** The fields' texts as the last decoding gave them (empty for items the report lacked). */
    const status::StatusFields& fields() const { return m_fields; }

    /** Where live readings come from; without one, "Live" reads nothing. */
    void setStatusSource(StatusSource* source) { m_source = source; }
    /** Takes one live reading as it arrives: the fields and the text box show an answer (keeping the text
     *  box where the user scrolled it), the graphs take its rates or its mark. */
    void takeReading(bool answered, std::span<const std::uint8_t> block);
    LiveTrafficPanel& livePanel() { return *m_livePanel; }
    bool live() const;
    /** Milliseconds between two live readings, as chosen. */
    int intervalMs() const;

    /** Stops the live readings (an answer still awaited is abandoned) and closes. */
    void done(int result) override;

private:
    void buildControls();
    void buildTextBoxAndButton(QVBoxLayout* report, QVBoxLayout* layout);
    void buildLiveControls(QHBoxLayout* buttons);
    QLineEdit* addField(status::Field field, int id, const char* objectName);
    void showFields();
    void showText(bool keepScroll);
    void onLiveToggled(bool on);
    void startLive(bool freshData);
    void stopLive();
    void askForReading();
    void scheduleReading();

    AppContext m_context;
    std::array<std::uint8_t, kBufferSize> m_statusData{};
    status::StatusFields m_fields;
    std::array<QLineEdit*, status::kFieldCount> m_edits{};
    QPlainTextEdit* m_textBox = nullptr;
    QPushButton* m_okButton = nullptr;
    QCheckBox* m_liveCheck = nullptr;
    QComboBox* m_intervalCombo = nullptr;
    LiveTrafficPanel* m_livePanel = nullptr;
    StatusSource* m_source = nullptr;
    QTimer m_liveTimer;
    QElapsedTimer m_clock;
    qint64 m_askedAtMs = 0;
    bool m_waiting = false; // a live reading was asked for and has not come back
    /** The window's size as the user left it without (0) and with (1) the live view; invalid until then. */
    std::array<QSize, 2> m_viewSizes{};
};
