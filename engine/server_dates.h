// The server's date and time texts as Access stores them: days since
// 1899-12-30 with the time of day as the fraction.
#pragma once

#include <QByteArrayView>
#include <QString>

namespace ferrowane {

// Days since 1899-12-30 as Access stores dates (before that day the time is
// subtracted from the negative day number). ok false when the text is not a
// date, time or date-time the server writes, or the date is not a real day.
// A zero date ("0000-00-00", with or without a time) and a partial one (month
// or day 0) give ok true, isZero true. Fractions of a second are cut to
// milliseconds, the most Access keeps.
struct DateParse {
    bool ok = false;
    bool isZero = false;
    int year = 0;
    double days = 0;
};
DateParse parseServerDate(const QString& text);
DateParse parseServerDate(QByteArrayView text);  // the server's bytes, read the same way
// A server TIME text ("-838:59:59.000000" to "838:59:59.000000") as a day
// fraction; ok false when malformed. negative tells the sign.
struct TimeParse {
    bool ok = false;
    bool negative = false;
    double days = 0;
};
TimeParse parseServerTime(const QString& text);

}  // namespace ferrowane
