// The inside of a Database that the rest of jet/ builds on: page I/O,
// page allocation, usage-map rows, the catalog and table definition pages.
// Tables, indexes, schema objects, the template builder, the checker and
// the tests of jet/ reach it here; callers of the engine never include
// this header and see only database.h, table.h and row_set.h.
#pragma once

#include "jet/database.h"
#include "jet/pager.h"

namespace jet {

class DatabaseInternals {
public:
    explicit DatabaseInternals(Database& db) : db_(db) {}

    Pager& pager() const { return db_.pager(); }
    // Page allocation for every structure of the file.
    uint32_t allocatePage() const { return db_.allocatePage(); }
    // Marks a page free again.
    void freePage(uint32_t page) const { db_.freePage(page); }
    // Adds a row to a page of usage-map rows; returns its row pointer.
    uint32_t addMapRow(uint32_t& mapPage, const std::vector<uint8_t>& row) const
    {
        return db_.addMapRow(mapPage, row);
    }
    const std::vector<CatalogEntry>& catalog() const { return db_.catalog(); }
    // Rewrites a table's definition pages from its definition (after its
    // indexes changed, for example).
    void updateTableDef(Table& table) const { db_.updateTableDef(table); }
    void updateTableDef(const std::string& table, const TableDef& def) const { db_.updateTableDef(table, def); }
    // The bytes of a table definition spread over its pages.
    std::vector<uint8_t> readDefinition(uint32_t page) const { return db_.readDefinition(page); }

private:
    Database& db_;
};

inline DatabaseInternals internals(Database& db) { return DatabaseInternals(db); }

// Runs a change as one statement. Outside a transaction it is a transaction
// of its own: committed, or rolled back when it fails. Inside one it ends
// the statement, and a failure is left to the caller's rollback.
template <class Fn> void asOneStatement(Database& db, Fn&& fn)
{
    const bool outer = db.inTransaction();
    if (!outer)
        db.begin();
    try {
        fn();
        if (!outer)
            db.commit();
        else
            db.statementDone();
    } catch (...) {
        if (!outer)
            db.rollback();
        throw;
    }
}

} // namespace jet
