#include "CStatDlg.h"

#include "gui/Accessibility.h"
#include "gui/AppIcon.h"
#include "gui/status/LiveTrafficPanel.h"
#include "status/StatusSource.h"
#include "text/StringTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <span>

namespace {
using status::Field;

/** One field of the report: the item it shows, its control, its label (string number; 0 for none) and the
 *  string a screen reader names it by, both in the user's language. */
struct FieldControl
{
    Field field;
    int id;
    const char* objectName;
    int labelId;
    int nameId;
};

// Names of the fields (string numbers).
constexpr int kStrMacAddress = 105;
constexpr int kStrLocalIpAddress = 117;
constexpr int kStrSubnetMask = 1003;
constexpr int kStrGateway = 1004;
constexpr int kStrVersion = 1401;
constexpr int kStrUptime = 1402;
constexpr int kStrRx = 1403;
constexpr int kStrTx = 1404;
constexpr int kStrTextBoxName = 1405;
constexpr int kStrBasicStatus = 2133;
constexpr int kStrMacLabel = 2134;
constexpr int kStrLocalIpLabel = 2135;
constexpr int kStrSubnetLabel = 2136;
constexpr int kStrGatewayLabel = 2137;
constexpr int kKeyOk = 1515;
constexpr int kKeyLive = 1545;
constexpr int kKeyInterval = 1546;

constexpr FieldControl kIdentityFields[] = {
    {Field::Version, CStatDlg::kIdVersion, "versionEdit", kStrVersion, kStrVersion},
    {Field::Uptime, CStatDlg::kIdUptime, "uptimeEdit", kStrUptime, kStrUptime},
    {Field::Mac, CStatDlg::kIdMac, "macEdit", kStrMacLabel, kStrMacAddress},
    {Field::LocalIp, CStatDlg::kIdLocalIp, "localIpEdit", kStrLocalIpLabel, kStrLocalIpAddress},
    {Field::Subnet, CStatDlg::kIdSubnet, "subnetEdit", kStrSubnetLabel, kStrSubnetMask},
    {Field::Gateway, CStatDlg::kIdGateway, "gatewayEdit", kStrGatewayLabel, kStrGateway},
};

/** The counters: per port the received (RX) and the sent (TX) field, named "COM1 RX" and so on. */
constexpr FieldControl kCounterFields[] = {
    {Field::Com1Rx, CStatDlg::kIdCom1Rx, "com1RxEdit", 0, kStrRx},
    {Field::Com1Tx, CStatDlg::kIdCom1Tx, "com1TxEdit", 0, kStrTx},
    {Field::Com2Rx, CStatDlg::kIdCom2Rx, "com2RxEdit", 0, kStrRx},
    {Field::Com2Tx, CStatDlg::kIdCom2Tx, "com2TxEdit", 0, kStrTx},
    {Field::Com3Rx, CStatDlg::kIdCom3Rx, "com3RxEdit", 0, kStrRx},
    {Field::Com3Tx, CStatDlg::kIdCom3Tx, "com3TxEdit", 0, kStrTx},
    {Field::Com4Rx, CStatDlg::kIdCom4Rx, "com4RxEdit", 0, kStrRx},
    {Field::Com4Tx, CStatDlg::kIdCom4Tx, "com4TxEdit", 0, kStrTx},
};

constexpr int kFieldChars = 26;   // wide enough for "Tessel/LAN Rev. 255.255A 255MHz"
constexpr int kCounterChars = 12; // "4294967295"
constexpr int kTextBoxColumns = 64;
constexpr int kTextBoxLines = 12;
constexpr int kStrLive = 1250;
constexpr int kStrInterval = 1251;
constexpr int kStrSeconds = 1252;
constexpr int kStrLiveDescription = 1261;
constexpr int kStrNotReported = 2150;
const QString kMissing = QStringLiteral("–");
constexpr int kStrIntervalDescription = 1262;

template <typename W> W* withId(W* widget, const char* objectName, int id)
{
    widget->setObjectName(QString::fromLatin1(objectName));
    widget->setProperty("controlId", id);
    return widget;
}

/** The device's line breaks ("\r\n", or a lone CR or LF) as the text box's own. */
QString displayed(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}
} // namespace

