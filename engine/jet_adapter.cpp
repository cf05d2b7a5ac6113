#include "engine/jet_adapter.h"

#include "engine/value_convert.h"

#include "jet/value.h"

#include <cmath>
#include <utility>

namespace ferrowane {

TargetColumn targetColumnOf(const jet::ColumnDef& c, bool jet4)
{
    TargetColumn t;
    switch (c.type) {
    case jet::ColumnType::Boolean:
        t.kind = TargetKind::Long;
        t.minValue = -1;
        t.maxValue = 1;
        break;
    case jet::ColumnType::Byte:
        t.kind = TargetKind::Long;
        t.minValue = 0;
        t.maxValue = 255;
        break;
    case jet::ColumnType::Integer:
        t.kind = TargetKind::Long;
        t.minValue = -32768;
        t.maxValue = 32767;
        break;
    case jet::ColumnType::Long:
        t.kind = TargetKind::Long;
        break;
    case jet::ColumnType::Currency:
        t.kind = TargetKind::Currency;
        t.precision = 19;
        t.scale = 4;
        break;
    case jet::ColumnType::Single:
        t.kind = TargetKind::Single;
        break;
    case jet::ColumnType::Double:
        t.kind = TargetKind::Double;
        break;
    case jet::ColumnType::DateTime:
        t.kind = TargetKind::Date;
        break;
    case jet::ColumnType::Binary:
        t.kind = TargetKind::Binary;
        t.size = c.length;
        break;
    case jet::ColumnType::Text:
        t.kind = TargetKind::Text;
        t.size = jet4 ? c.length / 2 : c.length;
        t.codePage1252 = !jet4;
        break;
    case jet::ColumnType::Ole:
        t.kind = TargetKind::OleObject;
        break;
    case jet::ColumnType::Memo:
        t.kind = TargetKind::Memo;
        t.codePage1252 = !jet4;
        break;
    case jet::ColumnType::Guid:
        t.kind = TargetKind::Text;
        t.size = 38;
        break;
    case jet::ColumnType::Numeric:
        t.kind = TargetKind::Decimal;
        t.precision = c.precision;
        t.scale = c.scale;
        break;
    }
    return t;
}


// The engine's value for a field, from a value as convertValue gives it.
// Throws AccessError; changed tells what was altered to store it.
jet::Value accessValue(const jet::ColumnDef& c, const QString& fieldName, bool jet4, const QVariant& value,
                       QString* changed)
{
    if (value.isNull())
        return jet::Value::null();
    switch (c.type) {
    case jet::ColumnType::Boolean:
        return jet::Value::boolean(value.toLongLong() != 0);
    case jet::ColumnType::Byte:
    case jet::ColumnType::Integer:
    case jet::ColumnType::Long:
        return jet::Value::integer(value.toLongLong());
    case jet::ColumnType::Single:
    case jet::ColumnType::Double:
        return jet::Value::real(value.toDouble());
    case jet::ColumnType::Currency:
    case jet::ColumnType::Numeric:
        return jet::Value::decimal(value.toString().toStdString());
    case jet::ColumnType::DateTime: {
        const double d = value.toDouble();
        if (!std::isfinite(d))
            throw AccessError(QStringLiteral("The value for column '%1' is not a date").arg(fieldName));
        return jet::Value::date(jet::fromJetDate(d));
    }
    case jet::ColumnType::Text:
    case jet::ColumnType::Memo: {
        QString text = value.toString();
        if (!jet4) {
            // A Jet 3 file holds its text in code page 1252 (convertValue has
            // replaced what it lacks already; this is for other callers).
            if (replaceForCodePage1252(text)) {
                *changed = QStringLiteral("characters that code page 1252 lacks became \"?\"");
            }
        }
        return jet::Value::text(text.toStdString());
    }
    case jet::ColumnType::Binary:
    case jet::ColumnType::Ole: {
        const QByteArray b = value.toByteArray();
        return jet::Value::bytes(std::string(b.constData(), size_t(b.size())));
    }
    case jet::ColumnType::Guid:
        return jet::Value::guid(value.toString().toStdString());
    }
    return jet::Value::null();
}

}  // namespace ferrowane
