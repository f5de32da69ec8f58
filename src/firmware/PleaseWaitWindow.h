#pragma once

#include <QString>

/**
 * The window the transfer engine shows while the device programs its flash. The firmware dialog gives
 * the engine its progress message window; the command-line tool prints a line instead.
 */
class PleaseWaitWindow
{
public:
    virtual ~PleaseWaitWindow() = default;
    /** Shows the window with `text`. */
    virtual void ShowProgress(const QString& text) = 0;
    /** Hides the window. Called at the end of every transfer, also when it was not shown. */
    virtual void HideProgress() = 0;
};
