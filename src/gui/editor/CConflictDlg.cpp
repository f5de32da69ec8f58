#include "CConflictDlg.h"

#include "gui/Accessibility.h"
#include "record/RecordFields.h"
#include "text/AccessKey.h"
#include "text/StringTable.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
constexpr int kStrTitle = 1819;
constexpr int kStrIntro = 1815;
constexpr int kStrSetting = 1811;
constexpr int kStrTheirs = 1812;
constexpr int kStrYours = 1813;
constexpr int kStrBoth = 1814;
constexpr int kStrNote = 1820;
constexpr int kStrKeepTheirs = 1816;
constexpr int kStrOverwrite = 1817;
constexpr int kStrCancel = 1818;
constexpr int kKeyKeepTheirs = 1822;
constexpr int kKeyOverwrite = 1823;
constexpr int kKeyCancel = 1824;
constexpr int kMinimumWidth = 560;

/** A caption as a label shows it, without its access key mark and closing colon. */
QString plainCaption(const QString& caption)
{
    QString text = access_key::shown(caption);
    while (text.endsWith(u':') || text.endsWith(u' '))
        text.chop(1);
    return text;
}

/** The value of `field` in `record` as the command line shows values; a byte range in hex. */
QString valueOf(const QString& field, const EnvRecord& record, const EnvRecord& base, const EnvRecord& other)
{
    if (const std::optional<record_fields::FieldRef> ref = record_fields::resolve(field))
        return record_fields::valueText(*ref, record);
    // Bytes no field interprets: the differences() of the record against another give their hex.
    for (const record_fields::Difference& d : record_fields::differences(base, record)) {
        if (d.field == field)
            return d.after;
    }
    for (const record_fields::Difference& d : record_fields::differences(record, other)) {
        if (d.field == field)
            return d.before;
    }
    return {};
}
} // namespace

QString CConflictDlg::settingLabel(const StringTable& strings, const QString& field)
{
    const std::optional<record_fields::FieldRef> ref = record_fields::resolve(field);
    if (!ref || ref->field->captionId == 0)
        return field;
    const QString caption = plainCaption(strings.text(ref->field->captionId));
    return ref->port >= 0 ? accessibility::portFieldName(strings, ref->port, caption) : caption;
}

CConflictDlg::CConflictDlg(const StringTable& strings, const device::Conflict& conflict, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("conflictDialog"));
    setWindowTitle(strings.text(kStrTitle));
    setMinimumWidth(kMinimumWidth);
    auto* layout = new QVBoxLayout(this);
    const QString device = QString::fromStdString(conflict.theirs.macText());
    auto* intro = new QLabel(strings.text(kStrIntro).arg(device), this);
    intro->setObjectName(QStringLiteral("conflictIntroLabel"));
    intro->setWordWrap(true);
    layout->addWidget(intro);

    const QStringList& fields = conflict.theirFields;
    m_table = new QTableWidget(static_cast<int>(fields.size()), 4, this);
    m_table->setObjectName(QStringLiteral("conflictTable"));
    m_table->setHorizontalHeaderLabels({strings.text(kStrSetting), strings.text(kStrTheirs), strings.text(kStrYours),
                                        strings.text(kStrBoth)});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    accessibility::name(m_table, strings.text(kStrTitle));
    for (int row = 0; row < fields.size(); ++row) {
        const QString& field = fields.at(row);
        const bool both = conflict.bothFields.contains(field);
        const QStringList cells{settingLabel(strings, field),
                                valueOf(field, conflict.theirs, conflict.base, conflict.mine),
                                valueOf(field, conflict.mine, conflict.base, conflict.theirs),
                                both ? strings.text(kStrBoth) : QString()};
        for (int column = 0; column < cells.size(); ++column) {
            auto* item = new QTableWidgetItem(cells.at(column));
            QFont font = item->font();
            font.setBold(both);
            item->setFont(font);
            m_table->setItem(row, column, item);
        }
    }
    m_table->resizeColumnsToContents();
    layout->addWidget(m_table);
    auto* note = new QLabel(strings.text(kStrNote), this);
    note->setWordWrap(true);
    layout->addWidget(note);

    auto* buttons = new QHBoxLayout;
    m_keepTheirs = new QPushButton(this);
    m_keepTheirs->setObjectName(QStringLiteral("keepTheirsButton"));
    accessibility::setCaption(m_keepTheirs, strings, strings.text(kStrKeepTheirs), kKeyKeepTheirs);
    m_overwrite = new QPushButton(this);
    m_overwrite->setObjectName(QStringLiteral("overwriteButton"));
    accessibility::setCaption(m_overwrite, strings, strings.text(kStrOverwrite), kKeyOverwrite);
    m_cancel = new QPushButton(this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    accessibility::setCaption(m_cancel, strings, strings.text(kStrCancel), kKeyCancel);
    buttons->addStretch();
    for (QPushButton* button : {m_keepTheirs, m_overwrite, m_cancel})
        buttons->addWidget(button);
    layout->addLayout(buttons);
    // Keeping both writers' changes is what the command line does too: the default, also for Enter.
    m_keepTheirs->setDefault(true);
    m_keepTheirs->setFocus();
    connect(m_keepTheirs, &QPushButton::clicked, this, [this] { answer(device::Resolution::KeepTheirs); });
    connect(m_overwrite, &QPushButton::clicked, this, [this] { answer(device::Resolution::Overwrite); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { answer(device::Resolution::Cancel); });
    setTabOrder(m_table, m_keepTheirs);
    setTabOrder(m_keepTheirs, m_overwrite);
    setTabOrder(m_overwrite, m_cancel);
}

device::Resolution CConflictDlg::ask()
{
    m_answer = device::Resolution::Cancel;
    exec();
    return m_answer;
}

void CConflictDlg::answer(device::Resolution resolution)
{
    m_answer = resolution;
    accept();
}
