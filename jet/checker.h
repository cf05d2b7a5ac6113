// Structural verification of a database file, independent of the code that
// writes it: it reads the pages itself and checks every invariant the engine
// relies on.
//   - page 0 is the header; no page has two owners (a table's definition, a
//     table's data pages, a long-value column's pages, an index's pages, a
//     usage map), and no owned page is marked free in the global map (used
//     pages that no object owns are notes, not problems);
//   - each usage map lists only pages of the kind its owner holds, each data
//     page names its owner, and no owner's page is marked free;
//   - each user table's row count equals the rows found on its data pages
//     (a system table's is a note); rows are well formed;
//   - every long value's reference leads to rows of the right length, chains
//     end and no long-value row is used twice;
//   - every table row of the catalog points to a valid definition page;
//   - a journal of an unfinished commit beside the file is a problem ("needs
//     recovery"): the rest is checked as the last commit, which the next
//     writer puts back;
//   - every index holds exactly one entry per row (left out where it ignores
//     nulls), with the key the row's values encode to, in order, with sound
//     tree links, on pages of its own usage map;
//   - once the structure is sound: every relationship names tables and
//     columns that exist, and an enforced one has its two foreign-key
//     indexes, on its columns, pointing at each other; every foreign-key
//     index points at a table and index that exist; property blocks read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jet {

struct CheckReport {
    std::vector<std::string> problems;  // one sentence each: what a reader would stumble on
    // What is normal in files Access made and harms no reader: pages the
    // global map marks used that no object owns (left by deletes until the
    // file is compacted) and system tables whose row count differs from
    // their rows. The first ones are listed; noteCount counts them all.
    std::vector<std::string> notes;
    uint64_t noteCount = 0;
    uint32_t pages = 0;
    uint32_t tables = 0;  // tables checked, system tables included
    uint64_t rows = 0;    // rows found in them
    bool ok() const { return problems.empty(); }
};

// Throws jet::Error when the file cannot be opened as an Access database at
// all; everything found inside it goes into the report.
CheckReport checkDatabase(const std::string& path);

struct CatalogTable {
    std::string name;
    uint32_t definitionPage = 0;
    bool system = false;  // flagged system object or named MSys*
};
// The tables the catalog lists, in catalog order. Throws jet::Error.
std::vector<CatalogTable> catalogTables(const std::string& path);

}  // namespace jet
