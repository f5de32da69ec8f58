#include "CMsgDlg.h"

#include "gui/AppIcon.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>
#include <QWindow>

#include <cmath>

namespace {
constexpr int kMarginPx = 12;

QString displayed(const QString& text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

/** Dialog units of the Windows dialog layouts: a horizontal unit is a quarter of the
 *  font's average character width, a vertical unit an eighth of its height. */
QSize dialogUnitsToPixels(const QFontMetrics& fm, int widthDlu, int heightDlu)
{
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const double averageWidth = fm.horizontalAdvance(alphabet) / 52.0;
    return {static_cast<int>(std::lround(widthDlu * averageWidth / 4.0)),
            static_cast<int>(std::lround(heightDlu * fm.height() / 8.0))};
}
} // namespace

CMsgDlg::CMsgDlg(QWidget* owner, const QString& title, const QStringList& longestTexts)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_owner(owner)
{
    setObjectName(QStringLiteral("messageDialog"));
    setWindowTitle(title);
    setWindowIcon(programIcon());
    setModal(false);
    // It only tells; the owner keeps the activation (and the focus it gives its list afterwards).
    setAttribute(Qt::WA_ShowWithoutActivating);
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("messageLabel"));
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setTextFormat(Qt::PlainText);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMarginPx, kMarginPx, kMarginPx, kMarginPx);
    layout->addWidget(m_label);

    QSize size = dialogUnitsToPixels(fontMetrics(), kWidthDlu, kHeightDlu);
    const QFontMetrics fm(m_label->font());
    for (const QString& text : longestTexts) {
        const QSize needed = fm.size(0, displayed(text)) + QSize(4 * kMarginPx, 2 * kMarginPx);
        size = size.expandedTo(needed);
    }
    setFixedSize(size);
}

QPoint CMsgDlg::centredPosition() const
{
    if (!m_owner)
        return pos();
    const QRect owner = m_owner->frameGeometry();
    // The window's own frame, known from its platform window even while it is hidden.
    QSize self = size();
    if (const QWindow* window = windowHandle()) {
        const QMargins frame = window->frameMargins();
        self += QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
    }
    return {owner.left() + (owner.width() - self.width()) / 2, owner.top() + (owner.height() - self.height()) / 2};
}

void CMsgDlg::ShowProgress()
{
    if (!isVisible()) {
        winId(); // the platform window: its frame for the centring, and a transient parent
        if (m_owner && m_owner->window()->windowHandle())
            windowHandle()->setTransientParent(m_owner->window()->windowHandle());
    }
    move(centredPosition());
    show();
    repaint();
}

void CMsgDlg::ShowProgress(const QString& text)
{
    ShowProgress();
    SetProgressText(text);
}

void CMsgDlg::SetProgressText(const QString& text)
{
    m_text = text;
    fitText(text);
    m_label->setText(displayed(text));
    m_label->repaint();
}

void CMsgDlg::HideProgress()
{
    SetProgressText(QString());
    hide();
}

void CMsgDlg::fitText(const QString& text)
{
    // A text wider than the window (a long translation) widens it, keeping its centre.
    const QSize needed = m_label->fontMetrics().size(0, displayed(text)) + QSize(4 * kMarginPx, 2 * kMarginPx);
    if (needed.width() <= width() && needed.height() <= height())
        return;
    const QPoint centre = geometry().center();
    setFixedSize(size().expandedTo(needed));
    if (isVisible())
        move(pos() + centre - geometry().center());
}

void CMsgDlg::closeEvent(QCloseEvent* event)
{
    // No close button, and no closing by the system either: the owner hides the window.
    event->ignore();
}

void CMsgDlg::keyPressEvent(QKeyEvent* event)
{
    // Escape would reject (hide) a dialog; only the owner hides this one.
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}
