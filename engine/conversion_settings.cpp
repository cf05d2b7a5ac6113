#include "engine/conversion_settings.h"

namespace ferrowane {

const QStringList& characterSetNames()
{
    static const QStringList names = {
        "Default", "armscii8", "ascii",   "big5",     "binary", "cp1250", "cp1251", "cp1256",
        "cp1257",  "cp850",    "cp852",   "cp866",    "cp932",  "dec8",   "eucjpms", "euckr",
        "gb2312",  "gbk",      "geostd8", "greek",    "hebrew", "hp8",    "keybcs2", "koi8r",
        "koi8u",   "latin1",   "latin2",  "latin5",   "latin7", "macce",  "macroman", "sjis",
        "swe7",    "tis620",   "ucs2",    "ujis",     "utf8",
        // After the older entries, so that their stored positions keep their meaning.
        "utf8mb4"};
    return names;
}

int characterSetPosition(const QString& name)
{
    return int(characterSetNames().indexOf(name));
}

QString encodeFlag(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

bool decodeFlag(const QString& text)
{
    return text == QLatin1String("1");
}

QString encodeChoice(int position)
{
    return QString::number(position);
}

std::optional<int> decodeChoice(const QString& text)
{
    // A decimal integer with an optional sign, nothing around it.
    if (text.isEmpty())
        return std::nullopt;
    int i = 0;
    if (text[0] == u'-' || text[0] == u'+')
        i = 1;
    if (i == text.size())
        return std::nullopt;
    for (int k = i; k < text.size(); ++k)
        if (text[k] < u'0' || text[k] > u'9')
            return std::nullopt;
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

}  // namespace ferrowane
