#include "jet/auto_number.h"

#include "jet/database_int.h"
#include "jet/error.h"
#include "jet/text_codec.h"

#include <algorithm>
#include <cstdint>

namespace jet {

void makeAutoNumber(Database& db, const std::string& tableName, const std::string& columnName)
{
    Table& table = db.table(tableName);
    const TableDef& def = table.def();
    const ColumnDef* column = def.findColumn(columnName);
    if (!column)
        throw Error("The table '" + table.name() + "' has no column '" + columnName + "'");
    if (column->type != ColumnType::Long)
        throw Error("The column '" + column->name + "' is not a Long Integer and cannot be an AutoNumber");
    for (const auto& c : def.columns)
        if (c.isAutoNumber() && c.number != column->number)
            throw Error("The table '" + table.name() + "' already has an AutoNumber column ('" + c.name + "')");
    const size_t slot = size_t(column - def.columns.data());

    // The counter keeps the last number drawn.
    uint32_t last = def.nextAutoNumber;
    table.scan([&](const std::vector<Value>& v, uint32_t) {
        const Value& x = v[slot];
        if (x.isNull() || x.asInt() < 1)
            throw Error("The column '" + column->name + "' holds a value an AutoNumber cannot take (" +
                        (x.isNull() ? std::string("null") : std::to_string(x.asInt())) + ")");
        last = std::max(last, uint32_t(x.asInt()));
        return true;
    });

    // Inside a transaction the caller's rollback undoes the pages; the
    // definition changed in memory is read back here.
    const bool outer = db.inTransaction();
    try {
        asOneStatement(db, [&] {
            TableDef& d = table.mutableDef();
            d.columns[slot].flags |= kColAutoNumber;
            d.nextAutoNumber = last;
            internals(db).updateTableDef(table);
        });
    } catch (...) {
        if (outer)
            table.reload();
        throw;
    }
}

}  // namespace jet
