// Conversion between Values and the bytes of one field of a row. Internal to
// the engine: callers fill rows through prepared_row.h or row_set.h.
#pragma once

#include "jet/format.h"
#include "jet/prepared_row.h"
#include "jet/table_def.h"
#include "jet/value.h"

#include <cstdint>
#include <string>
#include <vector>

namespace jet {

// Encodes a value for a column that is not Memo/OLE. Throws jet::Error naming
// the column when the value does not fit.
Field encodeField(const Format& f, const ColumnDef& c, const Value& v);
// The same into an existing field, reusing its buffer.
Field& encodeFieldInto(const Format& f, const ColumnDef& c, const Value& v, Field& out);

// Memo/OLE payload: text as stored (UTF-16/compressed or cp1252) or the bytes.
std::vector<uint8_t> encodeLongValuePayload(const Format& f, const ColumnDef& c, const Value& v);
Value decodeLongValuePayload(const Format& f, const ColumnDef& c, const uint8_t* p, size_t n);

// Decodes a non-long field; `p`/`n` are the stored bytes.
Value decodeField(const Format& f, const ColumnDef& c, const uint8_t* p, size_t n);

// Text conversion of a number-like value, as used for decimal/currency text.
__extension__ typedef unsigned __int128 uint128;
std::string formatScaled(bool negative, uint128 magnitude, int scale);

} // namespace jet
