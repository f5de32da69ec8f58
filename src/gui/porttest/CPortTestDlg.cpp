#include "CPortTestDlg.h"

#include "gui/Accessibility.h"
#include "gui/MessageService.h"
#include "text/StringTable.h"

#include <QComboBox>
#include <QDateTime>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// String table ids of the window's texts and access keys.
constexpr int kStrTitle = 2020;
constexpr int kStrPort = 2021;
constexpr int kStrConnect = 2022;
constexpr int kStrDisconnect = 2023;
constexpr int kStrSendText = 2024;
constexpr int kStrFormat = 2025;
constexpr int kStrText = 2026;
constexpr int kStrHex = 2027;
constexpr int kStrEnding = 2028;
constexpr int kStrNoEnding = 2029;
constexpr int kStrSend = 2030;
constexpr int kStrTraffic = 2031;
constexpr int kStrClose = 2032;
constexpr int kStrConnecting = 2033;
constexpr int kStrConnected = 2034;
constexpr int kStrCounts = 2035;
constexpr int kStrRoundTrip = 2036;
constexpr int kStrNotHex = 2037;
constexpr int kStrSentLine = 2038;
constexpr int kStrReceivedLine = 2039;
constexpr int kStrEndpoint = 2040;
constexpr int kStrNoConnection = 2041;
constexpr int kKeyPort = 2050;
constexpr int kKeyConnect = 2051;
constexpr int kKeySendText = 2052;
constexpr int kKeyFormat = 2053;
constexpr int kKeyEnding = 2054;
constexpr int kKeySend = 2055;
constexpr int kKeyClose = 2056;
constexpr int kKeyTraffic = 2057;

constexpr int kBurstQuietMs = 40;
constexpr qsizetype kBurstMost = 4096;

const char* const kEndings[] = {"", "\r", "\n", "\r\n"};
const char* const kEndingNames[] = {nullptr, "CR", "LF", "CR+LF"};

QString hexText(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

/** The bytes as text a line can show: control characters and bytes beyond ASCII as dots. */
QString printable(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes)
        text += (c >= 0x20 && c < 0x7F) ? QChar(QLatin1Char(c)) : QChar(u'·');
    return text;
}

/** A label naming `buddy`, with the access key of `keyId`; the buddy is named for a screen reader. */
QLabel* labelFor(QWidget* parent, const StringTable& s, int textId, int keyId, QWidget* buddy)
{
    auto* label = new QLabel(accessibility::withKey(s, s.text(textId), keyId), parent);
    label->setBuddy(buddy);
    accessibility::name(buddy, s.text(textId));
    return label;
}
} // namespace

