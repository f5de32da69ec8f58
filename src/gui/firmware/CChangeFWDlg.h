#pragma once

#include "gui/AppContext.h"

#include <QByteArray>
#include <QDialog>
#include <QString>

#include <cstdint>
#include <memory>

class CMsgDlg;
class CQuickBurnWnd;
class Ipv4AddressEdit;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

/**
 * The firmware dialog (dialog 161): the user picks a firmware file, chooses the product kind and the
 * target address and sends the file to one device, directly by TFTP or through the device's shell.
 * The search window owns one instance for the whole run, so the chosen file and its CRC are shown
 * again at the next opening. The transfer engine lives while the dialog is open; closing the dialog
 * abandons a transfer under way.
 */
class CChangeFWDlg final : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kDialogId = 161;
    static constexpr int kIdProductLabel = 1208;
    static constexpr int kIdProductList = 1209;
    static constexpr int kIdFirmwareLabel = 1201;
    static constexpr int kIdFirmwareName = 1203;
    static constexpr int kIdCrcLabel = 1202;
    static constexpr int kIdCrc = 1204;
    static constexpr int kIdAddressLabel = 1200;
    static constexpr int kIdAddress = 1035;
    static constexpr int kIdProgress = 1207;
    static constexpr int kIdFirmwareButton = 1205;
    static constexpr int kIdSendButton = 1206;
    static constexpr int kIdCloseButton = 1;
    /** Devices of this product code always take their firmware through the shell. */
    static constexpr int kShellProductCode = 10;
    /** Product entry 0 uploads directly, entry 1 through the shell. */
    static constexpr int kEntryDirect = 0;
    static constexpr int kEntryShell = 1;

    explicit CChangeFWDlg(const AppContext& context, QWidget* parent = nullptr);
    ~CChangeFWDlg() override;

    /** Set by the search window before opening: the selected device's product code (0 for none) and
     *  its address (host order, 0 for none). */
    void setProductCode(int code) { m_productCode = code; }
    void setTargetAddress(std::uint32_t address) { m_targetAddress = address; }

    QString filePath() const { return m_filePath; }
    QString crcText() const { return m_crcText; }
    /** The engine while the dialog is open, else nullptr. */
    CQuickBurnWnd* engine() const { return m_engine.get(); }
    CMsgDlg& pleaseWaitWindow() const { return *m_pleaseWaitDialog; }
    bool transferring() const { return m_transferring; }

    /** Ends the dialog; a transfer under way is abandoned without a message. */
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    class PleaseWait;

    void buildControls();
    void layOutControls();
    void loadTexts();
    void openEngine();
    void closeEngine();
    void refreshFields();
    void setButtonsEnabled(bool enabled);

    void onChooseFirmware();
    void onSend();
    std::optional<std::uint32_t> typedTarget();
    bool loadFile();
    void onTransfer(int code, qint64 value, const QString& message);
    void error(const QString& text);
    QString text(int id) const;

    AppContext m_context;
    int m_productCode = 0;
    std::uint32_t m_targetAddress = 0;
    QString m_filePath;
    QString m_fileName;
    QString m_crcText;
    QByteArray m_image;
    bool m_transferring = false;
    int m_notifying = 0;
    std::unique_ptr<CMsgDlg> m_pleaseWaitDialog;
    std::unique_ptr<PleaseWait> m_pleaseWait;
    std::unique_ptr<CQuickBurnWnd> m_engine;

    QLabel* m_productLabel = nullptr;
    QComboBox* m_productList = nullptr;
    QLabel* m_firmwareLabel = nullptr;
    QLineEdit* m_firmwareName = nullptr;
    QLabel* m_crcLabel = nullptr;
    QLineEdit* m_crc = nullptr;
    QLabel* m_addressLabel = nullptr;
    Ipv4AddressEdit* m_address = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_firmwareButton = nullptr;
    QPushButton* m_sendButton = nullptr;
    QPushButton* m_closeButton = nullptr;
};
