// Appending rows to one table through the row set of a query.
#include "jet/row_set.h"

#include "jet/database_int.h"
#include "jet/error.h"
#include "jet/field_codec.h"
#include "jet/pager.h"
#include "jet/text_codec.h"

namespace jet {

RowSet::RowSet(Database& db, Table* table) : db_(db), table_(table) {}

std::vector<std::string> RowSet::columnNames() const
{
    std::vector<std::string> out;
    if (table_)
        for (const auto* c : table_->def().columnsInOrder())
            out.push_back(c->name);
    return out;
}

void RowSet::append()
{
    if (!table_)
        throw Error("This row set cannot be updated");
    size_t n = table_->def().columns.size();
    if (row_.size() != n) {
        row_.assign(n, Value::null());
        fields_.assign(n, Field{});
    } else {
        for (auto& v : row_)
            if (!v.isNull())
                v = Value::null();
        for (auto& f : fields_) {
            f.null = true;
            f.bit = false;
            f.bytes.clear();
        }
    }
    editing_ = true;
}

void RowSet::setField(const std::string& column, const Value& value)
{
    setField(column, Value(value));
}

void RowSet::setField(const std::string& column, Value&& value)
{
    if (!editing_)
        throw Error("No new row: call append first");
    int pos = columnIndex(column);
    if (pos < 0)
        throw Error("The table '" + table_->name() + "' has no column '" + column + "'");
    const ColumnDef& c = table_->def().columns[size_t(pos)];
    // Check the value now, as the field is assigned.
    if (c.isLongValue()) {
        if (!value.isNull())
            (void)encodeLongValuePayload(db_.format(), c, value);
        fields_[size_t(pos)].null = true;
        fields_[size_t(pos)].bytes.clear();
    } else {
        encodeFieldInto(db_.format(), c, value, fields_[size_t(pos)]);
    }
    row_[size_t(pos)] = std::move(value);
}

int RowSet::columnIndex(const std::string& name)
{
    auto it = byName_.find(name);
    if (it != byName_.end())
        return it->second;
    const ColumnDef* c = table_->def().findColumn(name);
    int pos = c ? int(c - table_->def().columns.data()) : -1;
    if (byName_.size() < 4096)
        byName_.emplace(name, pos);
    return pos;
}

void RowSet::post()
{
    if (!editing_)
        throw Error("No new row to post");
    editing_ = false;
    try {
        table_->append(row_, &fields_);
    } catch (...) {
        // Outside a transaction a refused row must not leave its first
        // pages for the next commit.
        if (!db_.inTransaction() && internals(db_).pager().dirty()) {
            try {
                db_.rollback();
            } catch (...) {
            }
        }
        throw;
    }
    db_.statementDone();
}

void RowSet::post(PreparedRow& row)
{
    if (!table_)
        throw Error("This row set cannot be updated");
    table_->append(row.values, &row.fields);
    db_.statementDone();
}

const TableDef* RowSet::definition() const
{
    return table_ ? &table_->def() : nullptr;
}

const std::string& RowSet::tableName() const
{
    static const std::string none;
    return table_ ? table_->name() : none;
}

RowEncoder RowSet::encoder() const
{
    if (!table_)
        return RowEncoder();
    return RowEncoder(db_.format(), table_->def());
}

void RowSet::cancel()
{
    editing_ = false;
}

} // namespace jet
