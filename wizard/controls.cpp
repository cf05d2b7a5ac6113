// Builders for the named controls of the wizard's windows.
#include "wizard/controls.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include <algorithm>

namespace ferrowane {

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    return label;
}

QLineEdit* makeEdit(QWidget* parent, const char* name)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

QLineEdit* makeReadOnlyEdit(QWidget* parent, const char* name)
{
    QLineEdit* edit = makeEdit(parent, name);
    edit->setReadOnly(true);
    return edit;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

QCheckBox* makeCheck(QWidget* parent, const char* name, const QString& text)
{
    auto* check = new QCheckBox(text, parent);
    check->setObjectName(QLatin1String(name));
    return check;
}

QGroupBox* makeRadioGroup(QWidget* parent, const char* name, const QStringList& items, Qt::Orientation orientation,
                          QButtonGroup*& group)
{
    auto* box = new QGroupBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setProperty("radioGroup", true);
    QBoxLayout* layout = orientation == Qt::Horizontal ? static_cast<QBoxLayout*>(new QHBoxLayout(box))
                                                       : static_cast<QBoxLayout*>(new QVBoxLayout(box));
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setSpacing(orientation == Qt::Horizontal ? 24 : 2);
    group = new QButtonGroup(box);
    group->setObjectName(QLatin1String(name) + QStringLiteral("Items"));
    for (int i = 0; i < items.size(); ++i) {
        auto* radio = new QRadioButton(items[i], box);
        radio->setObjectName(QLatin1String(name) + QString::number(i));  // its caption's key
        group->addButton(radio, i);
        layout->addWidget(radio);
    }
    if (orientation == Qt::Horizontal)
        layout->addStretch();
    group->button(0)->setChecked(true);
    return box;
}

bool isRadioGroup(const QGroupBox* box)
{
    return box->property("radioGroup").toBool();
}

void checkPosition(QButtonGroup* group, int position, bool nearest)
{
    if (nearest) {
        const int last = int(group->buttons().size()) - 1;
        position = std::clamp(position, 0, last);
    }
    if (QAbstractButton* b = group->button(position)) {
        b->setChecked(true);
        return;
    }
    // An exclusive group will not uncheck its last checked button by itself.
    const bool exclusive = group->exclusive();
    group->setExclusive(false);
    for (QAbstractButton* b : group->buttons())
        b->setChecked(false);
    group->setExclusive(exclusive);
}

}  // namespace ferrowane

namespace ferrowane {

QString plainCaption(QString caption)
{
    // "用户名(&U)" style first, then "&User"; "&&" is a literal ampersand.
    static const QRegularExpression cjkMnemonic(QStringLiteral("\\(&[^&]\\)"));
    caption.remove(cjkMnemonic);
    caption.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    caption.remove(u'&');
    caption.replace(u'\x01', u'&');
    return caption;
}

}  // namespace ferrowane
