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
// The dialog's texts and its two messages, in the user's language like the rest of the program.
constexpr int kStrTitle = 184;
constexpr int kStrUse = 1034;
constexpr int kStrNetworkAdapter = 2130;
constexpr int kStrIpAddress = 106;
constexpr int kStrOk = 177;
constexpr int kStrCancel = 1048;
constexpr int kStrSelectAdapter = 2131;
constexpr int kStrSelectAddress = 2132;
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
    const StringTable& strings = m_context.strings;
    const QString networkAdapter = strings.text(kStrNetworkAdapter);
    const QString ipAddress = strings.text(kStrIpAddress);
    setWindowTitle(strings.text(kStrTitle));
    setWindowIcon(programIcon());
    m_useCheck = new QCheckBox(this);
    accessibility::setCaption(m_useCheck, strings, strings.text(kStrUse), kKeyUse);
    m_useCheck->setObjectName(QStringLiteral("useCheckBox"));
    m_adapterList = new QListWidget(this);
    m_adapterList->setObjectName(QStringLiteral("adapterList"));
    m_addressList = new QListWidget(this);
    m_addressList->setObjectName(QStringLiteral("addressList"));
    m_everyAdapterCheck = new QCheckBox(this);
    accessibility::setCaption(m_everyAdapterCheck, strings, strings.text(kStrEveryAdapterChoice), kKeyEveryAdapter);
    m_everyAdapterCheck->setObjectName(QStringLiteral("everyAdapterCheckBox"));
    auto* adapterLabel = new QLabel(networkAdapter, this);
    adapterLabel->setBuddy(m_adapterList);
    auto* addressLabel = new QLabel(ipAddress, this);
    addressLabel->setBuddy(m_addressList);
    // A list is not named by its label: a screen reader is told the same texts.
    accessibility::name(m_adapterList, networkAdapter);
    accessibility::name(m_addressList, ipAddress);
    auto* buttons = new QDialogButtonBox(this);
    m_okButton = buttons->addButton(QString(), QDialogButtonBox::AcceptRole);
    accessibility::setCaption(m_okButton, strings, strings.text(kStrOk), kKeyOk);
    m_okButton->setObjectName(QStringLiteral("okButton"));
    m_okButton->setDefault(true);
    m_cancelButton = buttons->addButton(QString(), QDialogButtonBox::RejectRole);
    accessibility::setCaption(m_cancelButton, strings, strings.text(kStrCancel), kKeyCancel);
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
        m_context.messages.error(this, m_context.strings.text(kStrSelectAdapter), title);
        return;
    }
    const QListWidgetItem* address = m_addressList->currentItem();
    if (!address || !address->isSelected()) {
        m_context.messages.error(this, m_context.strings.text(kStrSelectAddress), title);
        return;
    }
    m_adapterName = adapter->data(Qt::UserRole).toString();
    m_address = ipv4::parse(address->text()).value_or(0);
    QDialog::accept();
}
