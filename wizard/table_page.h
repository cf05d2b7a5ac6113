// The wizard's table page (step 5): the tables still available and the
// tables selected for conversion, in conversion order, with the four moves
// between them and the button that opens the shortcut-file window.
#pragma once

#include <QStringList>
#include <QWidget>

class QListWidget;
class QPushButton;

namespace ferrowane {

class TablePage : public QWidget {
    Q_OBJECT

public:
    explicit TablePage(QWidget* parent = nullptr);

    // A listing of the database: appended to the available tables (in
    // alphabetical place once a removal has sorted them); the first entry
    // becomes the current one without being selected.
    void listAvailable(const QStringList& names);
    // The selected tables, top to bottom: the order of conversion.
    QStringList selectedTables() const;
    int selectedCount() const;
    void focusAvailable();

    // The four moves. Each takes names out of one list into the other, so
    // nothing is ever doubled.
    void addSelected();    // "Add >": the selected available tables, after those already selected
    void addAll();         // "Add all >"
    void removeSelected(); // "< Remove": back among the available tables, then sorted
    void removeAll();      // "< Remove all"

    // Makes the first available table named exactly `name` the only selected
    // one; false when there is none.
    bool selectAvailable(const QString& name);
    // Back from this page: both lists emptied.
    void emptyLists();
    // Finish: the selected list emptied.
    void emptySelected();

signals:
    // After each move: the number of selected tables may have changed.
    void selectionChanged();
    // "Create Shortcut File".
    void shortcutWindowRequested();

private:
    void sortAvailable();

    QListWidget* m_available = nullptr;
    QListWidget* m_selected = nullptr;
    bool m_availableSorted = false;
};

}  // namespace ferrowane
