#pragma once

#include <QIcon>

/** The program icon (resource 128), drawn at every size it is asked for. */
QIcon programIcon();

/** Three bars in `color`: the menu button users know. */
QIcon menuIcon(const QColor& color);
