#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

class QLabel;

/**
 * The progress message window (dialog 134): a small modeless window with a title bar and no
 * close button that says what the owner is waiting for. The owner creates it once, hidden, and calls
 * ShowProgress, SetProgressText and HideProgress around each request. It is a window of its own,
 * transient for the owner, so that disabling the owner during a request does not grey it out.
 */
class CMsgDlg final : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kDialogId = 134;
    static constexpr int kWidthDlu = 188;
    static constexpr int kHeightDlu = 41;

    /** `owner`: the window it centres over. `title`: string 102. `longestTexts`: texts the window will
     *  show, so that it is made wide enough for the widest line of them in the current font. */
    CMsgDlg(QWidget* owner, const QString& title, const QStringList& longestTexts = {});

    /** Centres the window over the owner, shows it and, when a text is given, sets it. */
    void ShowProgress();
    void ShowProgress(const QString& text);
    /** Replaces the text (at most two lines separated by "\r\n"). */
    void SetProgressText(const QString& text);
    /** Empties the text and hides the window. */
    void HideProgress();

    /** The text as last set, "\r\n" included. */
    QString text() const { return m_text; }
    /** Where ShowProgress puts the window: owner left + (owner width − width) / 2, likewise for top. */
    QPoint centredPosition() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void fitText(const QString& text);

    QPointer<QWidget> m_owner;
    QLabel* m_label = nullptr;
    QString m_text;
};
