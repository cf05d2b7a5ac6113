// `check`'s last step: relationships against the tables, columns and
// foreign-key indexes they name, and the tables' property blocks. The pages
// are sound by now, so the engine reads them.
#include "jet/checker_int.h"

#include "jet/database.h"
#include "jet/error.h"
#include "jet/properties.h"
#include "jet/relationships.h"
#include "jet/text_codec.h"

#include <map>

namespace jet::checking {

namespace {

std::string q(const std::string& s) { return "'" + s + "'"; }

// The physical index's columns are these, in this order.
bool indexOn(const TableDef& d, const LogicalIndexDef& li, const std::vector<std::string>& columns)
{
    if (li.physicalIndex >= d.physicalIndexes.size())
        return false;
    const PhysicalIndexDef& p = d.physicalIndexes[li.physicalIndex];
    if (p.columns.size() != columns.size())
        return false;
    for (size_t k = 0; k < columns.size(); ++k) {
        const ColumnDef* c = d.findColumn(columns[k]);
        if (!c || c->number != p.columns[k].columnNumber)
            return false;
    }
    return true;
}

const LogicalIndexDef* linkTo(const TableDef& d, uint8_t side, uint32_t otherPage,
                              const std::vector<std::string>& columns)
{
    for (const auto& li : d.logicalIndexes)
        if (li.type == kLogicalIndexForeign && li.relatedTableType == side && li.relatedTablePage == otherPage &&
            indexOn(d, li, columns))
            return &li;
    return nullptr;
}

}  // namespace

void checkRelationships(const std::string& path, CheckReport& report)
{
    auto problem = [&](const std::string& s) { report.problems.push_back(s); };
    auto db = Database::open(path, false);
    std::map<uint32_t, std::string> tableAt;
    for (const auto& name : db->tableNames(true)) {
        Table& t = db->table(name);
        tableAt[t.def().page] = t.name();
        try {
            readTableProperties(*db, name);
        } catch (const Error& e) {
            problem("table " + name + ": " + e.what());
        }
    }
    // Every foreign-key index points at a table and an index that exist.
    for (const auto& [page, name] : tableAt) {
        const TableDef& d = db->table(name).def();
        for (const auto& li : d.logicalIndexes) {
            if (li.type != kLogicalIndexForeign)
                continue;
            auto other = tableAt.find(li.relatedTablePage);
            if (other == tableAt.end()) {
                problem("table " + name + ": the foreign-key index " + q(li.name) + " points at definition page " +
                        std::to_string(li.relatedTablePage) + ", which is no table");
                continue;
            }
            // Indexes name each other by their numbers, not their places.
            const TableDef& od = db->table(other->second).def();
            const LogicalIndexDef* back = nullptr;
            for (const auto& o : od.logicalIndexes)
                if (o.number == li.relatedIndex)
                    back = &o;
            if (!back || back->type != kLogicalIndexForeign || back->relatedTablePage != page)
                problem("table " + name + ": the foreign-key index " + q(li.name) + " points at index " +
                        std::to_string(li.relatedIndex) + " of " + other->second +
                        ", which is not the foreign-key index pointing back");
        }
    }
    for (const auto& r : readRelationships(*db)) {
        const std::string what = "relationship " + q(r.name) + ": ";
        if (!db->hasTable(r.referencedTable) || !db->hasTable(r.referringTable)) {
            problem(what + "names a table that does not exist (" + r.referringTable + " -> " + r.referencedTable + ")");
            continue;
        }
        const TableDef& refDef = db->table(r.referencedTable).def();
        const TableDef& fkDef = db->table(r.referringTable).def();
        bool columnsOk = !r.referencedColumns.empty();
        for (const auto& c : r.referencedColumns)
            columnsOk = columnsOk && refDef.findColumn(c);
        for (const auto& c : r.referringColumns)
            columnsOk = columnsOk && fkDef.findColumn(c);
        if (!columnsOk) {
            problem(what + "names a column that does not exist");
            continue;
        }
        if (!r.enforced)
            continue;
        const LogicalIndexDef* primary = linkTo(refDef, 1, fkDef.page, r.referencedColumns);
        const LogicalIndexDef* secondary = linkTo(fkDef, 2, refDef.page, r.referringColumns);
        if (!primary)
            problem(what + "the table " + r.referencedTable + " has no foreign-key index on its columns pointing at " +
                    r.referringTable);
        if (!secondary)
            problem(what + "the table " + r.referringTable + " has no foreign-key index on its columns pointing at " +
                    r.referencedTable);
        if (!primary || !secondary)
            continue;
        if (!(refDef.physicalIndexes[primary->physicalIndex].flags & kIndexUnique))
            problem(what + "the referenced columns' index is not unique");
        if (primary->relatedIndex != secondary->number || secondary->relatedIndex != primary->number)
            problem(what + "its two foreign-key indexes do not point at each other");
        if (bool(secondary->cascadeUpdates) != r.cascadeUpdates || bool(secondary->cascadeDeletes) != r.cascadeDeletes)
            problem(what + "the cascade flags of its row and of its index differ");
    }
}

}  // namespace jet::checking
