#include "CQorv400Dlg.h"
#include "gui/porttest/CPortTestDlg.h"

#include "gui/editor/CEnvManager.h"
#include "gui/editor/CPppoeDlg.h"
#include "gui/editor/CPwdDlg.h"
#include "gui/editor/EditorMapping.h"
#include "gui/Accessibility.h"
#include "gui/AppIcon.h"
#include "gui/CMsgDlg.h"
#include "gui/Ipv4AddressEdit.h"
#include "gui/MessageService.h"
#include "net/AdapterCatalog.h"
#include "net/ReplyWaits.h"
#include "protocol/Ipv4.h"
#include "gui/status/CStatDlg.h"
#include "text/FixedTexts.h"
#include "text/StringTable.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {
constexpr int kStrEveryAdapter = 976;
constexpr int kStrExitQuestion = 186;
constexpr int kStrNoResponse = 166;
constexpr int kStrWriting = 167;
constexpr int kStrReadingStatus = 168;
constexpr int kStrChangingPassword = 169;
constexpr int kStrReading = 170;
constexpr int kStrNotAnAddress = 906;
constexpr int kStrMultiIpStatic = 960;
constexpr int kStrPasswordMismatch = 961;
constexpr int kStrUnknownResponse = 962;
constexpr int kStrNotInteger = 963;
constexpr int kStrOutOfRange = 964;
constexpr int kStrTooLong = 965;
constexpr int kStrMultiIpNeedsStatic = 966;
constexpr int kStrMd5ExcludesPppoe = 967;
constexpr int kStrPppoeId = 1027;
constexpr int kStrPasswordCheck = 1049;
constexpr int kStrClearQuestion = 1053;
constexpr int kStrPasswordEmpty = 1054;
constexpr int kStrPasswordShort = 1055;
constexpr int kStrEapolId = 1028;
constexpr int kStrUnstorable = 1150;
constexpr int kStrStalled = 1101;

using record_fields::FieldRef;
using record_fields::Id;

// List positions of the Network and Option groups.
constexpr int kUse = 1;
constexpr int kMd5 = 1;
constexpr int kStatic = EnvRecord::kStatic;
constexpr int kPppoe = EnvRecord::kPppoe;

// A port's controls whose enabled state follows the catalogue's rule for their field.
constexpr Id kPortFields[] = {Id::LocalIp, Id::LocalPort, Id::PeerIp, Id::PeerPort, Id::Timeout, Id::WaterMark};

FieldRef ref(Id id, int port = -1)
{
    return FieldRef{&record_fields::field(id), port};
}

/** The message a new password and its retype are refused with, in the order they are checked; 0 when
 *  they are accepted. */
int passwordRefusal(const QString& newPassword, const QString& retype)
{
    if (newPassword != retype)
        return kStrPasswordCheck;
    if (newPassword.isEmpty())
        return kStrPasswordEmpty;
    if (newPassword.size() < record_fields::field(record_fields::Id::Password).min)
        return kStrPasswordShort;
    return 0;
}
} // namespace

CQorv400Dlg::CQorv400Dlg(const AppContext& context, const AdapterBinding& binding, const EnvRecord& record, int mode,
                         std::uint32_t remoteAddress, QWidget* parent)
    : QDialog(parent), m_context(context), m_binding(binding), m_mode(mode), m_remoteAddress(remoteAddress),
      m_endpoint(context.network), m_exchange(m_endpoint),
      m_history(QStringLiteral("cormapmp"), [this](const QString& why) { noteHistoryNotKept(why); },
                context.historyFolder),
      m_write(m_endpoint, &m_history)
{
    setObjectName(QStringLiteral("settingsEditor"));
    setWindowIcon(programIcon());
    m_messageWindow =
        std::make_unique<CMsgDlg>(this, text(StringTable::kProgramTitle),
                                  QStringList{text(kStrReading) + QStringLiteral("\r\nMAC address 00:00:00:00:00:00"),
                                              text(kStrWriting) + QStringLiteral("\r\nIP address 255.255.255.255")});
    m_endpoint.setLimit(kTableLimit);
    if (m_endpoint.hasTable())
        m_endpoint.record(0) = record;
    m_endpoint.setCount(0);
    buildEditorControls(m_controls, this, context.strings);
    m_account = new CPppoeDlg(context.strings, context.messages, this);
    m_status = new CStatDlg(context, this);
    m_status->setStatusSource(this);
    m_envManager = new CEnvManager(context.files, context.strings, this);
    connect(m_envManager, &CEnvManager::outcome, this, &CQorv400Dlg::onFileOutcome);
    connect(&m_exchange, &device::Exchange::finished, this, &CQorv400Dlg::finishRequest);
    m_write.setDecider([this](const device::Conflict& conflict) { return decideConflict(conflict); });
    connect(&m_write, &device::GuardedWrite::stepChanged, this, &CQorv400Dlg::onWriteStep);
    connect(&m_write, &device::GuardedWrite::finished, this, &CQorv400Dlg::completeWrite);
    connectControls();
    m_readRecord = record;
    ShowRecord(record);
    UpdateControlStates();
    setTitle();
    reportOutcome(frame::kRead, true); // the search window read it just now
}

