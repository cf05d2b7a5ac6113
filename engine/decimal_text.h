// Exact decimal numbers as text: what Decimal and Currency columns take, read
// and rounded digit by digit so that no binary fraction creeps in.
#pragma once

#include <QByteArrayView>
#include <QString>

#include <string>

namespace ferrowane {

// The exact decimal text of a number text: optional minus, digits, optional
// point and digits. false when the text is not such a number.
struct DecimalText {
    bool negative = false;
    QString integerDigits;   // no leading zeros; empty for 0
    QString fractionDigits;  // as written, trailing zeros kept
};
bool parseDecimalText(const QString& text, DecimalText* out);

// The digits at `scale` fraction digits ("-12.50"); a zero has no minus.
QString decimalString(const DecimalText& d, int scale);
// Rounds to `scale` fraction digits, half away from zero; true when a nonzero
// digit was dropped.
bool roundDecimal(DecimalText* d, int scale);
DecimalText decimalOf(qlonglong v);
DecimalText decimalOf(qulonglong v);
// Whether the double prints back to the decimal at its own scale.
bool doubleGivesBack(double value, const DecimalText& d);

// Shortcuts for the common values, read straight from the server's bytes.
// Each gives exactly what convertValue gives when the value goes across
// unchanged, and false whenever it might not (then convertValue runs and
// tells the loss).

// A whole number ("-12") within [minValue, maxValue].
bool exactWhole(QByteArrayView raw, qint64 minValue, qint64 maxValue, qint64* out);
// A plain decimal text ("-12.5", "7") at the column's precision and scale
// (currency: 19 and 4) without rounding: the digits as convertValue writes them.
bool exactDecimal(QByteArrayView raw, int precision, int scale, bool currency, std::string* out);

}  // namespace ferrowane
