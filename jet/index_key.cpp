#include "jet/index_key.h"

#include "jet/sort_codes.h"

#include <stdexcept>
#include <string>

namespace jet {
namespace {

constexpr std::uint8_t kAscStart = 0x7F;
constexpr std::uint8_t kDescStart = 0x80;
constexpr std::uint8_t kAscNull = 0x00;
constexpr std::uint8_t kDescNull = 0xFF;

void invertFrom(std::vector<std::uint8_t>& out, std::size_t from)
{
    for (std::size_t i = from; i < out.size(); ++i)
        out[i] = static_cast<std::uint8_t>(~out[i]);
}

// Row values are little-endian; keys compare as big-endian bytes.
void appendReversed(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> le)
{
    for (std::size_t i = le.size(); i-- > 0;)
        out.push_back(le[i]);
}

// Binary and GUID keys: 8-byte segments, each followed by 9 when more data
// follows, the last one zero-padded and followed by its length. Descending
// inverts everything except the 9s between segments.
void appendSegmented(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> data, bool asc)
{
    std::size_t pos = 0;
    std::size_t left = data.size();
    while (left > 8) {
        for (std::size_t i = 0; i < 8; ++i)
            out.push_back(asc ? data[pos + i] : static_cast<std::uint8_t>(~data[pos + i]));
        out.push_back(9);
        pos += 8;
        left -= 8;
    }
    if (left > 0) {
        std::size_t from = out.size();
        out.insert(out.end(), data.begin() + pos, data.end());
        out.insert(out.end(), 8 - left, 0);
        out.push_back(static_cast<std::uint8_t>(left));
        if (!asc)
            invertFrom(out, from);
    }
}

void requireSize(const KeyValue& v, std::size_t n, const char* type)
{
    if (v.kind != KeyValue::Kind::Fixed || v.bytes.size() != n)
        throw Error(std::string("index key: a ") + type + " value takes " +
                                    std::to_string(n) + " bytes");
}

std::u16string_view trimForKey(std::u16string_view t)
{
    if (t.size() > kMaxIndexTextChars)
        t = t.substr(0, kMaxIndexTextChars);
    while (!t.empty() && t.back() == u' ')
        t.remove_suffix(1);
    return t;
}

void appendTextKey(std::vector<std::uint8_t>& out, Version format, std::u16string_view text,
                   bool ascending)
{
    text = trimForKey(text);
    if (format == Version::Jet3)
        sortcodes::appendGeneral97(out, text, ascending);
    else
        sortcodes::appendGeneralLegacy(out, text, ascending);
}

}  // namespace

bool isIndexableType(ColumnType type)
{
    switch (type) {
    case ColumnType::Boolean:
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Currency:
    case ColumnType::Single:
    case ColumnType::Double:
    case ColumnType::DateTime:
    case ColumnType::Binary:
    case ColumnType::Text:
    case ColumnType::Memo:
    case ColumnType::Guid:
    case ColumnType::Numeric:
        return true;
    case ColumnType::Ole:
        return false;
    }
    return false;
}

std::size_t fixedValueSize(ColumnType type)
{
    switch (type) {
    case ColumnType::Byte: return 1;
    case ColumnType::Integer: return 2;
    case ColumnType::Long: return 4;
    case ColumnType::Currency: return 8;
    case ColumnType::Single: return 4;
    case ColumnType::Double: return 8;
    case ColumnType::DateTime: return 8;
    case ColumnType::Guid: return 16;
    case ColumnType::Numeric: return 17;
    default: return 0;
    }
}

std::vector<std::uint8_t> textKey(Version format, std::u16string_view text, bool ascending)
{
    std::vector<std::uint8_t> out;
    appendTextKey(out, format, text, ascending);
    return out;
}

void appendKeyColumn(std::vector<std::uint8_t>& out, Version format, const KeyColumn& column,
                     const KeyValue& value)
{
    const bool asc = column.ascending;
    if (!isIndexableType(column.type))
        throw Error("index key: OLE columns cannot be indexed");

    // Yes/No has no null: a missing value sorts as No.
    if (column.type == ColumnType::Boolean) {
        bool b = value.kind == KeyValue::Kind::Boolean ? value.flag
                 : value.kind == KeyValue::Kind::Fixed && !value.bytes.empty() ? value.bytes[0] != 0
                                                                                : false;
        out.push_back(asc ? kAscStart : kDescStart);
        out.push_back(b == asc ? 0x00 : 0xFF);
        return;
    }
    if (value.isNull()) {
        out.push_back(asc ? kAscNull : kDescNull);
        return;
    }
    out.push_back(asc ? kAscStart : kDescStart);
    const std::size_t from = out.size();

    switch (column.type) {
    case ColumnType::Byte:
        requireSize(value, 1, "Byte");
        out.push_back(value.bytes[0]);
        if (!asc)
            invertFrom(out, from);
        return;
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Currency:
        requireSize(value, fixedValueSize(column.type), "integer");
        appendReversed(out, value.bytes);
        out[from] ^= 0x80;
        if (!asc)
            invertFrom(out, from);
        return;
    case ColumnType::Single:
    case ColumnType::Double:
    case ColumnType::DateTime: {
        requireSize(value, fixedValueSize(column.type), "floating-point");
        appendReversed(out, value.bytes);
        const bool negative = (out[from] & 0x80) != 0;
        if (!negative)
            out[from] ^= 0x80;
        if (negative == asc)
            invertFrom(out, from);
        return;
    }
    case ColumnType::Numeric: {
        if (format == Version::Jet3)
            throw Error("index key: Decimal columns need the Jet 4 format");
        requireSize(value, 17, "Decimal");
        // Row: sign byte, then four little-endian 32-bit words, most
        // significant first; the key wants the magnitude big-endian.
        const bool negative = value.bytes[0] != 0;
        out.push_back(value.bytes[0]);
        for (std::size_t w = 0; w < 4; ++w)
            for (std::size_t i = 4; i-- > 0;)
                out.push_back(value.bytes[1 + w * 4 + i]);
        if (negative == asc)
            invertFrom(out, from);
        out[from] = negative ? 0x00 : 0xFF;
        return;
    }
    case ColumnType::Guid: {
        requireSize(value, 16, "GUID");
        // The row stores the first three groups little-endian.
        std::uint8_t g[16];
        const auto& b = value.bytes;
        g[0] = b[3]; g[1] = b[2]; g[2] = b[1]; g[3] = b[0];
        g[4] = b[5]; g[5] = b[4];
        g[6] = b[7]; g[7] = b[6];
        for (int i = 8; i < 16; ++i)
            g[i] = b[i];
        appendSegmented(out, g, asc);
        return;
    }
    case ColumnType::Binary:
        if (value.kind != KeyValue::Kind::Bytes && value.kind != KeyValue::Kind::Fixed)
            throw Error("index key: a Binary value takes bytes");
        appendSegmented(out, value.bytes, asc);
        return;
    case ColumnType::Text:
    case ColumnType::Memo:
        if (value.kind != KeyValue::Kind::Text)
            throw Error("index key: a Text value takes text");
        appendTextKey(out, format, value.text, asc);
        return;
    default:
        throw Error("index key: unsupported column type");
    }
}

std::vector<std::uint8_t> encodeKey(Version format, std::span<const KeyColumn> columns,
                                    std::span<const KeyValue> values)
{
    if (columns.size() != values.size())
        throw Error("index key: one value per column is needed");
    std::vector<std::uint8_t> out;
    out.reserve(16 * columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i)
        appendKeyColumn(out, format, columns[i], values[i]);
    return out;
}

}  // namespace jet
