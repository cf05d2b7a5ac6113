// One table of an open database: its definition, reading its rows and
// appending rows.
#pragma once

#include "jet/table_def.h"
#include "jet/value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace jet {

class Database;
class UsageMap;
class IndexStore;
class IndexTree;
class RowKeyEncoder;
struct Field;
struct RawField;

class Table {
public:
    Table(Database& db, std::string name, TableDef def);
    ~Table();

    const std::string& name() const { return name_; }
    const TableDef& def() const { return def_; }
    // For changes to the definition; Database::updateTableDef stores them.
    TableDef& mutableDef() { return def_; }
    uint32_t rowCount() const { return def_.rowCount; }

    // Calls `fn` with each live row's values in the order of def().columns;
    // stop by returning false.
    void scan(const std::function<bool(const std::vector<Value>&, uint32_t rowPointer)>& fn);
    // The same with each row's stored fields (decodeRow), nothing decoded:
    // long values are references.
    void scanFields(const std::function<bool(const std::vector<RawField>&, uint32_t rowPointer)>& fn);
    // Rows with values in column-number order (the order of "select *").
    std::vector<std::vector<Value>> readAll();
    // Pages the rows live on, from the owned-pages map.
    std::vector<uint32_t> dataPages();

    // Appends one row; values in the order of def().columns, null for unset.
    // Either the whole row is stored or nothing changes.
    uint32_t append(const std::vector<Value>& values);
    // The same with fields already encoded by encodeField (null entries and
    // long-value columns are encoded here).
    // `encoded` is used as scratch space.
    uint32_t append(const std::vector<Value>& values, std::vector<Field>* encoded);

    // Deletes a row (values as scan() gave them), with its index entries.
    void removeRow(uint32_t rowPointer, const std::vector<Value>& values);

    // Re-reads the definition from the file (after a rollback). Returns
    // false when the table no longer exists there.
    bool reload();
    bool dropped() const { return dropped_; }
    void markDropped() { dropped_ = true; }
    // Forgets the open index trees (their definitions changed).
    void reloadTrees() { dropTrees(); }
    // Writes the row count, counters and pending index pages.
    void flushHeader();
    // Brings waiting index entries into their trees and writes the trees'
    // changed pages (call before reading index pages from the file).
    void flushIndexes();

private:
    friend class Database;
    std::vector<uint8_t> writeLongValue(const ColumnDef& c, const std::vector<uint8_t>& payload, uint32_t rowBudget);
    Value readLongValue(const ColumnDef& c, const uint8_t* ref, uint32_t size);
    uint32_t addRowToDataPage(const std::vector<uint8_t>& row);
    uint32_t lvalPageWithRoom(const ColumnDef& c, uint32_t length);
    // Keys of a row for each physical index.
    // (in a buffer of the table, valid until the next call)
    const std::vector<std::vector<uint8_t>>& indexKeys(const std::vector<Value>& values);
    // The steps of append(), in their order (table.cpp).
    struct RowPlan;
    void encodeFields(std::vector<Value>& counterValues, const std::vector<Value>& values, bool preEncoded,
                      RowPlan& plan);
    void encodeCounter(const ColumnDef& c, Value& v, Field& field, RowPlan& plan);
    void measureLongValue(size_t column, const Value& v, RowPlan& plan, size_t& keptBytes);
    uint32_t inlineBudget(const std::vector<Value>& values, const RowPlan& plan) const;
    void reserveRoom(const RowPlan& plan);
    const std::vector<std::vector<uint8_t>>* checkedIndexKeys(const std::vector<Value>& values);
    void writeLongValues(const std::vector<Value>& values, RowPlan& plan, uint32_t budget);

    Database& db_;
    std::string name_;
    TableDef def_;
    uint32_t lastDataPage_ = 0;      // page new rows go to, 0 when unknown
    bool headerDirty_ = false;
    std::vector<uint32_t> lvalPage_; // per column position: current long-value page
    bool dropped_ = false;
    std::vector<Field> scratchFields_;
    std::vector<std::vector<uint8_t>> scratchPayloads_;
    std::vector<std::vector<uint8_t>> scratchKeys_;
    std::unique_ptr<RowKeyEncoder> keyEncoder_;
    // One open tree per physical index, kept across appends.
    std::vector<std::unique_ptr<IndexStore>> indexStores_;
    std::vector<std::unique_ptr<IndexTree>> indexTrees_;
    IndexTree& tree(size_t physicalIndex);
    // Adds the trees' new distinct keys to the definition.
    void takeNewKeys();
    void dropTrees();
    void checkUsable() const;
    void scanStored(const std::function<bool(const uint8_t* row, uint32_t size, uint32_t rowPointer)>& fn);
};

} // namespace jet
