// Message boxes, or the handler an automated caller installed in their place.
#include "wizard/message_box.h"

#include <QApplication>
#include <QAbstractButton>
#include <QMessageBox>

#include <utility>

namespace ferrowane {

namespace {
MessageBoxHandler& installedHandler()
{
    static MessageBoxHandler handler;
    return handler;
}
struct ButtonTexts {
    QString yes, no, ok;
};

ButtonTexts& buttonTexts()
{
    static ButtonTexts texts;
    return texts;
}
}  // namespace

QString screenLines(QString text)
{
    // A box breaks lines only at LF; a bare CR would show nothing.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

void setMessageButtonTexts(const QString& yes, const QString& no, const QString& ok)
{
    buttonTexts() = {yes, no, ok};
}

QMessageBox::StandardButton showMessage(const MessageRequest& request)
{
    if (const MessageBoxHandler& handler = installedHandler())
        return handler(request);
    QMessageBox box(request.icon, request.title, screenLines(request.text), request.buttons, request.parent);
    // Qt's own captions are English unless its translations are installed.
    const ButtonTexts& texts = buttonTexts();
    const std::pair<QMessageBox::StandardButton, QString> captions[] = {
        {QMessageBox::Yes, texts.yes}, {QMessageBox::No, texts.no}, {QMessageBox::Ok, texts.ok}};
    for (const auto& [which, caption] : captions)
        if (QAbstractButton* button = box.button(which); button && !caption.isEmpty())
            button->setText(caption);
    return QMessageBox::StandardButton(box.exec());
}

void showInfo(QWidget* parent, const QString& text, const QString& title)
{
    showMessage({parent, title.isEmpty() ? QApplication::applicationDisplayName() : title, text,
                 QMessageBox::Information, QMessageBox::Ok});
}

void showError(QWidget* parent, const QString& text)
{
    showMessage({parent, QApplication::applicationDisplayName(), text, QMessageBox::Critical,
                 QMessageBox::Ok});
}

bool askYesNo(QWidget* parent, const QString& text, const QString& title)
{
    return showMessage({parent, title, text, QMessageBox::Question,
                        QMessageBox::Yes | QMessageBox::No}) == QMessageBox::Yes;
}

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler)
{
    MessageBoxHandler previous = std::move(installedHandler());
    installedHandler() = std::move(handler);
    return previous;
}

}  // namespace ferrowane
