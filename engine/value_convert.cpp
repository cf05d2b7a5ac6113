#include "engine/value_convert.h"

#include "engine/blob_text.h"
#include "engine/mysql_source.h"

#include <QDate>
#include <QLocale>

#include <mysql.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace ferrowane {

SourceKind sourceKindOf(const SourceColumn& column)
{
    if (column.isBlob)
        return SourceKind::Blob;
    switch (column.mysqlType) {
    case MYSQL_TYPE_GEOMETRY:
        return SourceKind::Spatial;
    case MYSQL_TYPE_BIT:
        return SourceKind::Bits;
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE:
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_DATETIME2:
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_TIMESTAMP2:
        return SourceKind::Date;
    case MYSQL_TYPE_TIME:
    case MYSQL_TYPE_TIME2:
        return SourceKind::Time;
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_LONGLONG:
    case MYSQL_TYPE_YEAR:
    case MYSQL_TYPE_FLOAT:
    case MYSQL_TYPE_DOUBLE:
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL:
        return SourceKind::Number;
    default:
        break;
    }
    return column.isBinary ? SourceKind::Bytes : SourceKind::Text;
}

// ------------------------------------------------------------------ decimals

bool parseDecimalText(const QString& text, DecimalText* out)
{
    DecimalText d;
    qsizetype i = 0;
    const qsizetype n = text.size();
    if (i < n && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) {
        d.negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    bool any = false;
    while (i < n && text.at(i).unicode() >= '0' && text.at(i).unicode() <= '9') {
        if (!(d.integerDigits.isEmpty() && text.at(i) == QLatin1Char('0')))
            d.integerDigits.append(text.at(i));
        any = true;
        ++i;
    }
    if (i < n && text.at(i) == QLatin1Char('.')) {
        ++i;
        while (i < n && text.at(i).unicode() >= '0' && text.at(i).unicode() <= '9') {
            d.fractionDigits.append(text.at(i));
            any = true;
            ++i;
        }
    }
    if (!any || i != n)
        return false;
    *out = d;
    return true;
}

bool exactWhole(QByteArrayView raw, qint64 minValue, qint64 maxValue, qint64* out)
{
    const char* p = raw.data();
    const qsizetype n = raw.size();
    qsizetype i = 0;
    const bool negative = n > 0 && p[0] == '-';
    if (negative)
        ++i;
    // At most 18 digits: no overflow, and anything longer takes the long way.
    if (n - i < 1 || n - i > 18)
        return false;
    qint64 v = 0;
    for (; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
        v = v * 10 + (p[i] - '0');
    }
    if (negative)
        v = -v;
    if (v < minValue || v > maxValue)
        return false;
    *out = v;
    return true;
}

bool exactDecimal(QByteArrayView raw, int precision, int scale, bool currency, std::string* out)
{
    const char* p = raw.data();
    const qsizetype n = raw.size();
    qsizetype i = 0;
    const bool negative = n > 0 && p[0] == '-';
    if (negative)
        ++i;
    while (i < n && p[i] == '0')
        ++i;
    const qsizetype intStart = i;
    while (i < n && p[i] >= '0' && p[i] <= '9')
        ++i;
    const qsizetype intDigits = i - intStart;
    qsizetype fracStart = i;
    qsizetype fracDigits = 0;
    if (i < n && p[i] == '.') {
        fracStart = ++i;
        while (i < n && p[i] >= '0' && p[i] <= '9')
            ++i;
        fracDigits = i - fracStart;
    }
    // Something must have been a digit; no rounding; digits within the column.
    const bool anyDigit = intStart > qsizetype(negative) || intDigits > 0 || fracDigits > 0;
    if (i != n || !anyDigit || fracDigits > scale || intDigits > precision - scale)
        return false;
    // A currency is a 64-bit count of ten-thousandths: 14 whole digits always fit.
    if (currency && intDigits > 14)
        return false;
    bool zero = intDigits == 0;
    for (qsizetype k = fracStart; zero && k < fracStart + fracDigits; ++k)
        zero = p[k] == '0';
    out->clear();
    if (negative && !zero)
        out->push_back('-');
    if (intDigits == 0)
        out->push_back('0');
    else
        out->append(p + intStart, size_t(intDigits));
    if (scale > 0) {
        out->push_back('.');
        out->append(p + fracStart, size_t(fracDigits));
        out->append(size_t(scale - fracDigits), '0');
    }
    return true;
}

qsizetype plainTextLength(QByteArrayView raw, bool asciiOnly)
{
    const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
    const qsizetype n = raw.size();
    qsizetype units = 0;
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            if (c == 0)
                return -1;
            ++i;
            ++units;
            continue;
        }
        if (asciiOnly)
            return -1;
        // Strict UTF-8: shortest forms, no surrogates, nothing past U+10FFFF.
        auto cont = [&](qsizetype k) { return k < n && (p[k] & 0xC0) == 0x80; };
        if (c >= 0xC2 && c <= 0xDF) {
            if (!cont(i + 1))
                return -1;
            i += 2;
            units += 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            if (!cont(i + 1) || !cont(i + 2))
                return -1;
            if ((c == 0xE0 && p[i + 1] < 0xA0) || (c == 0xED && p[i + 1] >= 0xA0))
                return -1;
            const unsigned cp = (c & 0x0Fu) << 12 | (p[i + 1] & 0x3Fu) << 6 | (p[i + 2] & 0x3Fu);
            // A byte-order mark and the noncharacters: decoders may treat them apart.
            if (cp == 0xFEFF || (cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFEu) == 0xFFFEu)
                return -1;
            i += 3;
            units += 1;
        } else if (c >= 0xF0 && c <= 0xF4) {
            if (!cont(i + 1) || !cont(i + 2) || !cont(i + 3))
                return -1;
            if ((c == 0xF0 && p[i + 1] < 0x90) || (c == 0xF4 && p[i + 1] >= 0x90))
                return -1;
            if ((p[i + 2] & 0x3F) == 0x3F && (p[i + 3] & 0x3E) == 0x3E && (p[i + 1] & 0x0F) == 0x0F)
                return -1;  // U+xFFFE and U+xFFFF
            i += 4;
            units += 2;
        } else {
            return -1;
        }
    }
    return units;
}

