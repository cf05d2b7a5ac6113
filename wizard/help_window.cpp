// The help window's layout and the built-in help texts.
#include "wizard/help_window.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace ferrowane {

HelpWindow::HelpWindow(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("helpWindow"));
    resize(560, 480);
    auto* layout = new QVBoxLayout(this);
    m_text = new QTextBrowser(this);
    m_text->setObjectName(QStringLiteral("helpText"));
    m_text->setOpenExternalLinks(true);
    layout->addWidget(m_text, 1);
    m_link = new QLabel(this);
    m_link->setObjectName(QStringLiteral("helpLink"));
    m_link->setOpenExternalLinks(true);
    m_link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    m_link->setWordWrap(true);
    layout->addWidget(m_link);
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    layout->addWidget(m_buttons);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QString HelpWindow::helpText(const QString& language)
{
    QFile file(language == QLatin1String("cn") ? QStringLiteral(":/help/help-zh.md")
                                               : QStringLiteral(":/help/help-en.md"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void HelpWindow::showHelp(const QString& language, const QString& title, const QString& onlineCaption,
                          const QString& url, const QString& closeCaption)
{
    setWindowTitle(title);
    m_text->setMarkdown(helpText(language));
    m_link->setText(QStringLiteral("%1 <a href=\"%2\">%2</a>").arg(onlineCaption.toHtmlEscaped(), url.toHtmlEscaped()));
    m_buttons->button(QDialogButtonBox::Close)->setText(closeCaption);
    show();
    raise();
    activateWindow();
}

}  // namespace ferrowane
