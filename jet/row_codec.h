// The layout of one row: column count, fixed area, variable data, offset
// table (with Jet 3's jump table) and null mask.
#pragma once

#include "jet/field_codec.h"
#include "jet/format.h"
#include "jet/table_def.h"

#include <cstdint>
#include <vector>

namespace jet {

// A field as found in a stored row.
struct RawField {
    bool null = true;
    bool bit = false;            // yes/no columns
    const uint8_t* data = nullptr;
    uint32_t size = 0;
};

// Builds a row from fields given in the order of def.columns.
std::vector<uint8_t> encodeRow(const Format& f, const TableDef& def, const std::vector<Field>& fields);
// The same into `row`, reusing its buffer.
void encodeRowInto(const Format& f, const TableDef& def, const std::vector<Field>& fields, std::vector<uint8_t>& row);

// Splits a row into fields, in the order of def.columns. Columns the row
// predates read as null.
std::vector<RawField> decodeRow(const Format& f, const TableDef& def, const uint8_t* row, uint32_t size);

// Largest row the engine writes.
uint32_t maxRowSize(const Format& f);

} // namespace jet
