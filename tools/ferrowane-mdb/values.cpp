#include "values.h"

#include <cstdint>

namespace mdbtool {

using jet::ColumnType;
using jet::Value;

Value fieldToValue(const jet::ColumnDef& c, const TsvField& field)
{
    if (!field)
        return Value::null();
    const std::string& t = *field;
    switch (c.type) {
    case ColumnType::Boolean: return Value::boolean(parseBool(t));
    case ColumnType::Byte: return Value::integer(parseInteger(t, 0, 255));
    case ColumnType::Integer: return Value::integer(parseInteger(t, INT16_MIN, INT16_MAX));
    case ColumnType::Long: return Value::integer(parseInteger(t, INT32_MIN, INT32_MAX));
    case ColumnType::Currency: return Value::decimal(decimalWithScale(t, 4));
    case ColumnType::Single: return Value::real(double(parseSingle(t)));
    case ColumnType::Double: return Value::real(parseDouble(t));
    case ColumnType::DateTime: {
        TsvDateTime d = parseDateTime(t);
        jet::DateTime dt;
        dt.year = d.year;
        dt.month = d.month;
        dt.day = d.day;
        dt.hour = d.hour;
        dt.minute = d.minute;
        dt.second = d.second;
        return Value::date(dt);
    }
    case ColumnType::Binary:
    case ColumnType::Ole: return Value::bytes(fromHex(t));
    case ColumnType::Text:
    case ColumnType::Memo: return Value::text(t);
    case ColumnType::Guid: return Value::guid(normalizeGuid(t));
    case ColumnType::Numeric: return Value::decimal(decimalWithScale(t, c.scale));
    }
    throw TsvError("a column of a type this tool does not know (" + std::to_string(int(c.type)) + ")");
}

TsvField valueToField(const jet::ColumnDef& c, const Value& v)
{
    switch (v.kind()) {
    case Value::Kind::Null: return std::nullopt;
    case Value::Kind::Bool: return std::string(v.asBool() ? "1" : "0");
    case Value::Kind::Int: return std::to_string(v.asInt());
    case Value::Kind::Double:
        return c.type == ColumnType::Single ? formatSingle(float(v.asDouble())) : formatDouble(v.asDouble());
    case Value::Kind::Decimal:
        if (c.type == ColumnType::Currency)
            return decimalWithScale(v.str(), 4);
        if (c.type == ColumnType::Numeric)
            return decimalWithScale(v.str(), c.scale);
        return normalizeDecimal(v.str());
    case Value::Kind::Date: {
        const jet::DateTime& d = v.asDate();
        return formatDateTime({d.year, d.month, d.day, d.hour, d.minute, d.second});
    }
    case Value::Kind::Text: return v.str();
    case Value::Kind::Bytes:
        // A memo column's bytes would be text the engine could not decode;
        // show them as hex like any other bytes.
        return toHex(v.str());
    case Value::Kind::Guid: return normalizeGuid(v.str());
    }
    return std::nullopt;
}

}  // namespace mdbtool
