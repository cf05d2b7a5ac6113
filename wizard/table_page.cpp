// The table page: its layout and the moves between the available and the
// selected tables.
#include "wizard/table_page.h"

#include "wizard/controls.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace ferrowane {

namespace {

// Letters compared without regard to case; names equal so are ordered by case.
bool captionLess(const QString& a, const QString& b)
{
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
}

QStringList names(const QListWidget* list)
{
    QStringList result;
    for (int i = 0; i < list->count(); ++i)
        result.append(list->item(i)->text());
    return result;
}

// Moves the selected entries of `from` to `to` at the position `to` has now;
// walking from the last entry keeps their order.
void moveSelected(QListWidget* from, QListWidget* to)
{
    const int at = to->count();
    for (int i = from->count() - 1; i >= 0; --i) {
        if (!from->item(i)->isSelected())
            continue;
        to->insertItem(at, from->item(i)->text());
        delete from->takeItem(i);
    }
}

}  // namespace

TablePage::TablePage(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("TabSheet5"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 4);
    layout->setSpacing(6);
    QLabel* heading = makeLabel(this, "Label26");
    heading->setWordWrap(true);
    layout->addWidget(heading);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(3);
    QLabel* availableLabel = makeLabel(this, "Label27");
    QLabel* selectedLabel = makeLabel(this, "Label28");
    m_available = new QListWidget(this);
    m_available->setObjectName(QStringLiteral("availabletables"));
    m_selected = new QListWidget(this);
    m_selected->setObjectName(QStringLiteral("selecttables"));
    for (QListWidget* list : {m_available, m_selected})
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    availableLabel->setBuddy(m_available);
    selectedLabel->setBuddy(m_selected);

    auto* moves = new QVBoxLayout;
    moves->setSpacing(6);
    QPushButton* add = makeButton(this, "Button1", QStringLiteral("Add >"));
    QPushButton* addAllButton = makeButton(this, "Button2", QStringLiteral("Add all >"));
    QPushButton* remove = makeButton(this, "Button3", QStringLiteral("< Remove"));
    QPushButton* removeAllButton = makeButton(this, "Button4", QStringLiteral("< Remove all"));
    moves->addStretch();
    for (QPushButton* b : {add, addAllButton, remove, removeAllButton}) {
        b->setMinimumWidth(96);
        moves->addWidget(b);
    }
    moves->addStretch();

    QPushButton* shortcut = makeButton(this, "btcreatebat", QStringLiteral("Create Shortcut File"));
    grid->addWidget(availableLabel, 0, 0);
    grid->addWidget(selectedLabel, 0, 2);
    grid->addWidget(m_available, 1, 0);
    grid->addLayout(moves, 1, 1);
    grid->addWidget(m_selected, 1, 2);
    grid->addWidget(shortcut, 2, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
    layout->addLayout(grid, 1);

    connect(add, &QPushButton::clicked, this, &TablePage::addSelected);
    connect(addAllButton, &QPushButton::clicked, this, &TablePage::addAll);
    connect(remove, &QPushButton::clicked, this, &TablePage::removeSelected);
    connect(removeAllButton, &QPushButton::clicked, this, &TablePage::removeAll);
    // A double click moves what is then selected in its list, as the buttons do.
    connect(m_available, &QListWidget::itemDoubleClicked, this, &TablePage::addSelected);
    connect(m_selected, &QListWidget::itemDoubleClicked, this, &TablePage::removeSelected);
    connect(shortcut, &QPushButton::clicked, this, &TablePage::shortcutWindowRequested);
}

void TablePage::listAvailable(const QStringList& listed)
{
    for (const QString& name : listed) {
        if (!m_availableSorted) {
            m_available->addItem(name);
            continue;
        }
        int row = 0;
        while (row < m_available->count() && !captionLess(name, m_available->item(row)->text()))
            ++row;
        m_available->insertItem(row, name);
    }
    if (m_available->count() > 0)
        m_available->setCurrentRow(0, QItemSelectionModel::NoUpdate);
}

QStringList TablePage::selectedTables() const
{
    return names(m_selected);
}

int TablePage::selectedCount() const
{
    return m_selected->count();
}

void TablePage::focusAvailable()
{
    m_available->setFocus();
}

void TablePage::sortAvailable()
{
    QStringList sorted = names(m_available);
    std::stable_sort(sorted.begin(), sorted.end(), captionLess);
    m_available->clear();
    m_available->addItems(sorted);
    m_availableSorted = true;
}

void TablePage::addSelected()
{
    moveSelected(m_available, m_selected);
    emit selectionChanged();
}

void TablePage::addAll()
{
    m_selected->addItems(names(m_available));
    m_available->clear();
    emit selectionChanged();
}

void TablePage::removeSelected()
{
    moveSelected(m_selected, m_available);
    sortAvailable();
    emit selectionChanged();
}

void TablePage::removeAll()
{
    m_available->addItems(names(m_selected));
    m_selected->clear();
    sortAvailable();
    emit selectionChanged();
}

bool TablePage::selectAvailable(const QString& name)
{
    for (int row = 0; row < m_available->count(); ++row) {
        if (m_available->item(row)->text() == name) {
            m_available->clearSelection();
            m_available->setCurrentRow(row);
            m_available->item(row)->setSelected(true);
            return true;
        }
    }
    return false;
}

void TablePage::emptyLists()
{
    m_available->clear();
    m_selected->clear();
}

void TablePage::emptySelected()
{
    m_selected->clear();
}

}  // namespace ferrowane
