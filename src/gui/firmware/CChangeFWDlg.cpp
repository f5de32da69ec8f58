#include "CChangeFWDlg.h"

#include "firmware/CQuickBurnWnd.h"
#include "firmware/FirmwareImage.h"
#include "firmware/PleaseWaitWindow.h"
#include "firmware/TftpPacket.h"
#include "gui/Accessibility.h"
#include "gui/AppIcon.h"
#include "gui/CMsgDlg.h"
#include "gui/FileService.h"
#include "gui/Ipv4AddressEdit.h"
#include "gui/MessageService.h"
#include "protocol/Ipv4.h"
#include "text/StringTable.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QVBoxLayout>

namespace {
// String numbers of the firmware dialog.
constexpr int kStrLocalIpAddress = 117;
constexpr int kStrChangeFirmware = 153;
constexpr int kStrFirmware = 154;
constexpr int kStrFirmwareFile = 2170;
constexpr int kStrCrc = 155;
constexpr int kStrClose = 156;
constexpr int kStrSend = 157;
constexpr int kStrNoFirmware = 159;
constexpr int kStrFileSize = 160;
constexpr int kStrTimeout = 161;
constexpr int kStrMemoryError = 162;
constexpr int kStrCompleted = 163;
constexpr int kStrProduct = 187;
// Texts of this port.
constexpr int kStrNotUnicast = 901;
constexpr int kStrNotAnAddress = 906;
constexpr int kStrProductDirect = 920;
constexpr int kStrProductShell = 921;
constexpr int kStrTypeTarget = 922;
constexpr int kStrProgressName = 1406; // what a screen reader calls the progress bar
// Access keys of Firmware, Send and Close.
constexpr int kKeyFirmware = 1510;
constexpr int kKeySend = 1511;
constexpr int kKeyClose = 1512;

const QString kLabelSuffix = QStringLiteral(" : ");
const QString kFilter = QStringLiteral("*.bin (*.bin)");

template <typename W> W* control(W* widget, const char* objectName, int id)
{
    widget->setObjectName(QString::fromLatin1(objectName));
    widget->setProperty("controlId", id);
    return widget;
}
} // namespace

/** The engine's please-wait window: the dialog's progress message window. */
class CChangeFWDlg::PleaseWait final : public PleaseWaitWindow
{
public:
    explicit PleaseWait(CMsgDlg& window) : m_window(window) {}
    void ShowProgress(const QString& text) override { m_window.ShowProgress(text); }
    void HideProgress() override { m_window.HideProgress(); }

private:
    CMsgDlg& m_window;
};

CChangeFWDlg::CChangeFWDlg(const AppContext& context, QWidget* parent) : QDialog(parent), m_context(context)
{
    setObjectName(QStringLiteral("firmwareDialog"));
    setProperty("controlId", kDialogId);
    setWindowIcon(programIcon());
    buildControls();
    loadTexts();
    m_pleaseWaitDialog =
        std::make_unique<CMsgDlg>(this, text(StringTable::kProgramTitle), QStringList{CQuickBurnWnd::kPleaseWaitText});
    m_pleaseWaitDialog->setObjectName(QStringLiteral("pleaseWaitWindow"));
    m_pleaseWait = std::make_unique<PleaseWait>(*m_pleaseWaitDialog);
}

CChangeFWDlg::~CChangeFWDlg()
{
    closeEngine();
}

QString CChangeFWDlg::text(int id) const
{
    return m_context.strings.text(id);
}

