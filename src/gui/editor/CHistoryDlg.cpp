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
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
constexpr int kStrTitle = 1611;
constexpr int kStrNumber = 1612;
constexpr int kStrTime = 1613;
constexpr int kStrWrittenBy = 1614;
constexpr int kStrChanged = 1615;
constexpr int kStrChangesOf = 1616;
constexpr int kStrLoad = 2120;
constexpr int kStrClose = 1618;
constexpr int kStrEmpty = 1619;
constexpr int kStrLoadNote = 1620;
constexpr int kStrNothingChanged = 1603;
constexpr int kKeyLoad = 1550;
constexpr int kKeyClose = 1551;
constexpr int kStrDesktopProgram = 2121;
constexpr int kStrDesktopVerb = 2122;
constexpr int kStrCommandLineVerb = 2123;
constexpr int kEntryRole = Qt::UserRole;
const QString kDesktopProgram = QStringLiteral("cormapmp");
const QString kCommandLine = QStringLiteral("cormapmp-cli");
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
    // A table of rows, one per write: a screen reader says so and reads each row's cells by their column.
    m_list = new QTableWidget(0, 4, this);
    m_list->setObjectName(QStringLiteral("entriesList"));
    m_list->setHorizontalHeaderLabels(
        {strings.text(kStrNumber), strings.text(kStrTime), strings.text(kStrWrittenBy), strings.text(kStrChanged)});
    m_list->verticalHeader()->hide();
    m_list->horizontalHeader()->setStretchLastSection(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setShowGrid(false);
    m_list->setWordWrap(false);
    m_list->setTabKeyNavigation(false);
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
    connect(m_list, &QTableWidget::currentCellChanged, this, &CHistoryDlg::showChanges);
    connect(m_list, &QTableWidget::cellDoubleClicked, this, &CHistoryDlg::load);
    connect(m_load, &QPushButton::clicked, this, &CHistoryDlg::load);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    fillList();
    resize(720, 420);
}

void CHistoryDlg::fillList()
{
    // Newest first: the write the user most likely wants to undo is the last one.
    m_list->setRowCount(static_cast<int>(m_entries.size()));
    int row = 0;
    for (qsizetype i = m_entries.size() - 1; i >= 0; --i, ++row) {
        const settings_history::Entry& e = m_entries.at(i);
        QStringList changed;
        for (const QString& name : e.changed())
            changed << label(name);
        const QStringList cells{QString::number(e.number),
                                e.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), writer(e),
                                changed.isEmpty() ? m_strings.text(kStrNothingChanged)
                                                  : changed.join(QStringLiteral(", "))};
        for (int column = 0; column < cells.size(); ++column) {
            auto* cell = new QTableWidgetItem(cells.at(column));
            cell->setData(kEntryRole, static_cast<int>(i));
            m_list->setItem(row, column, cell);
        }
    }
    for (int column = 0; column < 3; ++column)
        m_list->resizeColumnToContents(column);
    if (m_entries.isEmpty())
        m_changes->setPlainText(m_strings.text(kStrEmpty));
    else
        m_list->setCurrentCell(0, 0);
    m_load->setEnabled(!m_entries.isEmpty());
}

const settings_history::Entry* CHistoryDlg::current() const
{
    const QTableWidgetItem* item = m_list->currentItem();
    return item ? &m_entries.at(item->data(kEntryRole).toInt()) : nullptr;
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
            lines << QStringLiteral("%1: %2 -> %3").arg(label(d.field), d.before, d.after);
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

QString CHistoryDlg::writer(const settings_history::Entry& entry) const
{
    if (entry.program == kDesktopProgram) {
        const bool write = entry.verb == QLatin1String("write") || entry.verb == QLatin1String("editor write");
        return write ? m_strings.text(kStrDesktopProgram) : m_strings.text(kStrDesktopVerb).arg(entry.verb);
    }
    if (entry.program == kCommandLine)
        return m_strings.text(kStrCommandLineVerb).arg(entry.verb);
    return entry.program + u' ' + entry.verb;
}

QString CHistoryDlg::label(const QString& fieldName) const
{
    const std::optional<record_fields::FieldRef> ref = record_fields::resolve(fieldName);
    if (!ref || ref->field->captionId == 0)
        return fieldName;
    const QString caption = m_strings.text(ref->field->captionId);
    return ref->port < 0 ? caption : accessibility::portFieldName(m_strings, ref->port, caption);
}