CQorv400Dlg::~CQorv400Dlg()
{
    m_exchange.cancel();
    m_endpoint.Close();
}

QString CQorv400Dlg::text(int id) const
{
    return m_context.strings.text(id);
}

void CQorv400Dlg::setTitle()
{
    const QString title = text(StringTable::kProgramTitle);
    if (m_binding.isEveryAdapter()) {
        setWindowTitle(QStringLiteral("%1 [%2]").arg(title, text(kStrEveryAdapter)));
        return;
    }
    if (m_binding.isBound()) {
        AdapterCatalog catalog(m_context.adapters);
        if (catalog.ValidateBinding(m_binding.adapterName, m_binding.address)) {
            setWindowTitle(
                QStringLiteral("%1 [%2]").arg(title, catalog.BindingLabel(m_binding.adapterName, m_binding.address)));
            return;
        }
    }
    setWindowTitle(title);
}

void CQorv400Dlg::connectControls()
{
    EditorControls& c = m_controls;
    connect(c.readButton, &QPushButton::clicked, this, [this] { startRequest(frame::kRead); });
    connect(c.writeButton, &QPushButton::clicked, this, [this] { startRequest(frame::kWrite); });
    connect(c.statusButton, &QPushButton::clicked, this, [this] { startRequest(frame::kStatus); });
    connect(c.passwordButton, &QPushButton::clicked, this, &CQorv400Dlg::onPasswordButton);
    connect(c.accountButton, &QPushButton::clicked, this, &CQorv400Dlg::onAccountButton);
    connect(c.exitButton, &QPushButton::clicked, this, &CQorv400Dlg::reject);
    connect(c.exportButton, &QPushButton::clicked, this, &CQorv400Dlg::onExport);
    connect(c.importButton, &QPushButton::clicked, m_envManager, &CEnvManager::LoadEnvFile);
    connect(c.historyButton, &QPushButton::clicked, this, [this] {
        const EnvRecord before = m_shown;
        onHistory();
        if (m_shown.raw() != before.raw())
            markFormSource(FormSource::History);
    });
    connect(c.testPortButton, &QPushButton::clicked, this, &CQorv400Dlg::onTestPort);
    // The port whose row the user was in last is the one Test Port opens with.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        for (int p = 0; now && p < EditorControls::kPortCount; ++p) {
            const PortControls& row = m_controls.ports[static_cast<std::size_t>(p)];
            for (const QWidget* w :
                 {static_cast<QWidget*>(row.mode), static_cast<QWidget*>(row.localIp),
                  static_cast<QWidget*>(row.localPort), static_cast<QWidget*>(row.peerIp),
                  static_cast<QWidget*>(row.peerPort), static_cast<QWidget*>(row.timeout),
                  static_cast<QWidget*>(row.baudRate), static_cast<QWidget*>(row.parity),
                  static_cast<QWidget*>(row.dataBits), static_cast<QWidget*>(row.stopBits),
                  static_cast<QWidget*>(row.flowControl), static_cast<QWidget*>(row.eventByte)}) {
                if (w && (w == now || w->isAncestorOf(now)))
                    m_lastPort = p;
            }
        }
    });
    const auto update = [this] {
        if (!m_loading)
            UpdateControlStates();
    };
    connect(c.multiIp, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_loading)
            onMultiIpChanged();
    });
    for (QComboBox* list : {c.eapol, c.ipv4Type})
        connect(list, &QComboBox::currentIndexChanged, this, update);
    for (const PortControls& port : c.ports) {
        connect(port.mode, &QComboBox::currentIndexChanged, this, update);
        for (QLineEdit* number : {port.localPort, port.peerPort, port.timeout, port.eventByte})
            number->installEventFilter(this);
    }
    c.comment->setMaxLength(static_cast<int>(EnvRecord::kCommentSize));
    c.comment->installEventFilter(this);
}

