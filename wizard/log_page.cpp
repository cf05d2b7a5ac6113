// The log page: the read-only log view, the row bar and the details line
// beneath it, and the hidden completion captions.
#include "wizard/log_page.h"

#include "wizard/controls.h"
#include "wizard/log_view.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QVBoxLayout>

namespace ferrowane {

LogPage::LogPage(bool& stopRequested, LogView::Texts texts, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("TabSheet6"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 4);
    layout->setSpacing(4);
    auto* view = new QPlainTextEdit(this);
    view->setObjectName(QStringLiteral("sc"));
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(view, 1);
    auto* bar = new QProgressBar(this);
    bar->setObjectName(QStringLiteral("pbtable"));
    bar->setRange(0, 1);
    bar->setValue(0);
    bar->setFormat(QString());
    layout->addWidget(bar);
    QLabel* details = makeLabel(this, "progressdetails");
    details->setProperty("ownText", true);  // written by the log view, in the current language
    details->setWordWrap(true);
    details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(details);

    // Never shown: their texts come from the language tables.
    m_completed = makeLabel(this, "Label29");
    m_migrated = makeLabel(this, "Label30");
    m_finish = makeLabel(this, "Label32");
    for (QLabel* l : {m_completed, m_migrated, m_finish})
        l->hide();
    const QList<QPair<const char*, QString RunTexts::*>> endCaptions = {
        {"endfinishedwith", &RunTexts::finishedWith},
        {"endstopped", &RunTexts::stopped},
        {"endstoppedwith", &RunTexts::stoppedWith},
        {"endfailedtable", &RunTexts::failedTable},
        {"endfailedtables", &RunTexts::failedTables},
        {"endkeynotcreated", &RunTexts::keyNotCreated},
        {"endkeysnotcreated", &RunTexts::keysNotCreated},
        {"endvaluechanged", &RunTexts::valueChanged},
        {"endvalueschanged", &RunTexts::valuesChanged},
        {"endschemadetailnotmade", &RunTexts::schemaDetailNotMade},
        {"endschemadetailsnotmade", &RunTexts::schemaDetailsNotMade},
        {"endcountseparator", &RunTexts::countSeparator},
    };
    for (const auto& [name, field] : endCaptions) {
        QLabel* label = makeLabel(this, name);
        label->hide();
        m_endCaptions.append({label, field});
    }

    m_log = std::make_unique<LogView>(view, bar, details, stopRequested, std::move(texts));
}

LogPage::~LogPage() = default;

RunTexts LogPage::completionTexts() const
{
    RunTexts texts;
    texts.completed = m_completed->text();
    texts.migrated = m_migrated->text();
    texts.finish = m_finish->text();
    for (const auto& [label, field] : m_endCaptions)
        if (!label->text().isEmpty())
            texts.*field = label->text();
    return texts;
}

}  // namespace ferrowane
