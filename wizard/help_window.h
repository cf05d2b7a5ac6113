// The help window: the help text that ships with the program (docs/help-*.md,
// built into it) in the interface language, with the online help's address as
// a link. Help, F1 and the side picture open it; it needs no browser.
#pragma once

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QTextBrowser;

namespace ferrowane {

class HelpWindow : public QDialog {
    Q_OBJECT

public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // The help of `language` ("en" or "cn"), the captions in it and the web address.
    void showHelp(const QString& language, const QString& title, const QString& onlineCaption,
                  const QString& url, const QString& closeCaption);

    // The built-in help text of a language (Markdown).
    static QString helpText(const QString& language);

private:
    QTextBrowser* m_text = nullptr;
    QLabel* m_link = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
};

}  // namespace ferrowane