CStatDlg::CStatDlg(const AppContext& context, QWidget* parent) : QDialog(parent), m_context(context)
{
    setObjectName(QStringLiteral("statusDialog"));
    setProperty("controlId", kDialogId);
    setWindowIcon(programIcon());
    buildControls();
    setWindowTitle(m_context.strings.text(kStrTitle));
    accessibility::setCaption(m_okButton, m_context.strings, m_context.strings.text(kStrOk), kKeyOk);
    m_clock.start();
    m_liveTimer.setParent(this); // found by its name, as the controls are
    m_liveTimer.setObjectName(QStringLiteral("liveTimer"));
    m_liveTimer.setSingleShot(true);
    connect(&m_liveTimer, &QTimer::timeout, this, &CStatDlg::askForReading);
}

QLineEdit* CStatDlg::addField(Field field, int id, const char* objectName)
{
    auto* edit = withId(new QLineEdit(this), objectName, id);
    edit->setReadOnly(true);
    m_edits[static_cast<std::size_t>(field)] = edit;
    return edit;
}

void CStatDlg::buildControls()
{
    const StringTable& strings = m_context.strings;
    auto* group = new QGroupBox(strings.text(kStrBasicStatus), this);
    group->setObjectName(QStringLiteral("basicStatusGroupBox"));
    auto* identity = new QGridLayout;
    int row = 0;
    for (const FieldControl& f : kIdentityFields) {
        QLineEdit* edit = addField(f.field, f.id, f.objectName);
        accessibility::name(edit, m_context.strings.text(f.nameId));
        edit->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('0')) * kFieldChars);
        auto* label = new QLabel(strings.text(f.labelId), group);
        label->setBuddy(edit);
        identity->addWidget(label, row, 0);
        identity->addWidget(edit, row++, 1);
    }
    auto* counters = new QGridLayout;
    counters->addWidget(new QLabel(strings.text(kStrRx), group), 0, 1, Qt::AlignHCenter);
    counters->addWidget(new QLabel(strings.text(kStrTx), group), 0, 2, Qt::AlignHCenter);
    for (std::size_t i = 0; i < std::size(kCounterFields); ++i) {
        const FieldControl& f = kCounterFields[i];
        QLineEdit* edit = addField(f.field, f.id, f.objectName);
        edit->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('0')) * kCounterChars);
        edit->setAlignment(Qt::AlignRight);
        const int port = static_cast<int>(i / 2) + 1;
        accessibility::name(
            edit, accessibility::portFieldName(m_context.strings, port - 1, m_context.strings.text(f.nameId)));
        if (i % 2 == 0)
            counters->addWidget(new QLabel(QStringLiteral("COM%1").arg(port), group), port, 0);
        counters->addWidget(edit, port, static_cast<int>(i % 2) + 1);
    }
    counters->setRowStretch(5, 1);
    auto* groupLayout = new QHBoxLayout(group);
    groupLayout->addLayout(identity, 3);
    groupLayout->addSpacing(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 2);
    groupLayout->addLayout(counters, 2);

    // The report on the left, the live graphs (while "Live" is ticked) on its right, the buttons below.
    auto* report = new QVBoxLayout;
    report->addWidget(group);
    m_livePanel = new LiveTrafficPanel(m_context.strings, this);
    m_livePanel->hide();
    auto* body = new QHBoxLayout;
    body->addLayout(report);
    body->addWidget(m_livePanel, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body, 1);
    buildTextBoxAndButton(report, layout);
}

