// An updatable row set over one table, for appending rows: append, set
// fields by name (without regard to case), post.
#pragma once

#include "jet/prepared_row.h"
#include "jet/table_def.h"
#include "jet/value.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace jet {

class Database;
class Table;

class RowSet {
public:
    // `table` null: a row set with no columns (the "select 1" probe).
    RowSet(Database& db, Table* table);

    std::vector<std::string> columnNames() const;
    // The table's definition; null for a row set with no columns.
    const TableDef* definition() const;
    const std::string& tableName() const;
    // Fills rows for post(PreparedRow&), possibly on another thread.
    RowEncoder encoder() const;

    // Starts a new row; every field is unset (null).
    void append();
    // Sets a field of the new row. Throws when the column does not exist or
    // cannot hold the value (the message names the column).
    void setField(const std::string& column, const Value& value);
    void setField(const std::string& column, Value&& value);
    // Stores the new row.
    void post();
    // Stores a row an encoder of this row set filled; the row is used as
    // scratch space. Either the whole row is stored or nothing changes.
    void post(PreparedRow& row);
    // Drops the new row.
    void cancel();
    bool editing() const { return editing_; }

private:
    int columnIndex(const std::string& name);

    Database& db_;
    Table* table_;
    std::vector<Value> row_;
    std::vector<Field> fields_;     // encoded as each field is set
    std::unordered_map<std::string, int> byName_; // exact spelling -> position
    bool editing_ = false;
};

} // namespace jet