void CQorv400Dlg::ShowRecord(const EnvRecord& record)
{
    m_loading = true;
    m_shown = record;
    editor::showRecord(m_controls, record);
    m_account->setAccount(editor::recordText(record.accountId()), editor::recordText(record.accountPassword()));
    m_controls.password->setText(m_confirmedPassword);
    m_noPassword = !record.hasPassword();
    m_loading = false;
}

EnvRecord CQorv400Dlg::BuildRecord() const
{
    EnvRecord record = editor::buildRecord(m_controls, m_shown);
    record.setAccountId(editor::recordBytes(m_account->userName()));
    record.setAccountPassword(editor::recordBytes(m_account->password()));
    record.setTypedPassword(editor::recordBytes(m_controls.password->text()));
    return record;
}

bool CQorv400Dlg::validateForm()
{
    const std::optional<form::Problem> problem = form::validate(editor::formValues(m_controls, m_shown));
    if (!problem)
        return true;
    m_validating = true;
    m_context.messages.show(this, problemMessage(*problem), text(StringTable::kProgramTitle), QMessageBox::Warning);
    if (QWidget* control = editor::controlFor(m_controls, problem->field, problem->port)) {
        control->setFocus(Qt::OtherFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(control))
            edit->selectAll();
    }
    m_validating = false;
    return false;
}

QString CQorv400Dlg::problemMessage(const form::Problem& problem) const
{
    switch (problem.rule) {
    case form::Rule::NotInteger:
        return text(kStrNotInteger);
    case form::Rule::OutOfRange:
        return text(kStrOutOfRange).arg(problem.min).arg(problem.max);
    case form::Rule::TooLong:
        return text(kStrTooLong).arg(problem.max);
    case form::Rule::Unstorable:
        return text(kStrUnstorable).arg(text(problem.ref().field->captionId), problem.unstorable());
    case form::Rule::NotAnAddress:
    case form::Rule::NotAnEntry:
        return text(kStrNotAnAddress).arg(problem.text);
    case form::Rule::MultiIpNeedsStatic:
        return text(kStrMultiIpNeedsStatic);
    case form::Rule::Md5ExcludesPppoe:
        return text(kStrMd5ExcludesPppoe);
    }
    return {};
}

void CQorv400Dlg::onMultiIpChanged()
{
    if (m_controls.multiIp->currentIndex() == kUse && m_controls.ipv4Type->currentIndex() != kStatic) {
        m_loading = true;
        m_controls.ipv4Type->setCurrentIndex(kStatic);
        m_loading = false;
        m_context.messages.information(this, text(kStrMultiIpStatic), text(StringTable::kProgramTitle));
    }
    UpdateControlStates();
}

void CQorv400Dlg::UpdateControlStates()
{
    validateForm();
    EditorControls& c = m_controls;
    m_loading = true;
    int type = c.ipv4Type->currentIndex();
    updateNetworkLists(type);
    const record_fields::Situation now = editor::situation(c, m_shown);
    c.password->setEnabled(!m_noPassword);
    accessibility::setCaption(c.accountButton, m_context.strings, text(now.eapol == kMd5 ? kStrEapolId : kStrPppoeId),
                              kKeyAccount);
    c.accountButton->setEnabled(record_fields::inUse(ref(Id::AccountId), now));
    updateAddressFields(type);
    updatePortRows(now);
    c.comment->setEnabled(record_fields::inUse(ref(Id::Comment), now));
    c.remoteSearch->setEnabled(record_fields::inUse(ref(Id::RemoteSearch), now));
    m_loading = false;
}

void CQorv400Dlg::updateNetworkLists(int& type)
{
    EditorControls& c = m_controls;
    if (c.multiIp->currentIndex() == kUse) {
        c.ipv4Type->setCurrentIndex(kStatic);
        c.ipv4Type->setEnabled(false);
    } else {
        const int eapol = c.eapol->currentIndex();
        if (eapol == 0)
            c.ipv4Type->setEnabled(true);
        else if (eapol == kMd5 && c.ipv4Type->currentIndex() == kPppoe)
            c.ipv4Type->setCurrentIndex(kStatic);
    }
    c.eapol->setEnabled(record_fields::inUse(ref(Id::Eapol), editor::situation(c, m_shown)));
    type = c.ipv4Type->currentIndex();
}

