#pragma once

#include <QDir>
#include <QPixmap>
#include <QString>
#include <QStringList>

class QWidget;

/**
 * Renders widgets to PNG files as a reviewer would see them: the client area under a plain title bar
 * (icon and window title), at 100 % and at 150 % (device pixel ratio 1.5).
 */
class Gallery final
{
public:
    explicit Gallery(const QDir& outputDir);

    /** Writes `name`.png and `name`@1.5x.png; `overlay` (a popup such as an open menu) is drawn at
     *  `overlayAt` in the window's coordinates. */
    void shoot(QWidget* window, const QString& name, QWidget* overlay = nullptr, QPoint overlayAt = {});
    const QStringList& written() const { return m_written; }

private:
    QPixmap render(QWidget* window, qreal scale, QWidget* overlay, QPoint overlayAt) const;

    QDir m_dir;
    QStringList m_written;
};
