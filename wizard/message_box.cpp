// Message boxes, or the handler an automated caller installed in their place.
#include "wizard/message_box.h"

#include <QApplication>
#include <QMessageBox>

namespace ferrowane {

namespace {
MessageBoxHandler& installedHandler()
{
    static MessageBoxHandler handler;
    return handler;
}
}  // namespace

QString screenLines(QString text)
{
    // A box breaks lines only at LF; a bare CR would show nothing.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

QMessageBox::StandardButton showMessage(const MessageRequest& request)
{
    if (const MessageBoxHandler& handler = installedHandler())
        return handler(request);
    QMessageBox box(request.icon, request.title, screenLines(request.text), request.buttons, request.parent);
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
