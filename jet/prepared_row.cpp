// Filling rows field by field away from their table.
#include "jet/prepared_row.h"

#include "jet/field_codec.h"

namespace jet {

RowEncoder::RowEncoder(const Format& format, const TableDef& def) : format_(&format), columns_(def.columns) {}

void RowEncoder::clear(PreparedRow& row) const
{
    const size_t n = columns_.size();
    if (row.values.size() != n) {
        row.values.assign(n, Value::null());
        row.fields.assign(n, Field{});
        return;
    }
    for (Value& v : row.values)
        if (!v.isNull())
            v.setNull();
    for (Field& f : row.fields) {
        f.null = true;
        f.bit = false;
        f.bytes.clear();
    }
}

void RowEncoder::unset(PreparedRow& row, size_t position) const
{
    row.values[position].setNull();
    Field& f = row.fields[position];
    f.null = true;
    f.bit = false;
    f.bytes.clear();
}

void RowEncoder::encode(PreparedRow& row, size_t position) const
{
    const ColumnDef& c = columns_[position];
    Field& f = row.fields[position];
    if (row.values[position].isNull() || c.isLongValue()) {
        f.null = true;
        f.bit = false;
        f.bytes.clear();
        return;
    }
    try {
        encodeFieldInto(*format_, c, row.values[position], f);
    } catch (...) {
        unset(row, position);
        throw;
    }
}

bool RowEncoder::tryEncode(PreparedRow& row, size_t position) const
{
    try {
        encode(row, position);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace jet