namespace {

bool isZeroDecimal(const DecimalText& d)
{
    if (!d.integerDigits.isEmpty())
        return false;
    for (QChar c : d.fractionDigits)
        if (c != QLatin1Char('0'))
            return false;
    return true;
}

QString decimalString(const DecimalText& d, int scale)
{
    QString s;
    if (d.negative && !isZeroDecimal(d))
        s += QLatin1Char('-');
    s += d.integerDigits.isEmpty() ? QStringLiteral("0") : d.integerDigits;
    if (scale > 0)
        s += QLatin1Char('.') + d.fractionDigits.left(scale).leftJustified(scale, QLatin1Char('0'));
    return s;
}

// Rounds to `scale` fraction digits, half away from zero; true when a nonzero
// digit was dropped.
bool roundDecimal(DecimalText* d, int scale)
{
    if (d->fractionDigits.size() <= scale)
        return false;
    const QString dropped = d->fractionDigits.mid(scale);
    d->fractionDigits.truncate(scale);
    bool changed = false;
    for (QChar c : dropped)
        if (c != QLatin1Char('0'))
            changed = true;
    if (dropped.at(0).unicode() >= '5') {
        // Add one unit in the last kept place.
        QString digits = d->integerDigits + d->fractionDigits;
        qsizetype i = digits.size() - 1;
        while (i >= 0 && digits.at(i) == QLatin1Char('9')) {
            digits[i] = QLatin1Char('0');
            --i;
        }
        if (i >= 0)
            digits[i] = QChar(char16_t(digits.at(i).unicode() + 1));
        else
            digits.prepend(QLatin1Char('1'));
        const qsizetype intLen = digits.size() - scale;
        d->integerDigits = digits.left(intLen);
        d->fractionDigits = digits.mid(intLen);
        while (d->integerDigits.startsWith(QLatin1Char('0')))
            d->integerDigits.remove(0, 1);
    }
    return changed;
}

DecimalText decimalOf(qlonglong v)
{
    DecimalText d;
    d.negative = v < 0;
    // Through unsigned so that the smallest value has a magnitude.
    const qulonglong mag = v < 0 ? qulonglong(0) - qulonglong(v) : qulonglong(v);
    if (mag != 0)
        d.integerDigits = QString::number(mag);
    return d;
}

DecimalText decimalOf(qulonglong v)
{
    DecimalText d;
    if (v != 0)
        d.integerDigits = QString::number(v);
    return d;
}

// Whether the double prints back to the decimal at its own scale.
bool doubleGivesBack(double value, const DecimalText& d)
{
    const int scale = int(d.fractionDigits.size());
    DecimalText back;
    if (!parseDecimalText(QString::number(value, 'f', scale), &back))
        return false;
    return decimalString(back, scale) == decimalString(d, scale);
}

QString describe(const QVariant& v)
{
    if (v.typeId() == QMetaType::QByteArray) {
        const QByteArray b = v.toByteArray();
        return QStringLiteral("%1 bytes").arg(b.size());
    }
    QString s = v.toString();
    if (s.size() > 40)
        s = s.left(37) + QStringLiteral("...");
    return s;
}

Converted lost(const QVariant& v, const QString& why)
{
    return Converted{QVariant(), describe(v) + QLatin1Char(' ') + why};
}

bool isInteger(const QVariant& v)
{
    return v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::ULongLong
        || v.typeId() == QMetaType::Int || v.typeId() == QMetaType::UInt;
}

// ------------------------------------------------------------- by target kind

Converted toWhole(const QVariant& v, const TargetColumn& t)
{
    auto inRange = [&](long double x) { return x >= t.minValue && x <= t.maxValue; };
    if (v.typeId() == QMetaType::ULongLong) {
        const qulonglong u = v.toULongLong();
        if (u <= qulonglong(std::numeric_limits<qlonglong>::max()) && inRange(qlonglong(u)))
            return {QVariant(qint32(u)), {}};
        return lost(v, QStringLiteral("is out of range"));
    }
    if (isInteger(v)) {
        const qlonglong x = v.toLongLong();
        if (inRange(x))
            return {QVariant(qint32(x)), {}};
        return lost(v, QStringLiteral("is out of range"));
    }
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float) {
        const double d = v.toDouble();
        if (!std::isfinite(d) || !inRange(d))
            return lost(v, QStringLiteral("is out of range"));
        const double r = std::round(d);
        return {QVariant(qint32(r)), r == d ? QString() : describe(v) + QStringLiteral(" lost its fraction")};
    }
    DecimalText dec;
    if (!parseDecimalText(v.toString().trimmed(), &dec))
        return lost(v, QStringLiteral("is not a number"));
    const bool changed = roundDecimal(&dec, 0);
    bool ok = false;
    const qlonglong x = decimalString(dec, 0).toLongLong(&ok);
    if (!ok || !inRange(x))
        return lost(v, QStringLiteral("is out of range"));
    return {QVariant(qint32(x)), changed ? describe(v) + QStringLiteral(" lost its fraction") : QString()};
}

