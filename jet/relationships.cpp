#include "jet/relationships.h"

#include "jet/database_int.h"
#include "jet/error.h"
#include "jet/index_ddl.h"
#include "jet/row_key.h"
#include "jet/text_codec.h"

#include <algorithm>
#include <unordered_set>

namespace jet {

namespace {

constexpr const char* kRelationshipTable = "MSysRelationships";

std::string quoted(const std::string& s) { return "'" + s + "'"; }

struct RelationColumns {
    int name = -1, grbit = -1, count = -1, position = -1, object = -1, column = -1, refObject = -1, refColumn = -1;
};

RelationColumns relationColumns(const TableDef& d)
{
    const RelationColumns c{d.columnIndex("szRelationship"), d.columnIndex("grbit"), d.columnIndex("ccolumn"),
                            d.columnIndex("icolumn"), d.columnIndex("szObject"), d.columnIndex("szColumn"),
                            d.columnIndex("szReferencedObject"), d.columnIndex("szReferencedColumn")};
    if (std::min({c.name, c.grbit, c.count, c.position, c.object, c.column, c.refObject, c.refColumn}) < 0)
        throw Error(ErrorKind::Corrupt, "The table of relationships lacks a column");
    return c;
}

std::string textAt(const std::vector<Value>& v, int i)
{
    return v[size_t(i)].isNull() ? std::string() : v[size_t(i)].str();
}

// Columns of a table by name, in the order given; throws when one is missing.
std::vector<const ColumnDef*> columnsOf(const Table& t, const std::vector<std::string>& names)
{
    std::vector<const ColumnDef*> out;
    for (const auto& n : names) {
        const ColumnDef* c = t.def().findColumn(n);
        if (!c)
            throw Error("The table " + quoted(t.name()) + " has no column " + quoted(n));
        out.push_back(c);
    }
    return out;
}

// A unique physical index on exactly these columns, in this order.
bool hasUniqueIndexOn(const TableDef& d, const std::vector<const ColumnDef*>& cols)
{
    for (const auto& p : d.physicalIndexes) {
        if (!(p.flags & kIndexUnique) || p.columns.size() != cols.size())
            continue;
        bool same = true;
        for (size_t k = 0; k < cols.size(); ++k)
            same = same && p.columns[k].columnNumber == cols[k]->number;
        if (same)
            return true;
    }
    return false;
}

bool indexNameTaken(const TableDef& d, const std::string& name)
{
    return std::any_of(d.logicalIndexes.begin(), d.logicalIndexes.end(),
                       [&](const LogicalIndexDef& li) { return sameName(li.name, name); });
}

// The keys of the referenced rows, then every referring row looked up.
void checkIntegrity(Database& db, Table& referenced, const std::vector<const ColumnDef*>& refCols, Table& referring,
                    const std::vector<const ColumnDef*>& fkCols)
{
    const Format& f = db.format();
    std::unordered_set<std::string> keys;
    std::vector<uint8_t> key;
    auto slots = [](const Table& t, const std::vector<const ColumnDef*>& cols) {
        std::vector<size_t> s;
        for (const ColumnDef* c : cols)
            s.push_back(size_t(c - t.def().columns.data()));
        return s;
    };
    const std::vector<size_t> refSlots = slots(referenced, refCols);
    const std::vector<size_t> fkSlots = slots(referring, fkCols);
    RowKeyEncoder refEncoder(f, referenced.name());
    referenced.scan([&](const std::vector<Value>& v, uint32_t) {
        key.clear();
        for (size_t k = 0; k < refCols.size(); ++k)
            refEncoder.appendColumn(key, *refCols[k], true, &v[refSlots[k]], nullptr);
        keys.emplace(key.begin(), key.end());
        return true;
    });
    RowKeyEncoder fkEncoder(f, referring.name());
    uint64_t orphans = 0;
    referring.scan([&](const std::vector<Value>& v, uint32_t) {
        key.clear();
        for (size_t k = 0; k < fkCols.size(); ++k) {
            if (v[fkSlots[k]].isNull())
                return true;
            fkEncoder.appendColumn(key, *refCols[k], true, &v[fkSlots[k]], nullptr);
        }
        if (!keys.count(std::string(key.begin(), key.end())))
            ++orphans;
        return true;
    });
    if (orphans)
        throw Error(std::to_string(orphans) + " row" + (orphans == 1 ? "" : "s") + " of " + quoted(referring.name()) +
                    " refer to no row of " + quoted(referenced.name()));
}

// The two tables and their columns, side by side.
struct RelationSides {
    Table& referenced;
    Table& referring;
    std::vector<const ColumnDef*> refCols, fkCols;
    bool selfReference() const { return &referenced == &referring; }
};

// The checks that need no table: column counts, cascades, the name.
void checkRelationshipRequest(const Relationship& r)
{
    if (r.referencedColumns.empty() || r.referencedColumns.size() != r.referringColumns.size())
        throw Error("The relationship " + quoted(r.name) + " needs as many referring columns as referenced ones");
    if (r.referencedColumns.size() > kMaxIndexColumns)
        throw Error("The relationship " + quoted(r.name) + " has more than " + std::to_string(kMaxIndexColumns) +
                    " columns");
    if (!r.enforced && (r.cascadeUpdates || r.cascadeDeletes))
        throw Error("The relationship " + quoted(r.name) + " cascades without enforcing integrity");
    Database::checkName(r.name, "relationship");
}

// Access names the referenced side's index ".rB", ".rC", ...
std::string freeReferencedIndexName(const Table& referenced)
{
    for (char c = 'B';; ++c) {
        if (c == '[')
            c = 'a';
        if (c > 'z')
            throw Error("The table " + quoted(referenced.name()) + " has no free name for a relationship index");
        std::string name = std::string(".r") + c;
        if (!indexNameTaken(referenced.def(), name))
            return name;
    }
}

// An enforced relationship needs a unique index to refer to, room for two
// more indexes and rows that keep it already. Returns the name of the
// referenced side's new index.
std::string checkEnforceable(Database& db, const Relationship& r, RelationSides& s)
{
    if (!hasUniqueIndexOn(s.referenced.def(), s.refCols))
        throw Error("The table " + quoted(s.referenced.name()) + " has no unique index on the columns the "
                    "relationship " + quoted(r.name) + " refers to");
    if (indexNameTaken(s.referring.def(), r.name))
        throw Error("The table " + quoted(s.referring.name()) + " already has an index named " + quoted(r.name));
    if (s.referenced.def().logicalIndexes.size() + 1 + (s.selfReference() ? 1 : 0) > kMaxTableIndexes ||
        s.referring.def().logicalIndexes.size() + 1 > kMaxTableIndexes)
        throw Error("The relationship " + quoted(r.name) + " needs more indexes than a table may have");
    s.referenced.flushIndexes();
    s.referring.flushIndexes();
    checkIntegrity(db, s.referenced, s.refCols, s.referring, s.fkCols);
    return freeReferencedIndexName(s.referenced);
}

// One row of MSysRelationships per pair of columns.
void addRelationshipRows(Database& db, const Relationship& r, const RelationSides& s)
{
    Relationship stored = r;
    stored.oneToOne = hasUniqueIndexOn(s.referring.def(), s.fkCols);
    const uint32_t flags = stored.flags();

    Table& rel = db.table(kRelationshipTable);
    const RelationColumns rc = relationColumns(rel.def());
    for (size_t k = 0; k < s.refCols.size(); ++k) {
        std::vector<Value> row(rel.def().columns.size());
        row[size_t(rc.name)] = Value::text(r.name);
        row[size_t(rc.grbit)] = Value::integer(int32_t(flags));
        row[size_t(rc.count)] = Value::integer(int64_t(s.refCols.size()));
        row[size_t(rc.position)] = Value::integer(int64_t(k));
        row[size_t(rc.object)] = Value::text(s.referring.name());
        row[size_t(rc.column)] = Value::text(s.fkCols[k]->name);
        row[size_t(rc.refObject)] = Value::text(s.referenced.name());
        row[size_t(rc.refColumn)] = Value::text(s.refCols[k]->name);
        rel.append(row);
    }
    rel.flushHeader();
}

// Each side's index names the other's by number: the referenced side's
// comes first, and on one table the referring side's follows it.
void createLinkedIndexes(Database& db, const Relationship& r, const RelationSides& s,
                         const std::string& primaryIndexName)
{
    const uint32_t primaryNumber = uint32_t(s.referenced.def().logicalIndexes.size());
    const uint32_t referringNumber =
        s.selfReference() ? primaryNumber + 1 : uint32_t(s.referring.def().logicalIndexes.size());
    const uint32_t referencedPage = s.referenced.def().page;
    const uint32_t referringPage = s.referring.def().page;
    const std::string referencedName = s.referenced.name();
    const std::string referringName = s.referring.name();

    IndexSpec primary;
    primary.name = primaryIndexName;
    primary.unique = true;
    for (const ColumnDef* c : s.refCols)
        primary.columns.push_back({c->name, true});
    primary.foreignKey = ForeignKeyLink{true, referringNumber, referringPage, r.cascadeUpdates, r.cascadeDeletes};
    createIndex(db, referencedName, primary);

    IndexSpec secondary;
    secondary.name = r.name;
    for (const ColumnDef* c : s.fkCols)
        secondary.columns.push_back({c->name, true});
    secondary.foreignKey = ForeignKeyLink{false, primaryNumber, referencedPage, r.cascadeUpdates, r.cascadeDeletes};
    createIndex(db, referringName, secondary);
}

void createRelationshipImpl(Database& db, const Relationship& r)
{
    checkRelationshipRequest(r);
    Table& referenced = db.table(r.referencedTable);
    Table& referring = db.table(r.referringTable);
    RelationSides s{referenced, referring, columnsOf(referenced, r.referencedColumns),
                    columnsOf(referring, r.referringColumns)};
    for (size_t k = 0; k < s.refCols.size(); ++k)
        if (s.refCols[k]->type != s.fkCols[k]->type)
            throw Error("The columns " + quoted(s.fkCols[k]->name) + " and " + quoted(s.refCols[k]->name) +
                        " of the relationship " + quoted(r.name) + " differ in type");
    for (const auto& existing : readRelationships(db))
        if (sameName(existing.name, r.name))
            throw Error("A relationship named " + quoted(r.name) + " already exists");

    const std::string primaryIndexName = r.enforced ? checkEnforceable(db, r, s) : std::string();
    addRelationshipRows(db, r, s);
    if (r.enforced)
        createLinkedIndexes(db, r, s, primaryIndexName);
}

}  // namespace

uint32_t Relationship::flags() const
{
    uint32_t f = 0;
    if (!enforced)
        f |= kRelationNotEnforced;
    if (cascadeUpdates)
        f |= kRelationCascadeUpdates;
    if (cascadeDeletes)
        f |= kRelationCascadeDeletes;
    if (oneToOne)
        f |= kRelationOneToOne;
    return f;
}

std::string relationshipName(Database& db, const std::string& referencedTable, const std::string& referringTable)
{
    const std::string a = db.table(referencedTable).name();
    const std::string b = db.table(referringTable).name();
    const TableDef& referring = db.table(referringTable).def();
    const std::vector<Relationship> existing = readRelationships(db);
    auto taken = [&](const std::string& n) {
        return indexNameTaken(referring, n) ||
               std::any_of(existing.begin(), existing.end(), [&](const Relationship& r) { return sameName(r.name, n); });
    };
    auto cut = [](const std::string& s, size_t chars) {
        std::u16string u = utf8ToUtf16(s);
        if (u.size() > chars)
            u.resize(chars);
        if (!u.empty() && u.back() >= 0xD800 && u.back() < 0xDC00)
            u.pop_back();
        return utf16ToUtf8(u);
    };
    std::string name = cut(a + b, 64);
    for (int n = 1; taken(name) && n < 100000; ++n) {
        const std::string suffix = std::to_string(n);
        name = cut(a + b, 64 - suffix.size()) + suffix;
    }
    return name;
}

void createRelationship(Database& db, const Relationship& r)
{
    asOneStatement(db, [&] { createRelationshipImpl(db, r); });
}

std::vector<Relationship> readRelationships(Database& db)
{
    std::vector<Relationship> out;
    if (!db.hasTable(kRelationshipTable))
        return out;
    Table& rel = db.table(kRelationshipTable);
    const RelationColumns rc = relationColumns(rel.def());
    struct Part {
        int64_t position;
        std::string column, refColumn;
    };
    std::vector<std::vector<Part>> parts;
    rel.scan([&](const std::vector<Value>& v, uint32_t) {
        const std::string name = textAt(v, rc.name);
        auto it = std::find_if(out.begin(), out.end(), [&](const Relationship& r) { return r.name == name; });
        if (it == out.end()) {
            Relationship r;
            r.name = name;
            r.referringTable = textAt(v, rc.object);
            r.referencedTable = textAt(v, rc.refObject);
            const uint32_t g = v[size_t(rc.grbit)].isNull() ? 0 : uint32_t(v[size_t(rc.grbit)].asInt());
            r.enforced = !(g & kRelationNotEnforced);
            r.cascadeUpdates = g & kRelationCascadeUpdates;
            r.cascadeDeletes = g & kRelationCascadeDeletes;
            r.oneToOne = g & kRelationOneToOne;
            out.push_back(r);
            parts.emplace_back();
            it = out.end() - 1;
        }
        parts[size_t(it - out.begin())].push_back(
            {v[size_t(rc.position)].isNull() ? 0 : v[size_t(rc.position)].asInt(), textAt(v, rc.column),
             textAt(v, rc.refColumn)});
        return true;
    });
    for (size_t i = 0; i < out.size(); ++i) {
        std::stable_sort(parts[i].begin(), parts[i].end(),
                         [](const Part& a, const Part& b) { return a.position < b.position; });
        for (const Part& p : parts[i]) {
            out[i].referringColumns.push_back(p.column);
            out[i].referencedColumns.push_back(p.refColumn);
        }
    }
    return out;
}

void dropRelationshipsOf(Database& db, const std::string& tableName)
{
    if (!db.hasTable(kRelationshipTable) || !db.hasTable(tableName))
        return;
    Table& rel = db.table(kRelationshipTable);
    if (rel.rowCount() == 0)
        return;
    asOneStatement(db, [&] {
        const std::string table = db.table(tableName).name();
        const uint32_t page = db.table(tableName).def().page;
        const RelationColumns rc = relationColumns(rel.def());
        std::vector<std::pair<uint32_t, std::vector<Value>>> rows;
        rel.scan([&](const std::vector<Value>& v, uint32_t ptr) {
            if (sameName(textAt(v, rc.object), table) || sameName(textAt(v, rc.refObject), table))
                rows.emplace_back(ptr, v);
            return true;
        });
        for (const auto& [ptr, v] : rows)
            rel.removeRow(ptr, v);
        rel.flushHeader();
        // The other tables' indexes that point at this one.
        for (const auto& other : db.tableNames(true)) {
            if (sameName(other, table))
                continue;
            for (;;) {
                const TableDef& d = db.table(other).def();
                auto it = std::find_if(d.logicalIndexes.begin(), d.logicalIndexes.end(), [&](const LogicalIndexDef& l) {
                    return l.type == kLogicalIndexForeign && l.relatedTablePage == page;
                });
                if (it == d.logicalIndexes.end())
                    break;
                const LogicalIndexDef li = *it;
                dropRelationshipIndex(db, other, li.name);
            }
        }
    });
}

}  // namespace jet
