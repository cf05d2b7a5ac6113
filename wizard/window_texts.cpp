// The interface language applied to the wizard window, and the exports of the
// language tables.
#include "wizard/window_texts.h"

#include "settings/job_file.h"
#include "wizard/controls.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>

#include <algorithm>

namespace ferrowane {

namespace {

// The window's own captioned controls in component order: dialogs and message
// boxes it owns are windows of their own and do not count.
template <typename T>
QList<T*> ownControls(QWidget* window)
{
    QList<T*> result;
    for (T* w : window->findChildren<T*>()) {
        if (w->window() != window || w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        result.append(w);
    }
    return result;
}

bool tableHas(const LanguageTable& table, const QString& key)
{
    return std::any_of(table.begin(), table.end(), [&](const auto& row) { return row.first == key; });
}

LanguageTable labelsAndRadioGroups(QWidget* window)
{
    LanguageTable table;
    for (QLabel* label : ownControls<QLabel>(window))
        table.append({label->objectName(), label->text()});
    for (QGroupBox* box : ownControls<QGroupBox>(window))
        if (isRadioGroup(box))
            table.append({box->objectName(), box->title()});
    return table;
}

bool writeTable(const QString& path, const LanguageTable& table)
{
    return ConversionJob::saveLines(path, tableLines(table)).isEmpty();
}

}  // namespace

WindowTexts::WindowTexts()
    : m_english(englishTable()),
      m_chinese(chineseTable())
{
}

void WindowTexts::apply(QWidget* window, const QString& code)
{
    const bool english = code == QLatin1String("en");
    if (!english && code != QLatin1String("cn"))
        return;
    m_code = code;
    const LanguageTable& table = english ? m_english : m_chinese;
    const LanguageTable& other = english ? englishOtherTexts() : chineseOtherTexts();
    for (QWidget* w : ownControls<QWidget>(window)) {
        if (w->property("ownText").toBool())
            continue;
        const QString name = w->objectName();
        const QString caption = tableHas(table, name) ? tableText(table, name) : tableText(other, name);
        if (auto* label = qobject_cast<QLabel*>(w))
            label->setText(caption);
        else if (auto* box = qobject_cast<QGroupBox*>(w))
            box->setTitle(caption);
        else if (auto* check = qobject_cast<QCheckBox*>(w))
            check->setText(caption);
        else if (auto* button = qobject_cast<QAbstractButton*>(w); button && tableHas(other, name))
            button->setText(tableText(other, name));
    }
}

QString WindowTexts::text(const QString& key) const
{
    const bool english = m_code != QLatin1String("cn");
    const LanguageTable& table = english ? m_english : m_chinese;
    if (tableHas(table, key))
        return tableText(table, key);
    return tableText(english ? englishOtherTexts() : chineseOtherTexts(), key);
}

bool WindowTexts::exportLabelCaptions(QWidget* window, const QString& folder)
{
    m_english = labelsAndRadioGroups(window);
    return writeTable(QDir(folder).filePath(QStringLiteral("lb.txt")), m_english);
}

bool WindowTexts::exportAllCaptions(QWidget* window, const QString& folder)
{
    m_english = labelsAndRadioGroups(window);
    for (QGroupBox* box : ownControls<QGroupBox>(window))
        if (!isRadioGroup(box))
            m_english.append({box->objectName(), box->title()});
    for (QCheckBox* check : ownControls<QCheckBox>(window))
        m_english.append({check->objectName(), check->text()});
    return writeTable(QDir(folder).filePath(QStringLiteral("lb.txt")), m_english);
}

bool WindowTexts::exportTables(const QString& folder) const
{
    const QDir dir(folder);
    const bool english = writeTable(dir.filePath(QStringLiteral("english.txt")), m_english);
    const bool chinese = writeTable(dir.filePath(QStringLiteral("chn.txt")), m_chinese);
    return english && chinese;
}

}  // namespace ferrowane