Converted toDouble(const QVariant& v)
{
    if (v.typeId() == QMetaType::ULongLong) {
        const qulonglong u = v.toULongLong();
        const double d = double(u);
        const bool exact = d < 18446744073709551616.0 && qulonglong(d) == u;
        return {QVariant(d), exact ? QString() : describe(v) + QStringLiteral(" is not exact as a double")};
    }
    if (isInteger(v)) {
        const qlonglong x = v.toLongLong();
        const double d = double(x);
        const bool exact = d < 9223372036854775808.0 && qlonglong(d) == x;
        return {QVariant(d), exact ? QString() : describe(v) + QStringLiteral(" is not exact as a double")};
    }
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float)
        return {QVariant(v.toDouble()), {}};
    DecimalText dec;
    const QString text = v.toString().trimmed();
    if (!parseDecimalText(text, &dec))
        return lost(v, QStringLiteral("is not a number"));
    const double d = text.toDouble();
    if (!std::isfinite(d))
        return lost(v, QStringLiteral("is out of range"));
    return {QVariant(d), doubleGivesBack(d, dec) ? QString()
                                                : describe(v) + QStringLiteral(" is not exact as a double")};
}

Converted toSingle(const QVariant& v)
{
    const Converted d = toDouble(v);
    if (d.value.isNull())
        return d;
    const double x = d.value.toDouble();
    const float f = float(x);
    if (!std::isfinite(f))
        return lost(v, QStringLiteral("is out of range"));
    // A float column's value comes as its shortest text; allow for that.
    const bool close = x == 0 ? f == 0 : std::fabs(double(f) - x) <= std::fabs(x) * 1e-7;
    QString loss = d.loss;
    if (loss.isEmpty() && !close)
        loss = describe(v) + QStringLiteral(" is not exact as a single");
    return {QVariant(f), loss};
}

