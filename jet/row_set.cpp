#include "jet/row_set.h"

#include "jet/database.h"
#include "jet/error.h"
#include "jet/field_codec.h"
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

bool RowSet::hasColumn(const std::string& name) const
{
    return table_ && table_->def().findColumn(name);
}

void RowSet::append()
{
    if (!table_)
        throw Error("This row set cannot be updated");
    row_.assign(table_->def().columns.size(), Value::null());
    editing_ = true;
}

void RowSet::setField(const std::string& column, const Value& value)
{
    if (!editing_)
        throw Error("No new row: call append first");
    const ColumnDef* c = table_->def().findColumn(column);
    if (!c)
        throw Error("The table '" + table_->name() + "' has no column '" + column + "'");
    // Check the value now, as the field is assigned.
    if (c->isLongValue())
        (void)encodeLongValuePayload(db_.format(), *c, value.isNull() ? Value::text("") : value);
    else
        (void)encodeField(db_.format(), *c, value);
    row_[size_t(c - table_->def().columns.data())] = value;
}

void RowSet::post()
{
    if (!editing_)
        throw Error("No new row to post");
    editing_ = false;
    table_->append(row_);
    db_.statementDone();
}

void RowSet::cancel()
{
    editing_ = false;
}

} // namespace jet
