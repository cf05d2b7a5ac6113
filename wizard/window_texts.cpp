// The interface language applied to the wizard window, and the exports of the
// language tables.
#include "wizard/window_texts.h"

#include "settings/job_file.h"
#include "wizard/controls.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

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

void setButtonText(QWidget* window, const char* name, const char* utf8)
{
    for (QPushButton* button : ownControls<QPushButton>(window))
        if (button->objectName() == QLatin1String(name))
            button->setText(QString::fromUtf8(utf8));
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

void WindowTexts::apply(QWidget* window, const QString& code) const
{
    const bool english = code == QLatin1String("en");
    if (!english && code != QLatin1String("cn"))
        return;
    const LanguageTable& table = english ? m_english : m_chinese;
    for (QWidget* w : ownControls<QWidget>(window)) {
        const QString text = tableText(table, w->objectName());
        if (auto* label = qobject_cast<QLabel*>(w))
            label->setText(text);
        else if (auto* box = qobject_cast<QGroupBox*>(w))
            box->setTitle(text);
        else if (auto* check = qobject_cast<QCheckBox*>(w))
            check->setText(text);
    }
    if (english) {
        setButtonText(window, "btcreatebat", "Create Shortcut File");
        return;
    }
    setButtonText(window, "btcreatebat", "创建快捷方式");
    setButtonText(window, "Button1", "添加>");
    setButtonText(window, "Button2", "添加全部>");
    setButtonText(window, "Button3", "<去除");
    setButtonText(window, "Button4", "<去除全部");
    setButtonText(window, "btbrowse", "浏览...");
    setButtonText(window, "bthelp", "帮助");
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