Converted toDecimal(const QVariant& v, int precision, int scale, bool currency)
{
    DecimalText dec;
    if (v.typeId() == QMetaType::ULongLong)
        dec = decimalOf(v.toULongLong());
    else if (isInteger(v))
        dec = decimalOf(v.toLongLong());
    else if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float) {
        const double d = v.toDouble();
        if (!std::isfinite(d))
            return lost(v, QStringLiteral("is out of range"));
        parseDecimalText(QString::number(d, 'f', std::min(scale + 2, 30)), &dec);
    } else if (!parseDecimalText(v.toString().trimmed(), &dec))
        return lost(v, QStringLiteral("is not a number"));

    const bool changed = roundDecimal(&dec, scale);
    if (dec.integerDigits.size() > precision - scale)
        return lost(v, QStringLiteral("is out of range"));
    const QString text = decimalString(dec, scale);
    if (currency) {
        // Currency is a 64-bit count of ten-thousandths.
        const QString units = QString(text).remove(QLatin1Char('.'));
        bool ok = false;
        units.toLongLong(&ok);
        if (!ok)
            return lost(v, QStringLiteral("is out of range"));
    }
    QString loss;
    if (changed)
        loss = describe(v) + QStringLiteral(" was rounded to %1 decimals").arg(scale);
    else if (v.typeId() == QMetaType::Double && !doubleGivesBack(v.toDouble(), dec))
        loss = describe(v) + QStringLiteral(" was rounded to %1 decimals").arg(scale);
    return {QVariant(text), loss};
}

QString bitDigits(qulonglong v, int bits)
{
    QString s = QString::number(v, 2);
    if (bits > s.size())
        s = s.rightJustified(bits, QLatin1Char('0'));
    return s;
}

Converted toText(SourceKind source, const QVariant& v, const TargetColumn& t, int bits)
{
    QString text;
    QString loss;
    if (v.typeId() == QMetaType::QByteArray) {
        if (source == SourceKind::Spatial) {
            bool ok = false;
            text = geometryToText(v.toByteArray(), &ok);
            if (!ok)
                return lost(v, QStringLiteral("are not a geometry"));
        } else {
            text = blobToText(v.toByteArray());
        }
    } else if (source == SourceKind::Bits && isInteger(v)) {
        text = bitDigits(v.toULongLong(), bits);
    } else if (v.typeId() == QMetaType::Double) {
        text = QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    } else {
        text = v.toString();
    }
    if (t.kind == TargetKind::Text && t.size > 0 && text.size() > t.size) {
        loss = QStringLiteral("a text of %1 characters was cut to %2").arg(text.size()).arg(t.size);
        qsizetype keep = t.size;
        // Never half a character: a surrogate pair stays whole or goes.
        if (text.at(keep - 1).isHighSurrogate())
            --keep;
        text.truncate(keep);
    }
    return {QVariant(text), loss};
}

Converted toDate(SourceKind source, const QVariant& v)
{
    if (v.typeId() != QMetaType::QString)
        return lost(v, QStringLiteral("is not a date"));
    const QString text = v.toString();
    if (source != SourceKind::Time) {
        const DateParse d = parseServerDate(text);
        if (d.ok) {
            if (d.isZero)
                return {};
            if (d.year < 100)
                return lost(v, QStringLiteral("is before the year 100"));
            return {QVariant(d.days), {}};
        }
        if (source == SourceKind::Date)
            return lost(v, QStringLiteral("is not a valid date"));
    }
    const TimeParse tp = parseServerTime(text);
    if (!tp.ok)
        return lost(v, QStringLiteral("is not a valid date"));
    if (tp.negative && tp.days != 0)
        return lost(v, QStringLiteral("is a negative time"));
    return {QVariant(tp.days), {}};
}

