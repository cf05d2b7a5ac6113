// Every message box of the wizard goes through here, so that an unattended or
// automated caller can answer it instead of a person.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

namespace ferrowane {

struct MessageRequest {
    QWidget* parent = nullptr;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::Information;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

using MessageBoxHandler = std::function<QMessageBox::StandardButton(const MessageRequest&)>;

// The text as a box shows it: line ends of CR LF or a bare CR become LF.
QString screenLines(QString text);

// Shows the box modally (or hands it to the installed handler) and returns the answer.
QMessageBox::StandardButton showMessage(const MessageRequest& request);

// Convenience forms.
void showInfo(QWidget* parent, const QString& text, const QString& title = QString());
void showError(QWidget* parent, const QString& text);
bool askYesNo(QWidget* parent, const QString& text, const QString& title);

// The captions of the Yes, No and OK buttons in the interface language.
void setMessageButtonTexts(const QString& yes, const QString& no, const QString& ok);

// Replaces the modal box; an empty handler restores it. Returns the previous one.
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);

}  // namespace ferrowane