void CStatDlg::buildTextBoxAndButton(QVBoxLayout* report, QVBoxLayout* layout)
{
    m_textBox = withId(new QPlainTextEdit(this), "textBox", kIdTextBox);
    m_textBox->setReadOnly(true);
    accessibility::name(m_textBox, m_context.strings.text(kStrTextBoxName));
    m_textBox->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_textBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_textBox->setMinimumSize(fontMetrics().horizontalAdvance(QLatin1Char('-')) * kTextBoxColumns,
                              fontMetrics().lineSpacing() * kTextBoxLines);

    m_okButton = withId(new QPushButton(this), "okButton", kIdOk);
    m_okButton->setDefault(true);
    connect(m_okButton, &QPushButton::clicked, this, &CStatDlg::accept);
    auto* buttons = new QHBoxLayout;
    buildLiveControls(buttons);
    buttons->addStretch(1);
    buttons->addWidget(m_okButton);

    report->addWidget(m_textBox, 1);
    layout->addLayout(buttons);
}

void CStatDlg::buildLiveControls(QHBoxLayout* buttons)
{
    const StringTable& strings = m_context.strings;
    m_liveCheck = new QCheckBox(this);
    m_liveCheck->setObjectName(QStringLiteral("liveCheckBox"));
    accessibility::setCaption(m_liveCheck, strings, strings.text(kStrLive), kKeyLive);
    m_liveCheck->setAccessibleDescription(strings.text(kStrLiveDescription));
    m_liveCheck->setToolTip(strings.text(kStrLiveDescription));
    m_intervalCombo = new QComboBox(this);
    m_intervalCombo->setObjectName(QStringLiteral("liveIntervalCombo"));
    accessibility::name(m_intervalCombo, strings.text(kStrInterval));
    m_intervalCombo->setAccessibleDescription(strings.text(kStrIntervalDescription));
    for (const int seconds : kIntervalsS)
        m_intervalCombo->addItem(strings.text(kStrSeconds).arg(seconds), seconds * 1000);
    m_intervalCombo->setCurrentIndex(kDefaultInterval);
    // Alt and the label's key take the focus to the list.
    auto* label = new QLabel(accessibility::withKey(strings, strings.text(kStrInterval), kKeyInterval), this);
    label->setObjectName(QStringLiteral("liveIntervalLabel"));
    label->setBuddy(m_intervalCombo);
    buttons->addWidget(m_liveCheck);
    buttons->addSpacing(fontMetrics().averageCharWidth() * 2);
    buttons->addWidget(label);
    buttons->addWidget(m_intervalCombo);
    connect(m_liveCheck, &QCheckBox::toggled, this, &CStatDlg::onLiveToggled);
    connect(m_intervalCombo, &QComboBox::currentIndexChanged, this, [this] {
        if (m_liveTimer.isActive())
            scheduleReading(); // the next reading follows the new interval from the last one
    });
}

void CStatDlg::decodeReport()
{
    setWindowTitle(m_context.strings.text(kStrTitle));
    accessibility::setCaption(m_okButton, m_context.strings, m_context.strings.text(kStrOk), kKeyOk);
    showText(false);
    showFields();
    m_okButton->setFocus(); // the one thing to do here; Enter closes the report
}

void CStatDlg::showText(bool keepScroll)
{
    // Each report is shown on its own: a field its report lacks shows as missing, not as an older value.
    m_fields = {};
    const QString text =
        displayed(status::decode(std::span<const std::uint8_t>(m_statusData).first(status::kBlockSize), m_fields));
    if (keepScroll) {
        // A live reading: the text box stays where the user scrolled it.
        if (text == m_textBox->toPlainText())
            return;
        const int top = m_textBox->verticalScrollBar()->value();
        const int left = m_textBox->horizontalScrollBar()->value();
        m_textBox->setPlainText(text);
        m_textBox->verticalScrollBar()->setValue(top);
        m_textBox->horizontalScrollBar()->setValue(left);
        return;
    }
    m_textBox->clear();
    m_textBox->insertPlainText(text);
    // The caret after the first character, scrolled into view: the box shows the start of its text.
    QTextCursor caret = m_textBox->textCursor();
    caret.setPosition(std::min(1, m_textBox->document()->characterCount() - 1));
    m_textBox->setTextCursor(caret);
    m_textBox->ensureCursorVisible();
}