void CQorv400Dlg::updateAddressFields(int type)
{
    const EnvRecord& table0 = m_endpoint.record(0);
    const struct
    {
        Ipv4AddressEdit* field;
        std::uint32_t fromTable;
    } fields[] = {{m_controls.ipAddress, table0.ipAddress()},
                  {m_controls.subnetMask, table0.subnetMask()},
                  {m_controls.gateway, table0.gateway()}};
    for (const auto& f : fields) {
        if (type == kStatic) {
            f.field->setEnabled(true);
            // An address left at 0.0.0.0 comes back from the device's record.
            if (f.field->addressOrZero() == 0u)
                f.field->setAddress(f.fromTable);
        } else if (type == EnvRecord::kDhcp || type == kPppoe) {
            f.field->setEnabled(false);
            f.field->clear();
        } else {
            f.field->setEnabled(false);
        }
    }
}

void CQorv400Dlg::updatePortRows(const record_fields::Situation& now)
{
    for (int p = 0; p < EditorControls::kPortCount; ++p) {
        for (const Id id : kPortFields)
            editor::controlFor(m_controls, id, p)->setEnabled(record_fields::inUse(ref(id, p), now));
    }
}

bool CQorv400Dlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusOut && !m_validating && !m_loading) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        // A message box or another window taking the focus is not the user leaving the field.
        const bool left = reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
        if (left && watched == m_controls.comment)
            onCommentLeft();
        else if (left)
            validateForm();
    }
    return QDialog::eventFilter(watched, event);
}

void CQorv400Dlg::onTestPort()
{
    // The port as the device holds it: the record shown last, reached where the editor reaches it.
    const std::uint32_t address = m_mode == kModeLocal ? m_shown.ipAddress() : m_remoteAddress;
    CPortTestDlg dialog(m_context.strings, m_context.messages, m_shown, address, m_lastPort, this);
    emit portTestOpened(&dialog);
    dialog.exec();
}

void CQorv400Dlg::onCommentLeft()
{
    QLineEdit* comment = m_controls.comment;
    if (comment->text().size() > static_cast<int>(EnvRecord::kCommentSize))
        comment->setText(comment->text().left(static_cast<int>(EnvRecord::kCommentSize)));
}