Converted toBytes(const QVariant& v, const TargetColumn& t)
{
    QByteArray bytes = v.typeId() == QMetaType::QByteArray ? v.toByteArray() : v.toString().toUtf8();
    QString loss;
    if (t.kind == TargetKind::Binary && t.size > 0 && bytes.size() > t.size) {
        loss = QStringLiteral("a value of %1 bytes was cut to %2").arg(bytes.size()).arg(t.size);
        bytes.truncate(t.size);
    }
    return {QVariant(bytes), loss};
}

}  // namespace

Converted convertValue(SourceKind source, const QVariant& value, const TargetColumn& target, int bits)
{
    if (value.isNull())
        return {};
    switch (target.kind) {
    case TargetKind::Long:
        return toWhole(value, target);
    case TargetKind::Double:
        return toDouble(value);
    case TargetKind::Single:
        return toSingle(value);
    case TargetKind::Decimal:
        return toDecimal(value, target.precision, target.scale, false);
    case TargetKind::Currency:
        return toDecimal(value, 19, 4, true);
    case TargetKind::Text:
    case TargetKind::Memo:
        return toText(source, value, target, bits);
    case TargetKind::Date:
        return toDate(source, value);
    case TargetKind::Binary:
    case TargetKind::OleObject:
        return toBytes(value, target);
    }
    return {};
}

// ------------------------------------------------------------------- dates

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

// ".ffffff" as a fraction of a second; i at the point or the end.
bool readFraction(const Chars& s, qsizetype& i, double* out)
{
    *out = 0;
    if (i == s.size())
        return true;
    if (s.at(i) != '.')
        return false;
    ++i;
    double scale = 0.1;
    bool any = false;
    while (i < s.size() && s.at(i) >= '0' && s.at(i) <= '9') {
        *out += (s.at(i) - '0') * scale;
        scale /= 10;
        any = true;
        ++i;
    }
    return any && i == s.size();
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
    if (y == 0 && mo == 0 && d == 0) {
        r.ok = true;
        r.isZero = true;
        return r;
    }
    const QDate date(y, mo, d);
    if (!date.isValid() || h > 23 || mi > 59 || se > 59)
        return r;
    const double dayNumber = double(date.toJulianDay() - kAccessEpochJulian);
    const double time = (h * 3600 + mi * 60 + se + frac) / 86400.0;
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
    r.days = (h * 3600.0 + mi * 60 + se + frac) / 86400.0;
    return r;
}

// ---------------------------------------------------------------- geometry

QString spatialNumber(double value)
{
    if (value == 0)
        return QStringLiteral("0");
    if (!std::isfinite(value))
        return QString::number(value);
    // Shortest digits in exponent form, then placed as the server places them.
    const QString e = QString::number(value, 'e', QLocale::FloatingPointShortest);
    const qsizetype ePos = e.indexOf(QLatin1Char('e'));
    QString mantissa = e.left(ePos);
    const int exponent = e.mid(ePos + 1).toInt();
    const bool negative = mantissa.startsWith(QLatin1Char('-'));
    if (negative)
        mantissa.remove(0, 1);
    const QString digits = QString(mantissa).remove(QLatin1Char('.'));
    QString out;
    if (exponent >= 15 || exponent < -15) {
        out = digits.left(1);
        if (digits.size() > 1)
            out += QLatin1Char('.') + digits.mid(1);
        out += QLatin1Char('e') + QString::number(exponent);
    } else if (exponent >= 0) {
        if (digits.size() <= exponent + 1)
            out = digits + QString(exponent + 1 - digits.size(), QLatin1Char('0'));
        else
            out = digits.left(exponent + 1) + QLatin1Char('.') + digits.mid(exponent + 1);
    } else {
        out = QStringLiteral("0.") + QString(-exponent - 1, QLatin1Char('0')) + digits;
    }
    return negative ? QLatin1Char('-') + out : out;
}

namespace {

class WkbReader {
public:
    WkbReader(const QByteArray& b, qsizetype start) : m_b(b), m_pos(start) {}

