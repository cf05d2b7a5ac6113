// Reading the server's date, date-time and time texts as Access day numbers.
#include "engine/server_dates.h"

#include <QDate>

#include <cmath>

namespace ferrowane {

namespace {

// The date parser reads a QString or the server's bytes alike.
struct Chars {
    const QChar* q = nullptr;
    const char* b = nullptr;
    qsizetype n = 0;
    qsizetype size() const { return n; }
    char16_t at(qsizetype i) const { return q ? q[i].unicode() : char16_t((unsigned char)b[i]); }
};

bool readNumber(const Chars& s, qsizetype& i, int digits, int* out)
{
    int v = 0;
    for (int k = 0; k < digits; ++k, ++i) {
        if (i >= s.size() || s.at(i) < '0' || s.at(i) > '9')
            return false;
        v = v * 10 + (s.at(i) - '0');
    }
    *out = v;
    return true;
}

// ".ffffff" as a fraction of a second; i at the point or the end. Access
// keeps milliseconds: the digits after them are cut, never rounded, so that
// 23:59:59.999999 stays in its day (and 9999-12-31 in its year).
bool readFraction(const Chars& s, qsizetype& i, double* out)
{
    *out = 0;
    if (i == s.size())
        return true;
    if (s.at(i) != '.')
        return false;
    ++i;
    int milliseconds = 0;
    int digits = 0;
    while (i < s.size() && s.at(i) >= '0' && s.at(i) <= '9') {
        if (digits < 3)
            milliseconds = milliseconds * 10 + (s.at(i) - '0');
        ++digits;
        ++i;
    }
    for (int k = digits; k < 3; ++k)
        milliseconds *= 10;
    *out = milliseconds / 1000.0;
    return digits > 0 && i == s.size();
}

const qint64 kAccessEpochJulian = QDate(1899, 12, 30).toJulianDay();

DateParse parseDateChars(const Chars& text)
{
    DateParse r;
    qsizetype i = 0;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
    double frac = 0;
    if (!readNumber(text, i, 4, &y) || i >= text.size() || text.at(i++) != '-'
        || !readNumber(text, i, 2, &mo) || i >= text.size() || text.at(i++) != '-'
        || !readNumber(text, i, 2, &d))
        return r;
    if (i < text.size()) {
        if (text.at(i++) != ' ' || !readNumber(text, i, 2, &h) || i >= text.size()
            || text.at(i++) != ':' || !readNumber(text, i, 2, &mi) || i >= text.size()
            || text.at(i++) != ':' || !readNumber(text, i, 2, &se) || !readFraction(text, i, &frac))
            return r;
    }
    // "0000-00-00" and the partial zero dates ("2024-00-00", "2024-05-00")
    // that the server lets through: no day Access can hold.
    if (mo == 0 || d == 0) {
        r.ok = true;
        r.isZero = true;
        return r;
    }
    const QDate date(y, mo, d);
    if (!date.isValid() || h > 23 || mi > 59 || se > 59)
        return r;
    const double dayNumber = double(date.toJulianDay() - kAccessEpochJulian);
    const double time = ((h * 3600 + mi * 60 + se) * 1000 + std::lround(frac * 1000)) / 86400000.0;
    r.ok = true;
    r.year = y;
    r.days = dayNumber >= 0 ? dayNumber + time : dayNumber - time;
    return r;
}

}  // namespace

DateParse parseServerDate(const QString& text)
{
    return parseDateChars(Chars{text.constData(), nullptr, text.size()});
}

DateParse parseServerDate(QByteArrayView text)
{
    return parseDateChars(Chars{nullptr, text.data(), text.size()});
}

TimeParse parseServerTime(const QString& qtext)
{
    const Chars text{qtext.constData(), nullptr, qtext.size()};
    TimeParse r;
    qsizetype i = 0;
    if (i < text.size() && text.at(i) == '-') {
        r.negative = true;
        ++i;
    }
    int h = 0, digits = 0;
    while (i < text.size() && text.at(i) >= '0' && text.at(i) <= '9' && digits < 4) {
        h = h * 10 + (text.at(i) - '0');
        ++i;
        ++digits;
    }
    int mi = 0, se = 0;
    double frac = 0;
    if (digits == 0 || i >= text.size() || text.at(i++) != ':' || !readNumber(text, i, 2, &mi)
        || i >= text.size() || text.at(i++) != ':' || !readNumber(text, i, 2, &se)
        || !readFraction(text, i, &frac) || mi > 59 || se > 59)
        return r;
    r.ok = true;
    r.days = ((h * 3600.0 + mi * 60 + se) * 1000 + std::lround(frac * 1000)) / 86400000.0;
    return r;
}

}  // namespace ferrowane