void CChangeFWDlg::buildControls()
{
    m_productLabel = control(new QLabel(this), "productLabel", kIdProductLabel);
    m_productList = control(new QComboBox(this), "productList", kIdProductList);
    m_firmwareLabel = control(new QLabel(this), "firmwareLabel", kIdFirmwareLabel);
    m_firmwareName = control(new QLineEdit(this), "firmwareNameEdit", kIdFirmwareName);
    m_crcLabel = control(new QLabel(this), "crcLabel", kIdCrcLabel);
    m_crc = control(new QLineEdit(this), "crcEdit", kIdCrc);
    m_addressLabel = control(new QLabel(this), "addressLabel", kIdAddressLabel);
    m_address = control(new Ipv4AddressEdit(this), "addressEdit", kIdAddress);
    m_progress = control(new QProgressBar(this), "progressBar", kIdProgress);
    m_firmwareButton = control(new QPushButton(this), "firmwareButton", kIdFirmwareButton);
    m_sendButton = control(new QPushButton(this), "sendButton", kIdSendButton);
    m_closeButton = control(new QPushButton(this), "closeButton", kIdCloseButton);

    m_firmwareName->setReadOnly(true);
    m_crc->setReadOnly(true);
    m_progress->setTextVisible(false);
    m_closeButton->setDefault(true);
    m_firmwareButton->setAutoDefault(false);
    m_sendButton->setAutoDefault(false);
    layOutControls();
    connect(m_firmwareButton, &QPushButton::clicked, this, &CChangeFWDlg::onChooseFirmware);
    connect(m_sendButton, &QPushButton::clicked, this, &CChangeFWDlg::onSend);
    connect(m_closeButton, &QPushButton::clicked, this, &CChangeFWDlg::accept);
}

void CChangeFWDlg::layOutControls()
{
    auto* grid = new QGridLayout;
    const std::pair<QLabel*, QWidget*> rows[] = {{m_productLabel, m_productList},
                                                 {m_firmwareLabel, m_firmwareName},
                                                 {m_crcLabel, m_crc},
                                                 {m_addressLabel, m_address}};
    int row = 0;
    for (const auto& [label, field] : rows) {
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row++, 1);
    }
    grid->setColumnMinimumWidth(1, 240);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {m_firmwareButton, m_sendButton, m_closeButton})
        buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(m_progress);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CChangeFWDlg::loadTexts()
{
    setWindowTitle(text(kStrChangeFirmware));
    m_productLabel->setText(text(kStrProduct) + kLabelSuffix);
    m_firmwareLabel->setText(text(kStrFirmware) + kLabelSuffix);
    m_crcLabel->setText(text(kStrCrc) + kLabelSuffix);
    m_addressLabel->setText(text(kStrLocalIpAddress) + kLabelSuffix);
    const StringTable& strings = m_context.strings;
    accessibility::setCaption(m_firmwareButton, strings, text(kStrFirmware), kKeyFirmware);
    accessibility::setCaption(m_sendButton, strings, text(kStrSend), kKeySend);
    accessibility::setCaption(m_closeButton, strings, text(kStrClose), kKeyClose);
    // The fields are named without the labels' " : ".
    accessibility::name(m_productList, text(kStrProduct));
    // The button that chooses the file says "Firmware": the box it fills is named for what it holds.
    accessibility::name(m_firmwareName, text(kStrFirmwareFile));
    accessibility::name(m_crc, text(kStrCrc));
    accessibility::name(m_address, text(kStrLocalIpAddress));
    accessibility::name(m_progress, text(kStrProgressName));
    m_productList->clear();
    m_productList->addItems({text(kStrProductDirect), text(kStrProductShell)});
}

void CChangeFWDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_engine)
        return; // shown again while open (restored from minimised)
    // Opening: the fields from the last opening, the device's address and the way its product takes.
    refreshFields();
    m_address->setText(ipv4::dotted(m_targetAddress));
    m_productList->setCurrentIndex(m_productCode == kShellProductCode ? kEntryShell : kEntryDirect);
    setButtonsEnabled(true);
    openEngine();
}

void CChangeFWDlg::openEngine()
{
    m_engine = std::make_unique<CQuickBurnWnd>(m_context.network, m_pleaseWait.get());
    connect(m_engine.get(), &CQuickBurnWnd::transferNotification, this, &CChangeFWDlg::onTransfer);
}

void CChangeFWDlg::closeEngine()
{
    m_transferring = false;
    if (!m_engine)
        return;
    m_engine->disconnect(this);
    if (m_notifying > 0)
        m_engine.release()->deleteLater(); // closed from inside its own notification
    else
        m_engine.reset();
    m_pleaseWaitDialog->HideProgress();
}

void CChangeFWDlg::done(int result)
{
    closeEngine();
    QDialog::done(result);
}

void CChangeFWDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept(); // Escape does not close this dialog
        return;
    }
    QDialog::keyPressEvent(event);
}

void CChangeFWDlg::refreshFields()
{
    m_firmwareName->setText(m_fileName);
    m_crc->setText(m_crcText);
}

