// Index keys: the byte strings Access stores in index entries for a row's
// values, in both file formats. Independent of the row codec: callers pass a
// column's value as it stands in the row (fixed-length bytes, little-endian),
// text as UTF-16 and binary as bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace jet {

// Jet 3 (Access 97, 2048-byte pages, text sort "General" of Access 97) or
// Jet 4 (Access 2000, 4096-byte pages, text sort "General Legacy").
enum class IndexFormat : std::uint8_t { Jet3, Jet4 };

// Column type codes as the table definition stores them.
enum class KeyType : std::uint8_t {
    Boolean = 0x01,
    Byte = 0x02,
    Integer = 0x03,
    Long = 0x04,
    Currency = 0x05,
    Single = 0x06,
    Double = 0x07,
    Date = 0x08,
    Binary = 0x09,
    Text = 0x0A,
    Ole = 0x0B,
    Memo = 0x0C,
    Guid = 0x0F,
    Decimal = 0x10,
};

// Whether Access can index a column of this type (OLE cannot).
bool isIndexableType(KeyType type);

// Size of the stored value of a fixed-length type in the row, 0 for the
// variable-length ones (Text, Memo, Binary, Ole) and for Boolean, which lives
// only in the null mask.
std::size_t fixedValueSize(KeyType type);

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
    KeyType type = KeyType::Long;
    bool ascending = true;
};

// Characters of a text value that take part in its key.
inline constexpr std::size_t kMaxIndexTextChars = 255;

// Appends one column's part of a key: the flag byte (0x7F ascending, 0x80
// descending, 0x00 / 0xFF for null) then the encoded value.
// Throws std::invalid_argument when the value does not fit the type (wrong
// fixed size, OLE column, ...).
void appendKeyColumn(std::vector<std::uint8_t>& out, IndexFormat format,
                     const KeyColumn& column, const KeyValue& value);

// The whole key of a row for an index over `columns`; values[i] belongs to
// columns[i].
std::vector<std::uint8_t> encodeKey(IndexFormat format,
                                    std::span<const KeyColumn> columns,
                                    std::span<const KeyValue> values);

// The encoded text alone (no flag byte): cut to 255 characters, trailing
// blanks removed, sort codes of the format's text sort order.
void appendTextKey(std::vector<std::uint8_t>& out, IndexFormat format,
                   std::u16string_view text, bool ascending);
std::vector<std::uint8_t> textKey(IndexFormat format, std::u16string_view text,
                                  bool ascending = true);

// Convenience for the catalog: a Long column's key part from its value.
void appendLongKey(std::vector<std::uint8_t>& out, std::int32_t value,
                   bool ascending = true);

// Whether all columns of a key are null (nulls do not break uniqueness).
bool allNull(std::span<const KeyValue> values);

}  // namespace jet
