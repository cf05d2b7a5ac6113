// Index keys: the byte strings Access stores in index entries for a row's
// values, in both file formats (Jet 3 sorts text by "General" of Access 97,
// Jet 4 by "General Legacy"). Independent of the row codec: callers pass a
// column's value as it stands in the row (fixed-length bytes, little-endian),
// text as UTF-16 and binary as bytes.
#pragma once

#include "jet/error.h"
#include "jet/format.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace jet {

// Whether Access can index a column of this type (OLE cannot).
bool isIndexableType(ColumnType type);

// Size of the stored value of a fixed-length type in the row, 0 for the
// variable-length ones (Text, Memo, Binary, Ole) and for Boolean, which lives
// only in the null mask.
std::size_t fixedValueSize(ColumnType type);

// One column's value for a key.
struct KeyValue {
    enum class Kind : std::uint8_t { Null, Fixed, Text, Bytes, Boolean };
    Kind kind = Kind::Null;
    std::span<const std::uint8_t> bytes;  // Fixed: row bytes; Bytes: binary value
    std::u16string_view text;              // Text and Memo
    bool flag = false;                     // Boolean

    static KeyValue null() { return {}; }
    static KeyValue fixed(std::span<const std::uint8_t> rowBytes)
    {
        KeyValue v;
        v.kind = Kind::Fixed;
        v.bytes = rowBytes;
        return v;
    }
    static KeyValue ofText(std::u16string_view t)
    {
        KeyValue v;
        v.kind = Kind::Text;
        v.text = t;
        return v;
    }
    static KeyValue ofBytes(std::span<const std::uint8_t> b)
    {
        KeyValue v;
        v.kind = Kind::Bytes;
        v.bytes = b;
        return v;
    }
    static KeyValue boolean(bool b)
    {
        KeyValue v;
        v.kind = Kind::Boolean;
        v.flag = b;
        return v;
    }
    bool isNull() const { return kind == Kind::Null; }
};

// One column of an index as the key encoder needs it.
struct KeyColumn {
    ColumnType type = ColumnType::Long;
    bool ascending = true;
};

// Characters of a text value that take part in its key.
inline constexpr std::size_t kMaxIndexTextChars = 255;

// Appends one column's part of a key: the flag byte (0x7F ascending, 0x80
// descending, 0x00 / 0xFF for null) then the encoded value.
// Throws jet::Error when the value does not fit the type (wrong
// fixed size, OLE column, ...).
void appendKeyColumn(std::vector<std::uint8_t>& out, Version format,
                     const KeyColumn& column, const KeyValue& value);

// The whole key of a row for an index over `columns`; values[i] belongs to
// columns[i].
std::vector<std::uint8_t> encodeKey(Version format,
                                    std::span<const KeyColumn> columns,
                                    std::span<const KeyValue> values);

// The encoded text alone (no flag byte): cut to 255 characters, trailing
// blanks removed, sort codes of the format's text sort order.
std::vector<std::uint8_t> textKey(Version format, std::u16string_view text,
                                  bool ascending = true);


}  // namespace jet