CPortTestDlg::CPortTestDlg(const StringTable& strings, MessageService& messages, const EnvRecord& record,
                           std::uint32_t deviceAddress, int port, QWidget* parent)
    : QDialog(parent), m_strings(strings), m_messages(messages), m_record(record), m_deviceAddress(deviceAddress)
{
    setObjectName(QStringLiteral("portTestDialog"));
    setWindowTitle(strings.text(kStrTitle));
    const StringTable& s = strings;

    m_port = new QComboBox(this);
    m_port->setObjectName(QStringLiteral("portCombo"));
    for (int p = 0; p < EnvRecord::kPortCount; ++p)
        m_port->addItem(QStringLiteral("COM%1").arg(p + 1));
    m_port->setCurrentIndex(std::clamp(port, 0, EnvRecord::kPortCount - 1));
    m_endpoint = new QLabel(this);
    m_endpoint->setObjectName(QStringLiteral("endpointLabel"));
    m_endpoint->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    m_connect = new QPushButton(this);
    m_connect->setObjectName(QStringLiteral("connectButton"));
    m_connect->setAutoDefault(false);

    m_input = new QLineEdit(this);
    m_input->setObjectName(QStringLiteral("sendEdit"));
    m_format = new QComboBox(this);
    m_format->setObjectName(QStringLiteral("formatCombo"));
    m_format->addItems({s.text(kStrText), s.text(kStrHex)});
    m_ending = new QComboBox(this);
    m_ending->setObjectName(QStringLiteral("endingCombo"));
    m_ending->addItem(s.text(kStrNoEnding));
    for (int i = 1; i < 4; ++i)
        m_ending->addItem(QString::fromLatin1(kEndingNames[i]));
    m_ending->setCurrentIndex(1);
    m_send = new QPushButton(this);
    m_send->setObjectName(QStringLiteral("sendButton"));
    accessibility::setCaption(m_send, s, s.text(kStrSend), kKeySend);
    m_send->setDefault(true); // Enter sends what is typed

    m_log = new QPlainTextEdit(this);
    m_log->setObjectName(QStringLiteral("trafficView"));
    m_log->setReadOnly(true);
    m_log->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_log->setMinimumSize(560, 220);
    m_log->setFont(QFont(QStringLiteral("monospace")));
    m_counts = new QLabel(this);
    m_counts->setObjectName(QStringLiteral("countsLabel"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_status->setWordWrap(true);
    auto* close = new QPushButton(this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setAutoDefault(false);
    accessibility::setCaption(close, s, s.text(kStrClose), kKeyClose);

    auto* top = new QHBoxLayout;
    top->addWidget(labelFor(this, s, kStrPort, kKeyPort, m_port));
    top->addWidget(m_port);
    top->addWidget(m_endpoint, 1);
    top->addWidget(m_connect);
    auto* sendRow = new QHBoxLayout;
    sendRow->addWidget(labelFor(this, s, kStrSendText, kKeySendText, m_input));
    sendRow->addWidget(m_input, 1);
    sendRow->addWidget(labelFor(this, s, kStrFormat, kKeyFormat, m_format));
    sendRow->addWidget(m_format);
    sendRow->addWidget(labelFor(this, s, kStrEnding, kKeyEnding, m_ending));
    sendRow->addWidget(m_ending);
    sendRow->addWidget(m_send);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_counts, 1);
    bottom->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(sendRow);
    layout->addWidget(labelFor(this, s, kStrTraffic, kKeyTraffic, m_log));
    layout->addWidget(m_log, 1);
    layout->addWidget(m_status);
    layout->addLayout(bottom);
    accessibility::name(m_counts, s.text(kStrCounts).arg(0).arg(0));
    setTabOrder(m_port, m_connect);
    setTabOrder(m_connect, m_input);
    setTabOrder(m_input, m_format);
    setTabOrder(m_format, m_ending);
    setTabOrder(m_ending, m_send);
    setTabOrder(m_send, m_log);
    setTabOrder(m_log, close);

    connect(m_port, &QComboBox::currentIndexChanged, this, &CPortTestDlg::onPortChosen);
    connect(m_connect, &QPushButton::clicked, this, &CPortTestDlg::onConnect);
    connect(m_send, &QPushButton::clicked, this, &CPortTestDlg::onSend);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    m_burstQuiet.setSingleShot(true);
    connect(&m_burstQuiet, &QTimer::timeout, this, &CPortTestDlg::flushBurst);
    onPortChosen();
    showCounts();
}

CPortTestDlg::~CPortTestDlg() = default;

serial::PortTarget CPortTestDlg::target() const
{
    serial::PortTarget t;
    t.deviceAddress = m_deviceAddress;
    t.port = m_port->currentIndex();
    t.block = m_record.port(t.port);
    t.multiIp = m_record.multiIp();
    return t;
}

void CPortTestDlg::onPortChosen()
{
    flushBurst();
    m_link.reset();
    m_waitingForAnswer = false;
    const serial::PortTarget t = target();
    const serial::Problem problem = serial::precheck(t);
    m_endpoint->setText(problem == serial::Problem::None ? m_strings.text(kStrEndpoint).arg(t.endpointText())
                                                          : QString());
    accessibility::name(m_endpoint, m_endpoint->text());
    setStatus(problem == serial::Problem::None ? m_strings.text(kStrNoConnection)
                                               : serial::problemText(m_strings, problem, t));
    updateButtons();
}

void CPortTestDlg::updateButtons()
{
    const bool open = isConnected();
    const bool possible = serial::precheck(target()) == serial::Problem::None;
    accessibility::setCaption(m_connect, m_strings, m_strings.text(m_link ? kStrDisconnect : kStrConnect),
                              kKeyConnect);
    m_connect->setEnabled(possible);
    m_send->setEnabled(open);
}

void CPortTestDlg::onConnect()
{
    if (m_link) { // Disconnect
        m_link.reset();
        setStatus(m_strings.text(kStrNoConnection));
        updateButtons();
        return;
    }
    const serial::PortTarget t = target();
    m_link = std::make_unique<serial::PortLink>(t);
    connect(m_link.get(), &serial::PortLink::opened, this, [this] {
        setStatus(m_strings.text(kStrConnected).arg(target().name(m_strings), target().endpointText()));
        updateButtons();
        m_input->setFocus();
    });
    connect(m_link.get(), &serial::PortLink::received, this, &CPortTestDlg::onReceived);
    connect(m_link.get(), &serial::PortLink::failed, this, &CPortTestDlg::onFailure);
    connect(m_link.get(), &serial::PortLink::lost, this,
            [this](const QString& detail) { onFailure(serial::Problem::Lost, detail); });
    setStatus(m_strings.text(kStrConnecting).arg(t.name(m_strings), t.endpointText()));
    m_link->open();
    updateButtons();
}

void CPortTestDlg::onFailure(serial::Problem problem, const QString& detail)
{
    const QString text = serial::problemText(m_strings, problem, target(), detail);
    // The link goes on the next turn: this call comes from one of its signals.
    m_link.release()->deleteLater();
    m_waitingForAnswer = false;
    setStatus(text);
    updateButtons();
    m_messages.error(this, text, m_strings.text(StringTable::kProgramTitle));
}

std::optional<QByteArray> CPortTestDlg::outgoing() const
{
    QByteArray bytes;
    if (m_format->currentIndex() == 1) {
        QString digits = m_input->text();
        digits.remove(QLatin1Char(' ')).remove(QLatin1Char(':'));
        for (const QChar c : digits) {
            if (!c.isDigit() && !QStringLiteral("abcdefABCDEF").contains(c))
                return std::nullopt;
        }
        if (digits.size() % 2 != 0)
            return std::nullopt;
        bytes = QByteArray::fromHex(digits.toLatin1());
    } else {
        bytes = m_input->text().toUtf8();
    }
    return bytes + kEndings[std::clamp(m_ending->currentIndex(), 0, 3)];
}

void CPortTestDlg::onSend()
{
    if (!isConnected())
        return;
    const std::optional<QByteArray> bytes = outgoing();
    if (!bytes) {
        m_messages.error(this, m_strings.text(kStrNotHex).arg(m_input->text()), m_strings.text(StringTable::kProgramTitle));
        m_input->setFocus();
        return;
    }
    if (bytes->isEmpty() || !m_link->send(*bytes))
        return;
    flushBurst(); // what came before belongs before this line
    m_sent += bytes->size();
    m_sentAt.start();
    m_waitingForAnswer = true;
    addLine(true, *bytes);
    showCounts();
    m_input->selectAll();
}

void CPortTestDlg::onReceived(const QByteArray& bytes)
{
    if (m_waitingForAnswer) {
        m_lastRoundTripMs = static_cast<double>(m_sentAt.nsecsElapsed()) / 1e6;
        m_waitingForAnswer = false;
    }
    m_received += bytes.size();
    m_burst += bytes;
    if (m_burst.size() >= kBurstMost)
        flushBurst();
    else
        m_burstQuiet.start(kBurstQuietMs);
    showCounts();
}

void CPortTestDlg::flushBurst()
{
    m_burstQuiet.stop();
    if (!m_burst.isEmpty())
        addLine(false, m_burst);
    m_burst.clear();
}

void CPortTestDlg::addLine(bool sent, const QByteArray& bytes)
{
    const QString time = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz"));
    m_log->appendPlainText(m_strings.text(sent ? kStrSentLine : kStrReceivedLine)
                               .arg(time)
                               .arg(bytes.size())
                               .arg(printable(bytes), hexText(bytes)));
}

void CPortTestDlg::showCounts()
{
    QString text = m_strings.text(kStrCounts).arg(m_sent).arg(m_received);
    if (m_lastRoundTripMs >= 0)
        text += QStringLiteral("   ") + m_strings.text(kStrRoundTrip).arg(m_lastRoundTripMs, 0, 'f', 1);
    m_counts->setText(text);
    accessibility::name(m_counts, text);
}

void CPortTestDlg::setStatus(const QString& text)
{
    m_status->setText(text);
    accessibility::name(m_status, text);
}
