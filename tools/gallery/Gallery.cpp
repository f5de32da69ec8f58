#include "Gallery.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QWidget>

namespace {
constexpr int kTitleBarHeight = 30;
constexpr qreal kScales[] = {1.0, 1.5};
} // namespace

Gallery::Gallery(const QDir& outputDir) : m_dir(outputDir)
{
    m_dir.mkpath(QStringLiteral("."));
}

QPixmap Gallery::render(QWidget* window, qreal scale, QWidget* overlay, QPoint overlayAt) const
{
    const QSize client = window->size();
    const QSize frame(client.width() + 2, client.height() + kTitleBarHeight + 1);
    QPixmap pixmap(frame * scale);
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(QColor(0x6b, 0x6b, 0x6b));

    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRect bar(1, 1, client.width(), kTitleBarHeight - 1);
    p.fillRect(bar, QColor(0xe8, 0xe8, 0xe8));
    const QIcon icon = window->windowIcon();
    int textLeft = bar.left() + 8;
    if (!icon.isNull()) {
        icon.paint(&p, QRect(bar.left() + 7, bar.top() + 6, 18, 18));
        textLeft += 24;
    }
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    p.setFont(titleFont);
    p.setPen(QColor(0x20, 0x20, 0x20));
    const QRect titleRect(textLeft, bar.top(), bar.right() - textLeft - 8, bar.height());
    p.drawText(titleRect, Qt::AlignVCenter | Qt::AlignLeft,
               QFontMetrics(titleFont).elidedText(window->windowTitle(), Qt::ElideRight, titleRect.width()));
    p.end();

    window->render(&pixmap, QPoint(1, kTitleBarHeight), QRegion(),
                   QWidget::DrawWindowBackground | QWidget::DrawChildren);
    if (overlay)
        overlay->render(&pixmap, overlayAt + QPoint(1, kTitleBarHeight));
    return pixmap;
}

void Gallery::shoot(QWidget* window, const QString& name, QWidget* overlay, QPoint overlayAt)
{
    window->show();
    QApplication::processEvents();
    for (const qreal scale : kScales) {
        const QString file = scale == 1.0 ? name + QStringLiteral(".png") : name + QStringLiteral("@1.5x.png");
        const QString path = m_dir.filePath(file);
        if (render(window, scale, overlay, overlayAt).save(path))
            m_written << file;
        else
            qWarning("gallery: cannot write %s", qPrintable(path));
    }
}
