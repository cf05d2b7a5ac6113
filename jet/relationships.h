// Relationships between tables as Access stores them: one row per column
// pair in MSysRelationships, and, when integrity is enforced, a foreign-key
// index on each table (".rB" and so on on the referenced table, sharing its
// unique index; one named as the relationship on the referring table), each
// pointing at the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jet {

class Database;

// MSysRelationships.grbit
inline constexpr std::uint32_t kRelationOneToOne = 0x00000001;
inline constexpr std::uint32_t kRelationNotEnforced = 0x00000002;
inline constexpr std::uint32_t kRelationCascadeUpdates = 0x00000100;
inline constexpr std::uint32_t kRelationCascadeDeletes = 0x00001000;

struct Relationship {
    std::string name;                      // Access's own: referenced table + referring table
    std::string referencedTable;           // the "one" side, with the unique key
    std::vector<std::string> referencedColumns;
    std::string referringTable;            // the side holding the foreign key
    std::vector<std::string> referringColumns;
    bool enforced = true;
    bool cascadeUpdates = false;
    bool cascadeDeletes = false;
    bool oneToOne = false;                 // read back only: set when the referring columns are unique

    std::uint32_t flags() const;
};

// The name Access gives a relationship between these tables: the referenced
// table's name followed by the referring one's, with a number when that is
// taken or too long.
std::string relationshipName(Database& db, const std::string& referencedTable, const std::string& referringTable);

// Makes a relationship. Throws Error, changing nothing, when a table or
// column is missing, the column lists differ in length or type, the name is
// taken, the referenced columns have no unique index (for an enforced one),
// or a referring row names no referenced row (rows with a null in the
// foreign key are not checked). One statement.
void createRelationship(Database& db, const Relationship& r);

// The relationships in the file, in the order of their first rows.
std::vector<Relationship> readRelationships(Database& db);

// Removes the relationships a table takes part in, with their foreign-key
// indexes on the other tables (dropping a table calls this).
void dropRelationshipsOf(Database& db, const std::string& table);

}  // namespace jet
