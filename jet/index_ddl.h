// Index statements on tables: creating indexes and primary keys over the
// rows a table already holds, and dropping them.
#pragma once

#include "jet/database.h"
#include "jet/index_key.h"
#include "jet/row_key.h"
#include "jet/table_def.h"
#include "jet/value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jet {

struct IndexColumnSpec {
    std::string name;
    bool ascending = true;
};

// The link a foreign-key index keeps to the index on the other table of its
// relationship (Access makes one on each side).
struct ForeignKeyLink {
    bool referencedSide = false;     // the table whose unique key is referred to
    std::uint32_t otherIndex = 0;    // logical index number on the other table
    std::uint32_t otherTablePage = 0;
    bool cascadeUpdates = false;
    bool cascadeDeletes = false;
};

struct IndexSpec {
    std::string name;
    std::vector<IndexColumnSpec> columns;
    bool unique = false;
    bool primary = false;  // also unique, and no column may be null
    // A relationship's index: it shares the pages of an index on the same
    // columns whatever that one's flags (the referenced side needs a unique
    // one), and its name is the engine's own (".rB") or the relationship's.
    std::optional<ForeignKeyLink> foreignKey;
};

// Most columns in one index and most indexes in one table.
inline constexpr std::size_t kMaxIndexColumns = 10;
inline constexpr std::size_t kMaxTableIndexes = 32;

// Creates an index (or the primary key) on a table and fills it from the
// table's rows. Throws jet::Error with a message for the user: no such
// table or column, a name already used, too many columns or indexes, a
// second primary key, a column type that cannot be indexed, duplicate keys
// for a unique index or primary key, a null in a primary-key column.
// Nothing is written unless all checks pass.
void createIndex(Database& db, const std::string& table, const IndexSpec& spec);

// Drops a named index of a table; its pages are freed when no other index
// shares them, and the other tables' foreign-key indexes that name this
// table's indexes by number follow the renumbering. Refuses a foreign-key
// index: it belongs to a relationship, which goes first.
void dropIndex(Database& db, const std::string& table, const std::string& name);
// The same without that refusal, for the code that removes relationships.
void dropRelationshipIndex(Database& db, const std::string& table, const std::string& name);

// Registers the statements "create [unique] index N on T (a [asc|desc], ...)",
// "alter table T add constraint N primary key (a, ...)" and
// "drop index N on T" with the statement parser. Safe to call repeatedly.
void registerIndexStatements();

// Whether index keys of this column can be written: text columns need the
// sort order the engine implements ("General" / "General Legacy").
bool canIndexColumn(const Format& f, const ColumnDef& c);


}  // namespace jet