void CChangeFWDlg::setButtonsEnabled(bool enabled)
{
    for (QPushButton* b : {m_firmwareButton, m_sendButton, m_closeButton})
        b->setEnabled(enabled);
}

void CChangeFWDlg::error(const QString& message)
{
    m_context.messages.error(this, message, text(StringTable::kProgramTitle));
}

void CChangeFWDlg::onChooseFirmware()
{
    const QString directory = m_filePath.isEmpty() ? QString() : QFileInfo(m_filePath).absolutePath();
    const QString chosen = m_context.files.openFileName(this, QString(), directory, kFilter);
    if (chosen.isEmpty())
        return;
    m_filePath = chosen;
    m_fileName = QFileInfo(chosen).fileName();
    m_crcText.clear();
    refreshFields();
}

std::optional<std::uint32_t> CChangeFWDlg::typedTarget()
{
    // Text that is no address is named as typed; a blank field reads as 0.0.0.0, to which nothing is
    // sent, and any other address that names no single device gets the single-device message.
    const QString typed = m_address->text();
    const std::optional<std::uint32_t> address = m_address->addressOrZero();
    if (!address) {
        error(text(kStrNotAnAddress).arg(typed));
        return std::nullopt;
    }
    if (*address == 0) {
        error(text(kStrTypeTarget));
        return std::nullopt;
    }
    if (!ipv4::isUnicastDeviceAddress(*address)) {
        error(text(kStrNotUnicast).arg(ipv4::dotted(*address)));
        return std::nullopt;
    }
    return address;
}

bool CChangeFWDlg::loadFile()
{
    m_image.clear();
    const FirmwareImage image = FirmwareImage::load(m_filePath);
    if (!image.loaded()) {
        error(image.problemText(m_context.strings, QLocale::system(), m_fileName));
        return false;
    }
    m_image = image.bytes;
    m_crcText = image.crcText();
    refreshFields();
    return true;
}

void CChangeFWDlg::onSend()
{
    if (m_filePath.isEmpty() || m_fileName.isEmpty()) {
        error(text(kStrNoFirmware));
        return;
    }
    const std::optional<std::uint32_t> target = typedTarget();
    if (!target || !loadFile() || !m_engine)
        return;
    // An empty image still has a bar that can end at its maximum.
    m_progress->setRange(0, std::max<int>(1, static_cast<int>(m_image.size())));
    m_progress->setValue(0);
    refreshFields();
    setButtonsEnabled(false);
    m_transferring = true;
    const auto* image = reinterpret_cast<const std::uint8_t*>(m_image.constData());
    const auto length = static_cast<std::uint32_t>(m_image.size());
    if (m_productCode == kShellProductCode || m_productList->currentIndex() == kEntryShell)
        m_engine->StartShellUpload(*target, m_fileName, image, length);
    else
        m_engine->StartTftpUpload(*target, m_fileName, image, length);
}

void CChangeFWDlg::onTransfer(int code, qint64 value, const QString& message)
{
    ++m_notifying;
    const auto leave = qScopeGuard([this] { --m_notifying; });
    switch (code) {
    case CQuickBurnWnd::kProgress:
        m_progress->setValue(static_cast<int>(value));
        return;
    case CQuickBurnWnd::kComplete:
        m_progress->setValue(m_progress->maximum());
        m_transferring = false;
        m_context.messages.information(this, text(kStrCompleted), text(StringTable::kProgramTitle));
        break;
    case CQuickBurnWnd::kNoResponse:
    case CQuickBurnWnd::kTftpError:
    case CQuickBurnWnd::kSocketError:
    case CQuickBurnWnd::kSizeRejected:
    case CQuickBurnWnd::kDeviceTimeout: {
        m_transferring = false;
        const QString shown = code == CQuickBurnWnd::kNoResponse     ? text(kStrTimeout)
                              : code == CQuickBurnWnd::kTftpError    ? message
                              : code == CQuickBurnWnd::kSocketError  ? systemErrorMessage(static_cast<int>(value))
                              : code == CQuickBurnWnd::kSizeRejected ? text(kStrFileSize)
                                                                     : text(kStrMemoryError);
        if (!shown.isEmpty())
            error(shown);
        break;
    }
    default:
        return; // any other code is ignored
    }
    setButtonsEnabled(true);
}
