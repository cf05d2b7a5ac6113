// Applying the interface language to the wizard window: the captions of its
// labels, radio groups, group boxes and check boxes come from the English or
// the Chinese table by the control's Qt object name; push buttons and radio
// items from the second pair of tables, which also holds the texts that
// belong to no control (messages, progress captions, other windows). Also the
// maintenance exports that write the tables (offered to no user).
#pragma once

#include "wizard/language.h"

#include <QString>

class QWidget;

namespace ferrowane {

class WindowTexts {
public:
    WindowTexts();

    // Applies the tables of `code` ("en" or "cn") to the window's own controls;
    // a label, group box or check box whose name is a key of neither gets an empty
    // caption (unless its "ownText" property is set: it writes its own text),
    // a push button or radio item keeps its caption. Any other code changes
    // nothing.
    void apply(QWidget* window, const QString& code);

    // The text of a key in the language applied last (English before any):
    // from the first table, else from the other texts.
    QString text(const QString& key) const;
    QString code() const { return m_code; }

    // The English table becomes the window's labels and radio groups with the
    // captions they show now, written as "lb.txt" into `folder`.
    bool exportLabelCaptions(QWidget* window, const QString& folder);
    // The same with the group boxes and check boxes as well.
    bool exportAllCaptions(QWidget* window, const QString& folder);
    // Both tables as "english.txt" and "chn.txt" into `folder`.
    bool exportTables(const QString& folder) const;

    const LanguageTable& english() const { return m_english; }

private:
    LanguageTable m_english;
    LanguageTable m_chinese;
    QString m_code = QStringLiteral("en");
};

}  // namespace ferrowane
