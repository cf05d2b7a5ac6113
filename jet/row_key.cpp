// The writer's row-to-key step (see row_key.h).
#include "jet/row_key.h"

#include "jet/error.h"
#include "jet/row_codec.h"
#include "jet/text_codec.h"

namespace jet {

RowKeyEncoder::RowKeyEncoder(const Format& f, std::string tableName)
    : format_(f), tableName_(std::move(tableName))
{
}

void RowKeyEncoder::appendColumn(std::vector<std::uint8_t>& key, const ColumnDef& c, bool ascending,
                                 const Value* value, const RawField* raw)
{
    const KeyColumn col{c.type, ascending};
    const std::size_t fixedSize = fixedValueSize(col.type);
    if (value && raw && fixedSize && !raw->null && raw->size == fixedSize) {
        appendKeyColumn(key, format_.version, col, KeyValue::fixed({raw->data, fixedSize}));
        return;
    }
    if (value ? value->isNull() : raw->null) {
        appendKeyColumn(key, format_.version, col, KeyValue::null());
    } else if (c.type == ColumnType::Boolean) {
        appendKeyColumn(key, format_.version, col, KeyValue::boolean(value ? value->asBool() : raw->bit));
    } else if (c.isText()) {
        appendText(key, col, value, raw);
    } else if (c.type == ColumnType::Binary || c.type == ColumnType::Ole) {
        std::span<const std::uint8_t> bytes =
            value ? std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(value->str().data()),
                                                  value->str().size())
                  : std::span<const std::uint8_t>(raw->data, raw->size);
        appendKeyColumn(key, format_.version, col, KeyValue::ofBytes(bytes));
    } else if (value) {
        encodeFieldInto(format_, c, *value, fixed_);
        appendKeyColumn(key, format_.version, col, KeyValue::fixed(fixed_.bytes));
    } else {
        if (raw->size != fixedSize)
            throw Error("A row of the table '" + tableName_ + "' holds a damaged value in column '" + c.name + "'");
        appendKeyColumn(key, format_.version, col, KeyValue::fixed({raw->data, raw->size}));
    }
}

void RowKeyEncoder::appendText(std::vector<std::uint8_t>& key, const KeyColumn& col, const Value* value,
                               const RawField* raw)
{
    if (!value) {
        if (format_.jet4())
            text_ = decodeJet4Text(raw->data, raw->size);
        else
            text_ = utf8ToUtf16(cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(raw->data), raw->size)));
    } else {
        // Plain ASCII widens in place; anything else goes through the
        // checking decoder.
        const std::string& u8 = value->str();
        text_.resize(u8.size());
        bool ascii = true;
        for (std::size_t k = 0; k < u8.size() && ascii; ++k) {
            ascii = static_cast<unsigned char>(u8[k]) < 0x80;
            text_[k] = char16_t(static_cast<unsigned char>(u8[k]));
        }
        if (!ascii)
            text_ = utf8ToUtf16(u8);
    }
    appendKeyColumn(key, format_.version, col, KeyValue::ofText(text_));
}

std::vector<std::uint8_t> rowIndexKey(const Format& f, const TableDef& def, const PhysicalIndexDef& index,
                                      const std::vector<Value>& values)
{
    return rowIndexKey(f, def, index, values, nullptr);
}

std::vector<std::uint8_t> rowIndexKey(const Format& f, const TableDef& def, const PhysicalIndexDef& index,
                                      const std::vector<Value>& values, const std::vector<RawField>* raw)
{
    RowKeyEncoder encoder(f, {});
    std::vector<std::uint8_t> key;
    for (const auto& ic : index.columns) {
        const ColumnDef* c = def.columnByNumber(ic.columnNumber);
        if (!c)
            throw Error("An index names a column the table does not have");
        std::size_t ci = std::size_t(c - def.columns.data());
        if (ci >= values.size())
            throw Error("A row has fewer values than the table has columns");
        encoder.appendColumn(key, *c, ic.ascending, &values[ci], raw && ci < raw->size() ? &(*raw)[ci] : nullptr);
    }
    return key;
}

}  // namespace jet
