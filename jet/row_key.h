// The key a row gives an index, as the writer makes it: one column's value
// (a Value, or the field as the row stores it) turned into its part of the
// key. Table inserts and removals and index creation all go through here.
// The checker keeps its own encoding (check_keys.h) so that it can catch
// faults of this one.
#pragma once

#include "jet/field_codec.h"
#include "jet/format.h"
#include "jet/index_key.h"
#include "jet/table_def.h"
#include "jet/value.h"

#include <cstdint>
#include <string>
#include <vector>

namespace jet {

struct RawField;

class RowKeyEncoder {
public:
    // tableName is for the message about a damaged stored value.
    RowKeyEncoder(const Format& f, std::string tableName);

    // Appends column c's part of a key. The value comes from `value` when
    // given, else from the stored field `raw`; fixed-size columns prefer
    // `raw` when both are given, so that the key matches the row exactly (a
    // date read back as a Value need not give the stored double to the last
    // bit). Null when the source is null.
    void appendColumn(std::vector<std::uint8_t>& key, const ColumnDef& c, bool ascending, const Value* value,
                      const RawField* raw);

private:
    void appendText(std::vector<std::uint8_t>& key, const KeyColumn& col, const Value* value, const RawField* raw);

    const Format& format_;
    std::string tableName_;
    std::u16string text_;
    Field fixed_;
};

// The key of a row (values in the order of def.columns) for one physical
// index.
std::vector<std::uint8_t> rowIndexKey(const Format& f, const TableDef& def, const PhysicalIndexDef& index,
                                      const std::vector<Value>& values);
// The same with the row's stored fields (decodeRow), whose bytes are used
// for fixed-size columns so that the key matches the row exactly.
std::vector<std::uint8_t> rowIndexKey(const Format& f, const TableDef& def, const PhysicalIndexDef& index,
                                      const std::vector<Value>& values, const std::vector<RawField>* raw);

}  // namespace jet
