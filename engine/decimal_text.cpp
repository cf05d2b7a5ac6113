// Exact decimal texts: reading, rounding and writing them, and the fast
// checks on the server's digits.
#include "engine/decimal_text.h"

namespace ferrowane {

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


static bool isZeroDecimal(const DecimalText& d)
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

}  // namespace ferrowane
