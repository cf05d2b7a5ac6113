// Builders for the named controls the wizard's windows are made of. A
// control's Qt object name is the name the language tables and the tests know
// it by, so every builder takes one.
#pragma once

#include <QStringList>
#include <Qt>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace ferrowane {

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text = QString());
QLineEdit* makeEdit(QWidget* parent, const char* name);
QLineEdit* makeReadOnlyEdit(QWidget* parent, const char* name);
// A push button that never becomes the default button of its window.
QPushButton* makeButton(QWidget* parent, const char* name, const QString& text);
QCheckBox* makeCheck(QWidget* parent, const char* name, const QString& text = QString());

// A radio group: a titled frame whose items are radio buttons numbered from 0,
// the first one checked; each item is named `name` followed by its number. The button group is a child of the frame, named
// `name` followed by "Items".
QGroupBox* makeRadioGroup(QWidget* parent, const char* name, const QStringList& items, Qt::Orientation orientation,
                          QButtonGroup*& group);
// Whether a group box is a radio group made above (the language tables treat
// them apart from plain group boxes).
bool isRadioGroup(const QGroupBox* box);

// A caption without its mnemonic marks ("&Next >" -> "Next >",
// "下一步(&N) >" -> "下一步 >").
QString plainCaption(QString caption);

// Checks the item at `position`. Outside the group's range: the nearest item
// when `nearest`, otherwise no item at all.
void checkPosition(QButtonGroup* group, int position, bool nearest);

}  // namespace ferrowane
