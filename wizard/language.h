// The interface texts of the main window: an English and a Chinese table that
// map a control's name (or one of four message keys) to its text, and a second
// pair for every other text a person sees.
#pragma once

#include <QList>
#include <QPair>
#include <QString>

namespace ferrowane {

// key=text rows in their stored order; a text may be empty.
using LanguageTable = QList<QPair<QString, QString>>;

const LanguageTable& englishTable();
const LanguageTable& chineseTable();
// The rest of what a person sees (buttons, radio items, messages, progress
// captions, the help and shortcut-file windows), keyed the same way.
const LanguageTable& englishOtherTexts();
const LanguageTable& chineseOtherTexts();

// The text of a key, or an empty text when the table has no such key.
QString tableText(const LanguageTable& table, const QString& key);

// The table as key=text lines.
QStringList tableLines(const LanguageTable& table);

}  // namespace ferrowane