    bool geometry(QString* out, bool withName, int depth = 0)
    {
        if (depth > 64)
            return false;
        quint8 order;
        quint32 type;
        if (!byte(&order) || order > 1)
            return false;
        m_little = order == 1;
        if (!u32(&type))
            return false;
        static const char* names[] = {nullptr, "POINT", "LINESTRING", "POLYGON", "MULTIPOINT",
                                      "MULTILINESTRING", "MULTIPOLYGON", "GEOMETRYCOLLECTION"};
        if (type < 1 || type > 7)
            return false;
        if (withName)
            *out += QLatin1String(names[type]);
        switch (type) {
        case 1:
            *out += QLatin1Char('(');
            if (!point(out))
                return false;
            *out += QLatin1Char(')');
            return true;
        case 2:
            return pointList(out);
        case 3:
            return ringList(out);
        case 4:
        case 5:
        case 6:
        case 7: {
            quint32 count;
            if (!u32(&count) || count > quint32(m_b.size()))
                return false;
            if (count == 0) {
                if (!withName)
                    return false;
                *out += QStringLiteral(" EMPTY");
                return true;
            }
            *out += QLatin1Char('(');
            for (quint32 k = 0; k < count; ++k) {
                if (k)
                    *out += QLatin1Char(',');
                if (type == 7) {
                    if (!geometry(out, true, depth + 1))
                        return false;
                    continue;
                }
                // Members of a multi type carry their own header but no name.
                QString member;
                if (!geometry(&member, false, depth + 1))
                    return false;
                if (type == 4 && member.startsWith(QLatin1Char('(')))
                    member = member.mid(1, member.size() - 2);
                *out += member;
            }
            *out += QLatin1Char(')');
            return true;
        }
        }
        return false;
    }

    bool atEnd() const { return m_pos == m_b.size(); }

private:
    bool byte(quint8* v)
    {
        if (m_pos + 1 > m_b.size())
            return false;
        *v = quint8(m_b.at(m_pos++));
        return true;
    }
    bool u32(quint32* v)
    {
        if (m_pos + 4 > m_b.size())
            return false;
        const auto* p = reinterpret_cast<const uchar*>(m_b.constData() + m_pos);
        *v = m_little ? quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24
                      : quint32(p[3]) | quint32(p[2]) << 8 | quint32(p[1]) << 16 | quint32(p[0]) << 24;
        m_pos += 4;
        return true;
    }
    bool f64(double* v)
    {
        if (m_pos + 8 > m_b.size())
            return false;
        uchar raw[8];
        std::memcpy(raw, m_b.constData() + m_pos, 8);
        if (!m_little)
            std::reverse(raw, raw + 8);
        std::memcpy(v, raw, 8);
        m_pos += 8;
        return true;
    }
    bool point(QString* out)
    {
        double x, y;
        if (!f64(&x) || !f64(&y))
            return false;
        *out += spatialNumber(x) + QLatin1Char(' ') + spatialNumber(y);
        return true;
    }
    bool pointList(QString* out)
    {
        quint32 count;
        if (!u32(&count) || qint64(count) * 16 > m_b.size() - m_pos)
            return false;
        *out += QLatin1Char('(');
        for (quint32 k = 0; k < count; ++k) {
            if (k)
                *out += QLatin1Char(',');
            if (!point(out))
                return false;
        }
        *out += QLatin1Char(')');
        return true;
    }
    bool ringList(QString* out)
    {
        quint32 count;
        if (!u32(&count) || qint64(count) * 4 > m_b.size() - m_pos)
            return false;
        *out += QLatin1Char('(');
        for (quint32 k = 0; k < count; ++k) {
            if (k)
                *out += QLatin1Char(',');
            if (!pointList(out))
                return false;
        }
        *out += QLatin1Char(')');
        return true;
    }

    const QByteArray& m_b;
    qsizetype m_pos;
    bool m_little = true;
};

}  // namespace

QString geometryToText(const QByteArray& value, bool* ok)
{
    *ok = false;
    if (value.size() < 4 + 5)
        return QString();
    WkbReader reader(value, 4);  // after the SRID
    QString out;
    if (!reader.geometry(&out, true) || !reader.atEnd())
        return QString();
    *ok = true;
    return out;
}

}  // namespace ferrowane
