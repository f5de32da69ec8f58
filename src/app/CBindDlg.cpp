#include "CBindDlg.h"

#include "gui/Accessibility.h"
#include "gui/AppIcon.h"
#include "gui/MessageService.h"
#include "protocol/Ipv4.h"
#include "text/StringTable.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// The dialog's own texts are fixed; its two messages are Korean in every language.
const QString kTitle = QStringLiteral("Select binding IP");
const QString kNetworkAdapter = QStringLiteral("Network Adapter");
const QString kIpAddress = QStringLiteral("IP Address");
const QString kSelectAdapter = QStringLiteral("네트워크 어댑터를 선택하세요.");
const QString kSelectAddress = QStringLiteral("IP주소를 선택하세요.");
// The choice of every adapter at once, from the string table.
constexpr int kStrEveryAdapterChoice = 977;
// Access keys of Use, every adapter, OK and Cancel.
constexpr int kKeyUse = 1518;
constexpr int kKeyEveryAdapter = 1519;
constexpr int kKeyOk = 1515;
constexpr int kKeyCancel = 1516;
} // namespace

CBindDlg::CBindDlg(const AppContext& context, const QString& presetName, std::uint32_t presetAddress, QWidget* parent)
    : QDialog(parent), m_context(context), m_catalog(context.adapters), m_adapterName(presetName),
      m_address(presetAddress)
{
    setObjectName(QStringLiteral("bindDialog"));
    buildControls();
    fillAdapters();
    if (presetAddress != 0)
        preset(presetName, presetAddress);
    m_everyAdapterCheck->setChecked(AdapterBinding{presetName, presetAddress}.isEveryAdapter());
    onUseToggled();
}

void CBindDlg::buildControls()
{
    setWindowTitle(kTitle);
    setWindowIcon(programIcon());
    const StringTable& strings = m_context.strings;
    m_useCheck = new QCheckBox(accessibility::withKey(strings, QStringLiteral("Use"), kKeyUse), this);
    m_useCheck->setObjectName(QStringLiteral("useCheckBox"));
    m_adapterList = new QListWidget(this);
    m_adapterList->setObjectName(QStringLiteral("adapterList"));
    m_addressList = new QListWidget(this);
    m_addressList->setObjectName(QStringLiteral("addressList"));
    m_everyAdapterCheck = new QCheckBox(this);
    accessibility::setCaption(m_everyAdapterCheck, strings, strings.text(kStrEveryAdapterChoice), kKeyEveryAdapter);
    m_everyAdapterCheck->setObjectName(QStringLiteral("everyAdapterCheckBox"));
    auto* adapterLabel = new QLabel(kNetworkAdapter, this);
    adapterLabel->setBuddy(m_adapterList);
    auto* addressLabel = new QLabel(kIpAddress, this);
    addressLabel->setBuddy(m_addressList);
    // A list is not named by its label: a screen reader is told the same texts.
    accessibility::name(m_adapterList, kNetworkAdapter);
    accessibility::name(m_addressList, kIpAddress);
    auto* buttons = new QDialogButtonBox(this);
    m_okButton =
        buttons->addButton(accessibility::withKey(strings, QStringLiteral("OK"), kKeyOk), QDialogButtonBox::AcceptRole);
    m_okButton->setObjectName(QStringLiteral("okButton"));
    m_okButton->setDefault(true);
    m_cancelButton = buttons->addButton(accessibility::withKey(strings, QStringLiteral("Cancel"), kKeyCancel),
                                        QDialogButtonBox::RejectRole);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));

    auto* grid = new QGridLayout;
    grid->addWidget(adapterLabel, 0, 0);
    grid->addWidget(addressLabel, 0, 1);
    grid->addWidget(m_adapterList, 1, 0);
    grid->addWidget(m_addressList, 1, 1);
    grid->setColumnStretch(0, 3);
    grid->setColumnStretch(1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_useCheck);
    layout->addLayout(grid);
    layout->addWidget(m_everyAdapterCheck);
    layout->addWidget(buttons);
    m_adapterList->setMinimumWidth(fontMetrics().horizontalAdvance(u'x') * 44);
    m_addressList->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.255")) + 40);

    connect(m_useCheck, &QCheckBox::toggled, this, &CBindDlg::onUseToggled);
    // One adapter and every adapter exclude each other: ticking one unticks the other.
    connect(m_useCheck, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            m_everyAdapterCheck->setChecked(false);
    });
    connect(m_everyAdapterCheck, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            m_useCheck->setChecked(false);
    });
    connect(m_adapterList, &QListWidget::currentRowChanged, this, &CBindDlg::onAdapterSelected);
    connect(buttons, &QDialogButtonBox::accepted, this, &CBindDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CBindDlg::reject);
}

void CBindDlg::fillAdapters()
{
    m_catalog.query();
    for (const AdapterInfo& adapter : m_catalog.adapters()) {
        auto* item = new QListWidgetItem(adapter.description, m_adapterList);
        item->setData(Qt::UserRole, adapter.name);
        item->setToolTip(adapter.description);
    }
}

void CBindDlg::preset(const QString& name, std::uint32_t address)
{
    m_useCheck->setChecked(true);
    for (int row = 0; row < m_adapterList->count(); ++row) {
        if (m_adapterList->item(row)->data(Qt::UserRole).toString() == name) {
            m_adapterList->setCurrentRow(row); // fills the address list
            break;
        }
    }
    const QList<QListWidgetItem*> matches = m_addressList->findItems(ipv4::dotted(address), Qt::MatchExactly);
    if (!matches.isEmpty())
        m_addressList->setCurrentItem(matches.first());
}

void CBindDlg::onUseToggled()
{
    const bool use = m_useCheck->isChecked();
    m_adapterList->setEnabled(use);
    m_addressList->setEnabled(use);
}

void CBindDlg::onAdapterSelected()
{
    const QListWidgetItem* item = m_adapterList->currentItem();
    const QString name = item ? item->data(Qt::UserRole).toString() : QString();
    if (name.isEmpty())
        return;
    m_addressList->clear();
    m_catalog.query();
    // An adapter that has disappeared since it was listed gives an empty address list.
    if (const std::optional<AdapterInfo> adapter = m_catalog.find(name))
        m_addressList->addItems(adapter->addresses);
}

void CBindDlg::accept()
{
    const QString title = m_context.strings.text(StringTable::kProgramTitle);
    m_use = m_useCheck->isChecked();
    m_everyAdapter = m_everyAdapterCheck->isChecked();
    if (m_everyAdapter) {
        m_adapterName = AdapterBinding::everyAdapterName();
        m_address = 0;
        QDialog::accept();
        return;
    }
    if (!m_use) {
        m_adapterName.clear();
        m_address = 0;
        QDialog::accept();
        return;
    }
    const QListWidgetItem* adapter = m_adapterList->currentItem();
    if (!adapter || !adapter->isSelected()) {
        m_context.messages.error(this, kSelectAdapter, title);
        return;
    }
    const QListWidgetItem* address = m_addressList->currentItem();
    if (!address || !address->isSelected()) {
        m_context.messages.error(this, kSelectAddress, title);
        return;
    }
    m_adapterName = adapter->data(Qt::UserRole).toString();
    m_address = ipv4::parse(address->text()).value_or(0);
    QDialog::accept();
}
