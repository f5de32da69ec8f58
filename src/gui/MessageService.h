#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>

/** One message as it was shown: what a test reads back. */
struct ShownMessage
{
    QString text;    // as the caller gave it (line breaks "\r\n" as the texts have them)
    QString caption; // the message box title
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
};

/**
 * Every message box of the program goes through here. It keeps a record of each message shown and has a
 * "next answer" hook: a queued answer is returned without showing a box, so tests drive the dialogs'
 * questions and read the exact text, icon and caption. Not interactive (tests), a message without a
 * queued answer is answered with its safe button (No, Cancel, else OK) instead of blocking.
 */
class MessageService : public QObject
{
    Q_OBJECT

public:
    using Buttons = QMessageBox::StandardButtons;
    using Button = QMessageBox::StandardButton;

    explicit MessageService(QObject* parent = nullptr);

    /** Shows `text` (line breaks "\r\n" or "\n") and returns the button pressed. */
    Button show(QWidget* parent, const QString& text, const QString& caption, QMessageBox::Icon icon,
                Buttons buttons = QMessageBox::Ok);
    /** An error: stop icon, OK. */
    void error(QWidget* parent, const QString& text, const QString& caption);
    /** A notice: information icon, OK. */
    void information(QWidget* parent, const QString& text, const QString& caption);
    /** A question with Yes and No; true on Yes. */
    bool askYesNo(QWidget* parent, const QString& text, const QString& caption,
                  QMessageBox::Icon icon = QMessageBox::Question);

    /** The answer of the next message, given without showing it (answers queue up in order). */
    void setNextAnswer(Button answer);
    /** A hook asked for the answer of every message that has no queued answer; nullptr removes it. */
    void setAnswerHook(std::function<Button(const ShownMessage&)> hook);
    /** False: messages without a queued answer or hook get their safe answer instead of a box. */
    void setInteractive(bool interactive) { m_interactive = interactive; }

    const QList<ShownMessage>& shown() const { return m_shown; }
    /** The last message shown; an empty record when none. */
    ShownMessage last() const { return m_shown.isEmpty() ? ShownMessage{} : m_shown.last(); }
    void clearShown() { m_shown.clear(); }

signals:
    /** A message was shown (or answered by the hook); index into shown(). */
    void messageShown(int index);

protected:
    /** Shows the real box; tests never reach it. */
    virtual Button present(QWidget* parent, const ShownMessage& message);

private:
    static Button safeAnswer(Buttons buttons);

    std::deque<Button> m_nextAnswers;
    std::function<Button(const ShownMessage&)> m_hook;
    bool m_interactive = true;
    QList<ShownMessage> m_shown;
};
