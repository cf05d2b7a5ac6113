// The welcome page: two bold headings and two lines of text, all from the
// language tables.
#include "wizard/welcome_page.h"

#include "wizard/controls.h"

#include <QLabel>
#include <QVBoxLayout>

namespace ferrowane {

QWidget* buildWelcomePage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet1"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(24, 28, 24, 12);
    layout->setSpacing(4);
    for (const char* name : {"Label7", "Label8"}) {
        QLabel* heading = makeLabel(page, name);
        QFont f = heading->font();
        f.setBold(true);
        f.setPointSizeF(f.pointSizeF() * 1.5);
        heading->setFont(f);
        heading->setWordWrap(true);
        layout->addWidget(heading);
    }
    layout->addSpacing(24);
    QLabel* purpose = makeLabel(page, "Label9");
    purpose->setWordWrap(true);
    layout->addWidget(purpose);
    layout->addSpacing(12);
    QLabel* howToGoOn = makeLabel(page, "Label10");
    howToGoOn->setWordWrap(true);
    layout->addWidget(howToGoOn);
    layout->addStretch();
    return page;
}

}  // namespace ferrowane
