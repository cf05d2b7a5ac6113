// What the window keeps about itself between starts, beside the job's
// options (settings/settings_store.h) and in the same per-user store: the
// interface language, the window's size and whether the password is kept.
#pragma once

#include <QLocale>
#include <QSize>
#include <QString>

namespace ferrowane {

struct WindowPreferences {
    QString language;              // "en" or "cn"; empty when none stored (a first start)
    QSize size;                    // invalid when none stored
    bool rememberPassword = true;  // "Remember password"
};

WindowPreferences loadWindowPreferences();
// Written before the job's options, whose save makes the file owner-only.
void saveWindowPreferences(const WindowPreferences& preferences);

// The interface language for a locale: "cn" for Chinese, else "en".
QString languageOfLocale(const QLocale& locale);

}  // namespace ferrowane
