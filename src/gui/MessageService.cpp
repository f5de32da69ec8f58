#include "MessageService.h"

MessageService::MessageService(QObject* parent) : QObject(parent) {}

MessageService::Button MessageService::show(QWidget* parent, const QString& text, const QString& caption,
                                            QMessageBox::Icon icon, Buttons buttons)
{
    ShownMessage message{text, caption, icon, buttons, QMessageBox::NoButton};
    if (!m_nextAnswers.empty()) {
        message.answer = m_nextAnswers.front();
        m_nextAnswers.pop_front();
    } else if (m_hook) {
        message.answer = m_hook(message);
    } else if (!m_interactive) {
        message.answer = safeAnswer(buttons);
    } else {
        message.answer = present(parent, message);
    }
    m_shown.append(message);
    emit messageShown(static_cast<int>(m_shown.size() - 1));
    return message.answer;
}

void MessageService::error(QWidget* parent, const QString& text, const QString& caption)
{
    show(parent, text, caption, QMessageBox::Critical, QMessageBox::Ok);
}

void MessageService::information(QWidget* parent, const QString& text, const QString& caption)
{
    show(parent, text, caption, QMessageBox::Information, QMessageBox::Ok);
}

bool MessageService::askYesNo(QWidget* parent, const QString& text, const QString& caption, QMessageBox::Icon icon)
{
    return show(parent, text, caption, icon, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void MessageService::setNextAnswer(Button answer)
{
    m_nextAnswers.push_back(answer);
}

void MessageService::setAnswerHook(std::function<Button(const ShownMessage&)> hook)
{
    m_hook = std::move(hook);
}

MessageService::Button MessageService::present(QWidget* parent, const ShownMessage& message)
{
    QString text = message.text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(message.icon, message.caption, text, message.buttons, parent);
    box.setTextFormat(Qt::PlainText);
    return static_cast<Button>(box.exec());
}

MessageService::Button MessageService::safeAnswer(Buttons buttons)
{
    for (const Button b : {QMessageBox::No, QMessageBox::Cancel, QMessageBox::Ok}) {
        if (buttons.testFlag(b))
            return b;
    }
    return QMessageBox::NoButton;
}