void CStatDlg::showFields()
{
    for (std::size_t i = 0; i < status::kFieldCount; ++i) {
        const bool missing = m_fields.texts[i].isEmpty();
        m_edits[i]->setText(missing ? kMissing : m_fields.texts[i]);
        m_edits[i]->setToolTip(missing ? m_context.strings.text(kStrNotReported) : QString());
        m_edits[i]->setAccessibleDescription(m_edits[i]->toolTip());
        m_edits[i]->setCursorPosition(0);
    }
}

int CStatDlg::exec()
{
    decodeReport();
    if (live())
        startLive(true); // the report just decoded is the first reading
    return QDialog::exec();
}

void CStatDlg::done(int result)
{
    stopLive();
    QDialog::done(result);
}

bool CStatDlg::live() const
{
    return m_liveCheck->isChecked();
}

int CStatDlg::intervalMs() const
{
    return m_intervalCombo->currentData().toInt();
}

void CStatDlg::onLiveToggled(bool on)
{
    // Each view keeps the size the user gave it: the window takes it again when the view comes back, and
    // grows to its natural size only the first time.
    m_viewSizes[on ? 0 : 1] = size();
    const QSize chosen = m_viewSizes[on ? 1 : 0];
    if (!on) {
        stopLive();
        m_livePanel->hide();
        if (chosen.isValid())
            resize(chosen.expandedTo(minimumSizeHint()));
        else
            adjustSize();
        return;
    }
    m_livePanel->show();
    resize(chosen.isValid() ? chosen.expandedTo(minimumSizeHint()) : size().expandedTo(sizeHint()));
    if (isVisible())
        startLive(false); // what the fields show may be old: read afresh
}

void CStatDlg::startLive(bool freshData)
{
    stopLive();
    m_livePanel->show();
    m_livePanel->startOver();
    if (!freshData) {
        askForReading();
        return;
    }
    const auto block = std::span<const std::uint8_t>(m_statusData).first(status::kBlockSize);
    m_askedAtMs = m_clock.elapsed();
    m_livePanel->addReading(status::Reading{m_askedAtMs, true, status::readCounters(block)},
                            QDateTime::currentMSecsSinceEpoch());
    scheduleReading();
}

void CStatDlg::stopLive()
{
    m_liveTimer.stop();
    if (m_waiting && m_source)
        m_source->cancelStatusReading();
    m_waiting = false;
}

void CStatDlg::askForReading()
{
    if (!m_source || m_waiting)
        return;
    m_askedAtMs = m_clock.elapsed();
    m_waiting = true;
    const bool asked = m_source->requestStatusReading(
        [this](bool answered, std::span<const std::uint8_t> block) { takeReading(answered, block); });
    if (!asked) {
        m_waiting = false; // another request is under way: try again at the next interval
        scheduleReading();
    }
}

void CStatDlg::scheduleReading()
{
    const qint64 due = m_askedAtMs + intervalMs() - m_clock.elapsed();
    m_liveTimer.start(static_cast<int>(std::clamp<qint64>(due, 0, intervalMs())));
}

void CStatDlg::takeReading(bool answered, std::span<const std::uint8_t> block)
{
    m_waiting = false;
    status::Reading reading{m_clock.elapsed(), answered, {}};
    if (answered) {
        block = block.first(std::min(block.size(), status::kBlockSize));
        std::fill(m_statusData.begin(), m_statusData.end(), std::uint8_t{0});
        std::copy(block.begin(), block.end(), m_statusData.begin());
        showText(true);
        showFields();
        reading.counters = status::readCounters(block);
    }
    m_livePanel->addReading(reading, QDateTime::currentMSecsSinceEpoch());
    setAccessibleDescription(m_livePanel->summary());
    if (live() && isVisible())
        scheduleReading();
}
