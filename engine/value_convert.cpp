// Converting one MySQL value into the value of its Access column, and telling
// what it lost on the way.
#include "engine/value_convert.h"

#include "engine/blob_text.h"

#include "jet/code_page.h"
#include "jet/value.h"

#include <QLocale>
#include <QStringList>

#include <cmath>
#include <limits>

namespace ferrowane {

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

// Characters, not UTF-16 units: a character beyond U+FFFF counts once.
qsizetype characterCount(const QString& text)
{
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (!(text.at(i).isLowSurrogate() && i > 0 && text.at(i - 1).isHighSurrogate()))
            ++n;
    return n;
}

// "a text of N characters was cut to M", with the UTF-16 units that the
// size counts when they differ from the characters.
QString cutText(const QString& before, const QString& after)
{
    const qsizetype was = characterCount(before);
    const qsizetype kept = characterCount(after);
    if (was == before.size() && kept == after.size())
        return QStringLiteral("a text of %1 characters was cut to %2").arg(was).arg(kept);
    return QStringLiteral("a text of %1 characters (%2 UTF-16 units) was cut to %3 characters (%4 units)")
        .arg(was).arg(before.size()).arg(kept).arg(after.size());
}

Converted toText(SourceKind source, const QVariant& v, const TargetColumn& t, int bits)
{
    QString text;
    QStringList loss;
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
    // Jet 3 texts are measured after the characters that cannot be stored
    // became "?", so that a text is cut only when what is stored is too long.
    if (t.codePage1252 && replaceForCodePage1252(text))
        loss.append(QStringLiteral("characters that code page 1252 lacks became \"?\""));
    if (t.kind == TargetKind::Text && t.size > 0 && text.size() > t.size) {
        const QString before = text;
        qsizetype keep = t.size;
        // Never half a character: a surrogate pair stays whole or goes.
        if (text.at(keep - 1).isHighSurrogate())
            --keep;
        text.truncate(keep);
        loss.append(cutText(before, text));
    }
    return {QVariant(text), loss.join(QStringLiteral("; "))};
}

// Server TIME texts (-838:59:59 to 838:59:59) into Date: a time of day as
// it is; a longer one as the days after 1899-12-30 that Access counts it as;
// a negative one cannot be a Date and is stored as NULL.
Converted timeToDate(const QVariant& v, const QString& text)
{
    const TimeParse tp = parseServerTime(text);
    if (!tp.ok)
        return lost(v, QStringLiteral("is not a valid time"));
    if (tp.negative && tp.days != 0)
        return lost(v, QStringLiteral("is a negative time: stored as NULL"));
    if (tp.days >= 1) {
        const jet::DateTime dt = jet::fromJetDate(tp.days);
        const QString shown = QString::fromStdString(jet::formatDateTime(dt))
                              + (dt.microsecond ? QStringLiteral(".%1").arg(dt.microsecond / 1000, 3, 10, QLatin1Char('0'))
                                                : QString());
        return {QVariant(tp.days), describe(v) + QStringLiteral(" is 24 hours or more: stored as ") + shown};
    }
    return {QVariant(tp.days), {}};
}

Converted toDate(SourceKind source, const QVariant& v)
{
    if (v.typeId() != QMetaType::QString)
        return lost(v, QStringLiteral("is not a date"));
    const QString text = v.toString();
    if (source == SourceKind::Time)
        return timeToDate(v, text);
    const DateParse d = parseServerDate(text);
    if (d.ok) {
        if (d.isZero)
            return lost(v, QStringLiteral("is a zero date: stored as NULL"));
        if (d.year < 100)
            return lost(v, QStringLiteral("is before the year 100"));
        return {QVariant(d.days), {}};
    }
    // Texts of other sources may be a time.
    if (source == SourceKind::Date || !parseServerTime(text).ok)
        return lost(v, QStringLiteral("is not a valid date"));
    return timeToDate(v, text);
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

bool replaceForCodePage1252(QString& text)
{
    bool any = false;
    for (QChar ch : std::as_const(text))
        any = any || !jet::cp1252::canStore(ch.unicode());
    if (!any)
        return false;
    QString fixed;
    fixed.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            fixed += QLatin1Char('?');
            ++i;
        } else {
            fixed += jet::cp1252::canStore(text.at(i).unicode()) ? text.at(i) : QLatin1Char('?');
        }
    }
    text = fixed;
    return true;
}


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

}  // namespace ferrowane
