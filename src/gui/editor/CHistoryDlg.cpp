#include "CHistoryDlg.h"

#include "gui/Accessibility.h"
#include "gui/AppIcon.h"
#include "record/RecordFields.h"
#include "text/StringTable.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr int kStrTitle = 1611;
constexpr int kStrNumber = 1612;
constexpr int kStrTime = 1613;
constexpr int kStrWrittenBy = 1614;
constexpr int kStrChanged = 1615;
constexpr int kStrChangesOf = 1616;
constexpr int kStrLoad = 1617;
constexpr int kStrClose = 1618;
constexpr int kStrEmpty = 1619;
constexpr int kStrLoadNote = 1620;
constexpr int kStrNothingChanged = 1603;
constexpr int kKeyLoad = 1550;
constexpr int kKeyClose = 1551;
constexpr int kEntryRole = Qt::UserRole;
} // namespace

CHistoryDlg::CHistoryDlg(const StringTable& strings, const settings_history::Store& store,
                         const settings_history::Mac& mac, QWidget* parent)
    : QDialog(parent), m_strings(strings), m_entries(store.entries(mac))
{
    setObjectName(QStringLiteral("historyDialog"));
    setWindowIcon(programIcon());
    EnvRecord named;
    named.setMac(mac);
    setWindowTitle(strings.text(kStrTitle).arg(QString::fromStdString(named.macText())));
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("entriesList"));
    m_list->setHeaderLabels(
        {strings.text(kStrNumber), strings.text(kStrTime), strings.text(kStrWrittenBy), strings.text(kStrChanged)});
    m_list->setRootIsDecorated(false);
    m_list->setAlternatingRowColors(true);
    m_changes = new QPlainTextEdit(this);
    m_changes->setObjectName(QStringLiteral("changesView"));
    m_changes->setReadOnly(true);
    // The list is known by the window's title, the changes by the caption above them.
    accessibility::name(m_list, windowTitle());
    QString changesName = strings.text(kStrChangesOf);
    while (changesName.endsWith(u':') || changesName.endsWith(QChar(0xFF1A))) // "：" ends the Chinese caption
        changesName.chop(1);
    accessibility::name(m_changes, changesName);
    m_load = new QPushButton(this);
    m_load->setObjectName(QStringLiteral("loadButton"));
    accessibility::setCaption(m_load, strings, strings.text(kStrLoad), kKeyLoad);
    auto* close = new QPushButton(this);
    close->setObjectName(QStringLiteral("closeButton"));
    accessibility::setCaption(close, strings, strings.text(kStrClose), kKeyClose);
    auto* note = new QLabel(strings.text(kStrLoadNote), this);
    note->setObjectName(QStringLiteral("loadNoteLabel"));
    note->setWordWrap(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(note, 1);
    buttons->addWidget(m_load);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 2);
    layout->addWidget(new QLabel(strings.text(kStrChangesOf), this));
    layout->addWidget(m_changes, 1);
    layout->addLayout(buttons);
    connect(m_list, &QTreeWidget::currentItemChanged, this, &CHistoryDlg::showChanges);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &CHistoryDlg::load);
    connect(m_load, &QPushButton::clicked, this, &CHistoryDlg::load);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    fillList();
    resize(720, 420);
}

void CHistoryDlg::fillList()
{
    // Newest first: the write the user most likely wants to undo is the last one.
    for (qsizetype i = m_entries.size() - 1; i >= 0; --i) {
        const settings_history::Entry& e = m_entries.at(i);
        const QStringList changed = e.changed();
        auto* item = new QTreeWidgetItem(
            m_list, {QString::number(e.number), e.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                     e.program + u' ' + e.verb,
                     changed.isEmpty() ? m_strings.text(kStrNothingChanged) : changed.join(QStringLiteral(", "))});
        item->setData(0, kEntryRole, static_cast<int>(i));
    }
    for (int column = 0; column < 3; ++column)
        m_list->resizeColumnToContents(column);
    if (m_entries.isEmpty())
        m_changes->setPlainText(m_strings.text(kStrEmpty));
    else
        m_list->setCurrentItem(m_list->topLevelItem(0));
    m_load->setEnabled(!m_entries.isEmpty());
}

const settings_history::Entry* CHistoryDlg::current() const
{
    const QTreeWidgetItem* item = m_list->currentItem();
    return item ? &m_entries.at(item->data(0, kEntryRole).toInt()) : nullptr;
}

void CHistoryDlg::showChanges()
{
    const settings_history::Entry* e = current();
    m_load->setEnabled(e != nullptr);
    if (!e)
        return;
    QStringList lines;
    for (const record_fields::Difference& d : record_fields::differences(e->before, e->after)) {
        if (d.field != QLatin1String("password") && d.field != QLatin1String("sourceAddress"))
            lines << QStringLiteral("%1: %2 -> %3").arg(d.field, d.before, d.after);
    }
    m_changes->setPlainText(lines.isEmpty() ? m_strings.text(kStrNothingChanged) : lines.join(u'\n'));
}

void CHistoryDlg::load()
{
    if (const settings_history::Entry* e = current()) {
        m_chosen = *e;
        accept();
    }
}
