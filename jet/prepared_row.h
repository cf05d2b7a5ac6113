// A row made ready away from its table, field by field, and the encoder that
// fills it: the way a caller appends many rows fast (the row set's append,
// setField and post are the simple way). The encoder works on a copy of the
// table's column definitions, so it may run on another thread while the
// table takes the rows before.
#pragma once

#include "jet/format.h"
#include "jet/table_def.h"
#include "jet/value.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace jet {

// A field ready for a row: null, a yes/no bit, or bytes (fixed fields
// exactly the column's length).
struct Field {
    bool null = true;
    bool bit = false;
    std::vector<uint8_t> bytes;
};

// Values by column position (the order of TableDef::columns), null for
// unset, with their encoded fields. Long values (Memo, OLE) are encoded when
// the row is appended.
struct PreparedRow {
    std::vector<Value> values;
    std::vector<Field> fields;
};

class RowEncoder {
public:
    RowEncoder() = default;
    RowEncoder(const Format& format, const TableDef& def);

    size_t columnCount() const { return columns_.size(); }
    const ColumnDef& column(size_t position) const { return columns_[position]; }

    // Sizes the row for the table, every field unset.
    void clear(PreparedRow& row) const;
    void unset(PreparedRow& row, size_t position) const;
    // Encodes row.values[position] into its field. Throws jet::Error naming
    // the column when the value does not fit (the field is then unset).
    void encode(PreparedRow& row, size_t position) const;
    // The same without throwing: false when the value does not fit.
    bool tryEncode(PreparedRow& row, size_t position) const;

private:
    const Format* format_ = nullptr;
    std::vector<ColumnDef> columns_;
};

} // namespace jet
