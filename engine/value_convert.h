// Turning one MySQL value into the value of its Access column, and saying when
// that cannot be done without a change (the run counts and logs such values).
#pragma once

#include "engine/column_plan.h"
#include "engine/decimal_text.h"
#include "engine/geometry_text.h"
#include "engine/server_dates.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace ferrowane {

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

// Shortcut for texts, read straight from the server's bytes (see
// decimal_text.h for numbers).
// The number of UTF-16 units of a text that decodes from UTF-8 unchanged
// (valid, no byte-order mark, no NUL); -1 otherwise. asciiOnly: any byte
// from 0x80 up gives -1.
qsizetype plainTextLength(QByteArrayView raw, bool asciiOnly);

// Replaces the characters code page 1252 lacks with "?", a surrogate pair
// with one; true when any was replaced.
bool replaceForCodePage1252(QString& text);

}  // namespace ferrowane
