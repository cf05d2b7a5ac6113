// Turning one MySQL value into the value of its Access column, and saying when
// that cannot be done without a change (the run counts and logs such values).
#pragma once

#include "engine/type_map.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <string>

namespace ferrowane {

struct SourceColumn;

// The Access column a value goes into, as the target table has it.
struct TargetColumn {
    TargetKind kind = TargetKind::Memo;
    int size = 0;             // text characters, binary bytes; 0 = no limit
    int precision = 0;        // decimal
    int scale = 0;
    qint64 minValue = -2147483648LL;  // whole-number columns (Long, Integer, Byte)
    qint64 maxValue = 2147483647LL;
};

// How the transfer reads a source column of a "select *" result.
SourceKind sourceKindOf(const SourceColumn& column);

// The result of one conversion. value is what the Access column gets, by kind:
// Long qint32; Double double; Single float; Decimal and Currency the exact
// decimal digits as text ("-12.50"); Text and Memo QString; Date the Access
// day number (days since 1899-12-30, time as the fraction) as double; Binary
// and OleObject QByteArray; a null QVariant for NULL. loss is empty when the
// value went across unchanged, else the first reason it did not.
struct Converted {
    QVariant value;
    QString loss;
};

// bits: for Bits sources, the declared number of bits (digits written).
// Bytes into a text column are decoded as blobToText does.
Converted convertValue(SourceKind source, const QVariant& value, const TargetColumn& target, int bits = 0);

// The well-known text of a MySQL geometry value (4-byte SRID + WKB), written
// as the server's ST_AsText writes it. Empty text with ok false when the
// bytes are not a geometry.
QString geometryToText(const QByteArray& value, bool* ok);

// A number as the server's spatial functions print it: shortest digits that
// give the double back, exponent form from 1e15 up and below 1e-15.
QString spatialNumber(double value);

// Days since 1899-12-30 as Access stores dates (before that day the time is
// subtracted from the negative day number). ok false when the text is not a
// date, time or date-time the server writes, or the date is not a real day.
// A zero date ("0000-00-00", with or without a time) gives ok true, isZero true.
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

// The exact decimal text of a number text: optional minus, digits, optional
// point and digits. false when the text is not such a number.
struct DecimalText {
    bool negative = false;
    QString integerDigits;   // no leading zeros; empty for 0
    QString fractionDigits;  // as written, trailing zeros kept
};
bool parseDecimalText(const QString& text, DecimalText* out);

// Shortcuts for the common values, read straight from the server's bytes.
// Each gives exactly what convertValue gives when the value goes across
// unchanged, and false whenever it might not (then convertValue runs and
// tells the loss).

// A whole number ("-12") within [minValue, maxValue].
bool exactWhole(QByteArrayView raw, qint64 minValue, qint64 maxValue, qint64* out);
// A plain decimal text ("-12.5", "7") at the column's precision and scale
// (currency: 19 and 4) without rounding: the digits as convertValue writes them.
bool exactDecimal(QByteArrayView raw, int precision, int scale, bool currency, std::string* out);
// The number of UTF-16 units of a text that decodes from UTF-8 unchanged
// (valid, no byte-order mark, no NUL); -1 otherwise. asciiOnly: any byte
// from 0x80 up gives -1.
qsizetype plainTextLength(QByteArrayView raw, bool asciiOnly);

}  // namespace ferrowane
