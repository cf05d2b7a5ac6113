// The window's own preferences in the per-user store: "language" ("en" or
// "cn"), "windowsize" ("594x425") and "rememberpassword" ("1" or "0").
#include "wizard/window_preferences.h"

#include <QSettings>
#include <QStringList>

namespace ferrowane {

namespace {
QSettings openStore()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tarnwick"),
                     QStringLiteral("Ferrowane"));
}
}  // namespace

QString languageOfLocale(const QLocale& locale)
{
    return locale.language() == QLocale::Chinese ? QStringLiteral("cn") : QStringLiteral("en");
}

WindowPreferences loadWindowPreferences()
{
    const QSettings store = openStore();
    WindowPreferences p;
    const QString language = store.value(QStringLiteral("language")).toString();
    if (language == QLatin1String("en") || language == QLatin1String("cn"))
        p.language = language;
    const QStringList size = store.value(QStringLiteral("windowsize")).toString().split(u'x');
    if (size.size() == 2)
        p.size = QSize(size[0].toInt(), size[1].toInt());
    p.rememberPassword = store.value(QStringLiteral("rememberpassword")).toString() != QLatin1String("0");
    return p;
}

void saveWindowPreferences(const WindowPreferences& p)
{
    QSettings store = openStore();
    store.setValue(QStringLiteral("language"), p.language);
    if (p.size.isValid())
        store.setValue(QStringLiteral("windowsize"),
                       QStringLiteral("%1x%2").arg(p.size.width()).arg(p.size.height()));
    store.setValue(QStringLiteral("rememberpassword"), p.rememberPassword ? QStringLiteral("1") : QStringLiteral("0"));
}

}  // namespace ferrowane