void CQorv400Dlg::keyPressEvent(QKeyEvent* event)
{
    // The Enter key never closes the editor nor presses a button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CQorv400Dlg::reject()
{
    if (requestInFlight())
        return;
    if (m_context.messages.askYesNo(this, text(kStrExitQuestion), text(StringTable::kProgramTitle),
                                    QMessageBox::NoIcon))
        QDialog::reject();
}

bool CQorv400Dlg::openEndpoint()
{
    const bool opened = m_mode != kModeLocal         ? m_endpoint.OpenRemote(m_remoteAddress)
                        : m_binding.isEveryAdapter() ? m_endpoint.OpenEveryAdapter()
                                                     : m_endpoint.OpenLocal(m_binding.address);
    if (!opened && !m_readingReply) // a live reading counts as unanswered instead
        m_context.messages.error(this, fixed_text::cannotOpenSocket(), text(StringTable::kProgramTitle));
    return opened;
}

void CQorv400Dlg::startRequest(int command)
{
    if (requestInFlight() || !m_endpoint.hasTable())
        return;
    if (!openEndpoint())
        return;
    // Read and Status go out whatever the form holds; a Write is sent only when the form checks out. A
    // live reading for the status dialog leaves the form alone (no message about it every few seconds).
    if (!m_readingReply && !validateForm() && command == frame::kWrite) {
        m_endpoint.Close();
        return;
    }
    EnvRecord body = BuildRecord();
    if (command == frame::kWrite) {
        // The device is read again first, under its lock: a Write sends the whole record (EditorWrite.cpp).
        m_endpoint.Close();
        startWrite(body);
        return;
    }
    if (command == frame::kRead)
        sendFrame(command, reply_wait::kReadTickMs, kStrReading, body);
    else
        sendFrame(command, reply_wait::kStatusTickMs, kStrReadingStatus, body);
}

void CQorv400Dlg::sendFrame(int command, int periodMs, int textId, const EnvRecord& body, const QByteArray& extra)
{
    // Each request starts from an empty table, so the reply it gets is the one the form reloads from.
    m_endpoint.setCount(0);
    m_endpoint.requestFrame().fill(0);
    std::copy(body.raw().begin(), body.raw().end(), m_endpoint.requestBody());
    std::copy(extra.begin(), extra.end(), m_endpoint.requestBody() + EnvRecord::kSize);
    m_endpoint.setCommand(command);
    QString secondLine;
    if (m_mode == kModeLocal) {
        secondLine = QStringLiteral("MAC address ") + ipv4::macText(body.data());
        m_endpoint.SendBroadcast();
    } else {
        secondLine = QStringLiteral("IP address ") + ipv4::dotted(m_remoteAddress);
        m_endpoint.SendUnicast(m_remoteAddress);
    }
    // Both copies are out: an answer taken in between them ends the request at once.
    m_exchange.start(periodMs);
    if (m_readingReply)
        return; // a live reading: the status dialog stays in front and usable
    // The editor's focus child: the button pressed (after a dialog it opened, the one it will get back).
    m_focusBeforeRequest = focusWidget();
    m_messageWindow->ShowProgress();
    m_messageWindow->SetProgressText(text(textId) + QStringLiteral("\r\n") + secondLine);
    setEnabled(false);
}

void CQorv400Dlg::restoreFocus()
{
    QWidget* focus = std::exchange(m_focusBeforeRequest, nullptr);
    if (!focus)
        return;
    // The progress window had the keyboard while the request ran: the editor takes it back, and the
    // control the user pressed has the focus again.
    const QWidget* active = QApplication::activeWindow();
    if (!active || active == m_messageWindow.get())
        activateWindow();
    focus->setFocus(Qt::OtherFocusReason);
}

void CQorv400Dlg::finishRequest()
{
    setEnabled(true);
    m_messageWindow->HideProgress();
    restoreFocus();
    m_endpoint.Close();
    complete(m_endpoint.command());
}

bool CQorv400Dlg::requestStatusReading(Reply reply)
{
    if (requestInFlight() || !m_endpoint.hasTable())
        return false;
    m_readingReply = std::move(reply);
    startRequest(frame::kStatus);
    if (!requestInFlight() && m_readingReply) // the endpoint could not be opened: no answer
        std::exchange(m_readingReply, {})(false, {});
    return true;
}

void CQorv400Dlg::cancelStatusReading()
{
    if (!m_readingReply)
        return;
    m_readingReply = {};
    m_exchange.cancel();
    m_endpoint.Close();
}

void CQorv400Dlg::complete(int command)
{
    if (m_readingReply) {
        // A live reading: only the status dialog hears of it.
        const bool answered = m_endpoint.answered() != 0;
        std::exchange(m_readingReply, {})(answered, m_endpoint.statusData());
        return;
    }
    const QString title = text(StringTable::kProgramTitle);
    m_confirmedPassword.clear();
    const int result = m_endpoint.replyResult();
    const bool accepted = m_endpoint.answered() && result == 0;
    if (!m_endpoint.answered()) {
        m_context.messages.error(this, text(kStrNoResponse), title);
    } else if (command == frame::kWrite || command == frame::kChangePassword) {
        if (result == 0) {
            m_confirmedPassword = m_controls.password->text();
        } else if (result == 2) {
            m_context.messages.error(this, text(kStrPasswordMismatch), title);
            if (command == frame::kWrite)
                m_controls.password->clear();
        } else {
            m_context.messages.error(this, text(kStrUnknownResponse), title);
        }
    } else if (command == frame::kStatus) {
        const auto& data = m_endpoint.statusData();
        std::copy(data.begin(), data.end(), m_status->statusData().begin());
        m_confirmedPassword = m_controls.password->text();
        m_status->exec();
    }
    if (command == frame::kChangePassword)
        completePasswordChange(accepted);
    // Only a Read (the user asked for the device's values) and a Write the device took (it now holds
    // what was sent) bring the device's record into the form; after any other request every field stays
    // as the user left it.
    if (command == frame::kRead || (command == frame::kWrite && accepted))
        reloadFromTable();
    reportOutcome(command, accepted);
}

void CQorv400Dlg::completePasswordChange(bool accepted)
{
    // The Password box holds the new password since the request went out: it stays after a change the
    // device took, and the device now has a password exactly when the new one is not empty. Otherwise
    // the box goes back to what the user had in it.
    if (accepted) {
        m_noPassword = m_controls.password->text().isEmpty();
        m_controls.password->setEnabled(!m_noPassword);
    } else {
        m_controls.password->setText(m_passwordBeforeChange);
    }
}

void CQorv400Dlg::reloadFromTable()
{
    if (m_endpoint.count() == 0)
        return;
    m_readRecord = m_endpoint.record(0);
    ShowRecord(m_endpoint.record(0));
    UpdateControlStates();
}

void CQorv400Dlg::onPasswordButton()
{
    if (requestInFlight() || !m_endpoint.hasTable())
        return;
    const QString title = text(StringTable::kProgramTitle);
    CPwdDlg dialog(m_context.strings, this);
    for (;;) {
        if (!dialog.ask(m_controls.password->text()))
            return;
        if (dialog.clearTicked()) {
            if (m_context.messages.askYesNo(this, text(kStrClearQuestion), title)) {
                dialog.forgetNewPassword();
                break;
            }
            continue;
        }
        const int refusal = passwordRefusal(dialog.newPassword(), dialog.retype());
        if (refusal == 0)
            break;
        m_context.messages.error(this, text(refusal), title);
    }
    if (!openEndpoint())
        return;
    validateForm();
    EnvRecord body = BuildRecord();
    body.setTypedPassword(editor::recordBytes(dialog.currentPassword()));
    QByteArray newPassword(static_cast<qsizetype>(frame::kPasswordSize), '\0');
    const QByteArray typed = dialog.newPassword().toLatin1().left(CPwdDlg::kPasswordMax);
    std::copy(typed.begin(), typed.end(), newPassword.begin());
    auto* oldField = body.passwordField();
    auto* newField = reinterpret_cast<std::uint8_t*>(newPassword.data());
    if (IsPasswordSet(oldField))
        HashPassword(oldField);
    if (IsPasswordSet(newField))
        HashPassword(newField);
    m_confirmedPassword = m_controls.password->text();
    m_passwordBeforeChange = m_controls.password->text();
    sendFrame(frame::kChangePassword, reply_wait::kPasswordTickMs, kStrChangingPassword, body, newPassword);
    m_controls.password->setText(dialog.newPassword());
}

void CQorv400Dlg::onExport()
{
    if (requestInFlight() || !validateForm())
        return;
    const EnvRecord record = settings_file::exportedRecord(BuildRecord());
    m_envManager->SaveEnvFile(QByteArray(reinterpret_cast<const char*>(record.data()), EnvRecord::kSize),
                              settings_file::Product::of(record));
}

void CQorv400Dlg::onFileOutcome(int code, int detail)
{
    const QString title = text(StringTable::kProgramTitle);
    switch (code) {
    case settings_file::kCannotOpen:
        m_context.messages.error(
            this,
            QStringLiteral("[%1] %2").arg(detail).arg(QString::fromLocal8Bit(std::strerror(detail)).remove(u'\n')),
            title);
        break;
    case settings_file::kRead:
        completeImport();
        break;
    case settings_file::kDamaged:
    case settings_file::kDamagedTooShort:
        m_context.messages.error(this, text(settings_file::kStrDamaged), title);
        break;
    case settings_file::kNotSettingsFile:
        m_context.messages.error(this, text(settings_file::kStrNotSettingsFile), title);
        break;
    case settings_file::kStalled:
        m_context.messages.error(this,
                                 text(kStrStalled)
                                     .arg(QDir::toNativeSeparators(CEnvManager::rememberedPath()))
                                     .arg(bounded_read::kStreamIdleMs / 1000),
                                 title);
        break;
    default:
        break;
    }
}

void CQorv400Dlg::completeImport()
{
    const QString title = text(StringTable::kProgramTitle);
    if (m_envManager->recordLength() < static_cast<int>(EnvRecord::kSize)) {
        m_context.messages.error(this, text(settings_file::kStrDamaged), title);
        return;
    }
    const EnvRecord imported(reinterpret_cast<const std::uint8_t*>(m_envManager->record().constData()));
    if (imported.productCode() != m_shown.productCode()) {
        m_context.messages.error(this, text(settings_file::kStrOtherProduct), title);
        return;
    }
    // Only the settings come from the file: the device's identity, accounts and password stay.
    EnvRecord& target = m_endpoint.record(0);
    mergeImportedRecord(target, imported);
    ShowRecord(target);
    UpdateControlStates();
    markFormSource(FormSource::SettingsFile, QFileInfo(CEnvManager::rememberedPath()).fileName());
}
