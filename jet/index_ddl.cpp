#include "jet/index_ddl.h"

#include "jet/data_page.h"
#include "jet/database_int.h"
#include "jet/error.h"
#include "jet/field_codec.h"
#include "jet/index_store.h"
#include "jet/index_tree.h"
#include "jet/pager.h"
#include "jet/row_codec.h"
#include "jet/row_key.h"
#include "jet/statement.h"
#include "jet/text_codec.h"
#include "jet/usage_map.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

namespace jet {
namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

const LogicalIndexDef* findLogical(const TableDef& def, const std::string& name)
{
    for (const auto& li : def.logicalIndexes)
        if (sameName(li.name, name))
            return &li;
    return nullptr;
}

std::uint8_t physicalFlags(const Format& f, const IndexSpec& spec)
{
    std::uint8_t flags = 0;
    if (spec.unique || spec.primary)
        flags |= kIndexUnique;
    if (spec.primary)
        flags |= kIndexRequired;
    if (f.jet4())
        flags |= kIndexJet4Flag;
    return flags;
}

// The bytes of a stored row, following a row that moved elsewhere.
std::vector<std::uint8_t> storedRow(Database& db, std::uint32_t rowPointer)
{
    const Format& f = db.format();
    for (int hop = 0; hop < 4; ++hop) {
        const std::uint8_t* page = internals(db).pager().read(rowPointer >> 8);
        std::uint16_t raw = data_page::rowOffsetRaw(f, page, std::uint16_t(rowPointer & 0xFF));
        std::vector<std::uint8_t> bytes = readRowAt(internals(db).pager(), f, rowPointer);
        if (!(raw & kRowOverflow))
            return bytes;
        if (bytes.size() < 4)
            break;
        rowPointer = std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
                     std::uint32_t(bytes[3]) << 24;
    }
    throw Error("A row of the table points to a moved row that cannot be found");
}

// One value of a stored row as a message shows it: texts quoted and cut.
std::string valueText(const Format& f, const ColumnDef& c, const RawField& rf)
{
    if (c.type == ColumnType::Boolean)
        return rf.bit ? "Yes" : "No";
    if (rf.null)
        return "null";
    if (c.isLongValue())
        return "(long value)";
    const Value v = decodeField(f, c, rf.data, rf.size);
    switch (v.kind()) {
    case Value::Kind::Null: return "null";
    case Value::Kind::Bool: return v.asBool() ? "Yes" : "No";
    case Value::Kind::Int: return std::to_string(v.asInt());
    case Value::Kind::Double: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.17g", v.asDouble());
        return buf;
    }
    case Value::Kind::Date: return formatDateTime(v.asDate());
    case Value::Kind::Bytes: {
        static const char* hex = "0123456789ABCDEF";
        std::string out = "0x";
        for (std::size_t i = 0; i < v.str().size() && i < 32; ++i)
            out += {hex[std::uint8_t(v.str()[i]) >> 4], hex[std::uint8_t(v.str()[i]) & 15]};
        return out;
    }
    case Value::Kind::Text: {
        std::u16string u = utf8ToUtf16(v.str());
        const bool cut = u.size() > 40;
        if (cut)
            u.resize(40);
        return quoted(utf16ToUtf8(u) + (cut ? "..." : ""));
    }
    default: return v.str();
    }
}

// The key columns' values of a stored row: "'abc'" or "('abc', 12)".
std::string keyValuesText(Database& db, const TableDef& def, const std::vector<std::size_t>& colPos,
                          std::uint32_t rowPointer)
{
    const std::vector<std::uint8_t> bytes = storedRow(db, rowPointer);
    const std::vector<RawField> raw = decodeRow(db.format(), def, bytes.data(), std::uint32_t(bytes.size()));
    std::string out;
    for (std::size_t k = 0; k < colPos.size(); ++k)
        out += (k ? ", " : "") + valueText(db.format(), def.columns[colPos[k]], raw[colPos[k]]);
    return colPos.size() > 1 ? "(" + out + ")" : out;
}

// Every page of a tree, root included.
std::vector<std::uint32_t> treePages(IndexPageStore& store, std::uint32_t tdef, std::uint32_t root)
{
    IndexTree tree(store, tdef, root);
    return tree.verify().pages;
}

}  // namespace

bool canIndexColumn(const Format& f, const ColumnDef& c)
{
    if (!isIndexableType(c.type))
        return false;
    if (c.type == ColumnType::Memo && !f.jet4())
        return false;
    if (c.isText()) {
        // 0x0409 is "General"; Jet 4 also marks the newer "General" sort
        // (which this engine does not write) with a version byte.
        if (c.sortOrder != 0x0409 && c.sortOrder != 0)
            return false;
        if (f.jet4() && c.sortVersion != 0)
            return false;
    }
    return true;
}

namespace {

// Runs a change as one statement: outside a transaction it is committed,
// and a failure part-way leaves the file as it was.
template <class Fn> void asStatement(Database& db, Fn&& fn)
{
    const bool outer = db.inTransaction();
    try {
        fn();
    } catch (...) {
        if (!outer)
            db.rollback();
        throw;
    }
    db.statementDone();
}

void createIndexImpl(Database& db, const std::string& tableName, const IndexSpec& spec);
void dropIndexImpl(Database& db, const std::string& tableName, const std::string& name, bool foreignKeyToo);

}  // namespace

void createIndex(Database& db, const std::string& tableName, const IndexSpec& spec)
{
    asStatement(db, [&] { createIndexImpl(db, tableName, spec); });
}

void dropIndex(Database& db, const std::string& tableName, const std::string& name)
{
    asStatement(db, [&] { dropIndexImpl(db, tableName, name, false); });
}

void dropRelationshipIndex(Database& db, const std::string& tableName, const std::string& name)
{
    asStatement(db, [&] { dropIndexImpl(db, tableName, name, true); });
}

namespace {

void createIndexImpl(Database& db, const std::string& tableName, const IndexSpec& spec)
{
    const Format& f = db.format();
    Table& table = db.table(tableName);
    // Entries still waiting for the table's trees count in the definition.
    table.flushIndexes();
    TableDef def = table.def();
    const std::string what = spec.primary ? "primary key" : "index";

    if (spec.name.empty())
        throw Error("The " + what + " needs a name");
    if (!spec.foreignKey)
        Database::checkName(spec.name, spec.primary ? "constraint" : "index");
    if (findLogical(def, spec.name))
        throw Error("The table " + quoted(table.name()) + " already has an index named " + quoted(spec.name));
    if (spec.columns.empty())
        throw Error("The " + what + " " + quoted(spec.name) + " names no columns");
    if (spec.columns.size() > kMaxIndexColumns)
        throw Error("The " + what + " " + quoted(spec.name) + " has more than " +
                    std::to_string(kMaxIndexColumns) + " columns");
    if (def.logicalIndexes.size() >= kMaxTableIndexes)
        throw Error("The table " + quoted(table.name()) + " already has " + std::to_string(kMaxTableIndexes) +
                    " indexes");
    if (spec.primary)
        for (const auto& li : def.logicalIndexes)
            if (li.type == kLogicalIndexPrimary)
                throw Error("The table " + quoted(table.name()) + " already has a primary key (" +
                            quoted(li.name) + ")");

    PhysicalIndexDef phys;
    phys.flags = physicalFlags(f, spec);
    std::vector<std::size_t> colPos;
    for (const auto& cs : spec.columns) {
        const ColumnDef* c = def.findColumn(cs.name);
        if (!c)
            throw Error("The table " + quoted(table.name()) + " has no column " + quoted(cs.name));
        for (const auto& ic : phys.columns)
            if (ic.columnNumber == c->number)
                throw Error("The column " + quoted(c->name) + " appears twice in the " + what + " " +
                            quoted(spec.name));
        if (c->type == ColumnType::Ole || (c->type == ColumnType::Memo && !f.jet4()))
            throw Error("The column " + quoted(c->name) + " cannot be indexed (" +
                        (c->type == ColumnType::Ole ? "an OLE object" : "a memo") + ")");
        if (!canIndexColumn(f, *c))
            throw Error("The column " + quoted(c->name) + " uses a text sort order this engine cannot index");
        phys.columns.push_back({c->number, cs.ascending});
        colPos.push_back(std::size_t(c - def.columns.data()));
    }

    // Access shares one index's pages between indexes with the same columns,
    // order and flags.
    std::size_t shared = def.physicalIndexes.size();
    for (std::size_t i = 0; i < def.physicalIndexes.size(); ++i) {
        const PhysicalIndexDef& p = def.physicalIndexes[i];
        if (p.columns.size() != phys.columns.size())
            continue;
        if (spec.foreignKey ? (spec.foreignKey->referencedSide && !(p.flags & kIndexUnique)) : p.flags != phys.flags)
            continue;
        bool same = true;
        for (std::size_t k = 0; k < p.columns.size(); ++k)
            same = same && p.columns[k].columnNumber == phys.columns[k].columnNumber &&
                   p.columns[k].ascending == phys.columns[k].ascending;
        if (same) {
            shared = i;
            break;
        }
    }

    if (spec.foreignKey && spec.foreignKey->referencedSide && shared == def.physicalIndexes.size())
        throw Error("The table " + quoted(table.name()) + " has no unique index on the columns the relationship " +
                    "refers to");

    // All checks on the rows come before anything is written.
    PackedEntries entries;
    std::uint32_t distinct = 0;
    bool needRaw = false;
    for (const auto& ic : phys.columns)
        if (const ColumnDef* c = def.columnByNumber(ic.columnNumber); c && fixedValueSize(c->type))
            needRaw = true;
    // Keys straight from the stored fields, unless a memo needs its value read.
    bool fromFields = true;
    for (std::size_t k = 0; k < colPos.size(); ++k)
        fromFields = fromFields && !def.columns[colPos[k]].isLongValue();
    if (shared == def.physicalIndexes.size() && fromFields) {
        RowKeyEncoder encoder(f, table.name());
        std::vector<std::uint8_t> key;
        // Room for every key at once: growing would copy them all.
        std::size_t keyBytes = 0;
        for (std::size_t pos : colPos) {
            const ColumnDef& c = def.columns[pos];
            const std::size_t fixedSize = fixedValueSize(c.type);
            keyBytes += 1 + (fixedSize ? fixedSize : 4 + std::min<std::size_t>(c.length, 255) * 3 / 2);
        }
        // The stored row count is not trusted: no more rows than the pages hold.
        const std::size_t rows = std::min<std::size_t>(table.rowCount(), table.dataPages().size() * f.maxRowsPerPage);
        entries.reserve(rows, rows * keyBytes);
        table.scanFields([&](const std::vector<RawField>& raw, std::uint32_t rowPointer) {
            key.clear();
            for (std::size_t k = 0; k < colPos.size(); ++k) {
                const ColumnDef& c = def.columns[colPos[k]];
                const RawField& rf = raw[colPos[k]];
                if (rf.null && spec.primary)
                    throw Error("The primary key " + quoted(spec.name) + " cannot be created: column " +
                                quoted(c.name) + " holds empty (null) values");
                encoder.appendColumn(key, c, phys.columns[k].ascending, nullptr, &rf);
            }
            entries.add(key, rowPointer >> 8, std::uint8_t(rowPointer));
            return true;
        });
    } else if (shared == def.physicalIndexes.size()) {
        table.scan([&](const std::vector<Value>& values, std::uint32_t rowPointer) {
            if (spec.primary)
                for (std::size_t k = 0; k < colPos.size(); ++k)
                    if (values[colPos[k]].isNull())
                        throw Error("The primary key " + quoted(spec.name) + " cannot be created: column " +
                                    quoted(def.columns[colPos[k]].name) + " holds empty (null) values");
            std::vector<std::uint8_t> rowBytes;
            std::vector<RawField> raw;
            if (needRaw) {
                rowBytes = storedRow(db, rowPointer);
                raw = decodeRow(f, def, rowBytes.data(), std::uint32_t(rowBytes.size()));
            }
            entries.add(rowIndexKey(f, def, phys, values, needRaw ? &raw : nullptr), rowPointer >> 8,
                        std::uint8_t(rowPointer));
            return true;
        });
    }
    if (shared == def.physicalIndexes.size()) {
        entries.sort();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            auto k = entries.key(i);
            bool same = false;
            if (i > 0) {
                auto prev = entries.key(i - 1);
                same = prev.size() == k.size() && std::equal(k.begin(), k.end(), prev.begin());
            }
            if (!same)
                ++distinct;
            else if ((spec.unique || spec.primary) && !isNullKey(k)) {
                // Name the two values Access finds equal (letter case aside,
                // for texts), so that the user can find the rows.
                std::string values;
                try {
                    const IndexEntry a = entries.entry(i - 1), b = entries.entry(i);
                    values = " (" + keyValuesText(db, def, colPos, a.dataPage << 8 | a.dataRow) + " and " +
                             keyValuesText(db, def, colPos, b.dataPage << 8 | b.dataRow) + ")";
                } catch (const std::exception&) {
                }
                throw Error(ErrorKind::Constraint, "The " + what + " " + quoted(spec.name) +
                                                       " cannot be created: the table holds duplicate values in "
                                                       "its columns" + values);
            }
        }
    }

    if (shared == def.physicalIndexes.size()) {
        std::uint32_t mapPage = def.ownedMap >> 8;
        phys.usageMap = internals(db).addMapRow(mapPage, UsageMap::emptyRow(f));
        IndexStore store(db, phys.usageMap);
        phys.firstPage = IndexTree::createEmpty(store, def.page);
        IndexTree tree(store, def.page, phys.firstPage, spec.name);
        tree.build(std::move(entries), spec.unique || spec.primary);
        phys.distinctKeys = distinct;
        def.physicalIndexes.push_back(phys);
    }

    LogicalIndexDef li;
    li.name = spec.name;
    li.number = std::uint32_t(def.logicalIndexes.size());
    li.physicalIndex = std::uint32_t(shared);
    li.type = spec.primary ? kLogicalIndexPrimary : 0;
    if (spec.foreignKey) {
        const ForeignKeyLink& fk = *spec.foreignKey;
        li.type = kLogicalIndexForeign;
        li.relatedTableType = fk.referencedSide ? 1 : 2;
        li.relatedIndex = fk.otherIndex;
        li.relatedTablePage = fk.otherTablePage;
        li.cascadeUpdates = fk.cascadeUpdates ? 1 : 0;
        li.cascadeDeletes = fk.cascadeDeletes ? 1 : 0;
    }
    def.logicalIndexes.push_back(li);
    internals(db).updateTableDef(table.name(), def);
}

// Other tables' foreign-key indexes name this table's indexes by number;
// after a drop renumbered them, each follows its index by name.
void followRenumbering(Database& db, uint32_t tablePage, const std::map<uint32_t, std::string>& oldNames,
                       const TableDef& renumbered)
{
    std::map<std::string, uint32_t> newNumbers;
    for (const auto& l : renumbered.logicalIndexes)
        newNumbers[l.name] = l.number;
    for (const auto& other : db.tableNames(true)) {
        TableDef d = db.table(other).def();
        if (d.page == tablePage)
            continue;
        bool changed = false;
        for (auto& l : d.logicalIndexes) {
            if (l.type != kLogicalIndexForeign || l.relatedTablePage != tablePage)
                continue;
            auto name = oldNames.find(l.relatedIndex);
            if (name == oldNames.end())
                continue;
            auto number = newNumbers.find(name->second);
            if (number != newNumbers.end() && number->second != l.relatedIndex) {
                l.relatedIndex = number->second;
                changed = true;
            }
        }
        if (changed)
            internals(db).updateTableDef(other, d);
    }
}

void dropIndexImpl(Database& db, const std::string& tableName, const std::string& name, bool foreignKeyToo)
{
    Table& table = db.table(tableName);
    table.flushIndexes();  // the trees' pages are read from the file below
    TableDef def = table.def();
    const LogicalIndexDef* li = findLogical(def, name);
    if (!li)
        throw Error("The table " + quoted(table.name()) + " has no index named " + quoted(name));
    if (li->type == kLogicalIndexForeign && !foreignKeyToo)
        throw Error("The index " + quoted(li->name) + " of the table " + quoted(table.name()) +
                    " belongs to a relationship; it goes only with the relationship");
    std::map<uint32_t, std::string> oldNames;
    for (const auto& l : def.logicalIndexes)
        oldNames[l.number] = l.name;
    const std::size_t pos = std::size_t(li - def.logicalIndexes.data());
    const std::uint32_t phys = li->physicalIndex;
    def.logicalIndexes.erase(def.logicalIndexes.begin() + std::ptrdiff_t(pos));
    for (std::size_t i = 0; i < def.logicalIndexes.size(); ++i)
        def.logicalIndexes[i].number = std::uint32_t(i);

    bool stillUsed = std::any_of(def.logicalIndexes.begin(), def.logicalIndexes.end(),
                                 [&](const LogicalIndexDef& l) { return l.physicalIndex == phys; });
    if (!stillUsed && phys < def.physicalIndexes.size()) {
        const PhysicalIndexDef& p = def.physicalIndexes[phys];
        IndexStore store(db, p.usageMap);
        for (std::uint32_t page : treePages(store, def.page, p.firstPage))
            store.freePage(page);
        def.physicalIndexes.erase(def.physicalIndexes.begin() + std::ptrdiff_t(phys));
        for (auto& l : def.logicalIndexes)
            if (l.physicalIndex > phys)
                --l.physicalIndex;
    }
    internals(db).updateTableDef(table.name(), def);
    followRenumbering(db, def.page, oldNames, def);
}

// ---------------------------------------------------------------------------
// Statements.

std::vector<IndexColumnSpec> columnList(Parser& p, bool allowOrder)
{
    std::vector<IndexColumnSpec> cols;
    p.expectSymbol('(');
    do {
        IndexColumnSpec c;
        c.name = p.name("column");
        if (allowOrder) {
            if (p.accept("desc"))
                c.ascending = false;
            else
                p.accept("asc");
        }
        cols.push_back(std::move(c));
    } while (p.acceptSymbol(','));
    p.expectSymbol(')');
    return cols;
}

bool createIndexStatement(Parser& p, Database& db)
{
    const Token& t0 = p.peek();
    const Token& t1 = p.peek(1);
    const Token& t2 = p.peek(2);
    auto is = [](const Token& t, const char* w) {
        return t.kind == Token::Kind::Word && sameName(t.text, w);
    };
    if (!is(t0, "create") || !(is(t1, "index") || (is(t1, "unique") && is(t2, "index"))))
        return false;
    p.expect("create");
    IndexSpec spec;
    spec.unique = p.accept("unique");
    p.expect("index");
    spec.name = p.name("index");
    p.expect("on");
    std::string table = p.name("table");
    spec.columns = columnList(p, true);
    if (p.accept("with")) {
        // "with primary" makes the index the primary key.
        p.expect("primary");
        spec.primary = true;
    }
    p.expectEnd();
    createIndex(db, table, spec);
    return true;
}

bool alterTableStatement(Parser& p, Database& db)
{
    auto is = [](const Token& t, const char* w) {
        return t.kind == Token::Kind::Word && sameName(t.text, w);
    };
    if (!is(p.peek(), "alter") || !is(p.peek(1), "table"))
        return false;
    // Only "add constraint ... primary key|unique (...)" belongs here.
    std::size_t k = 2;
    while (p.peek(k).kind != Token::Kind::End && !is(p.peek(k), "add"))
        ++k;
    if (!is(p.peek(k), "add") || !is(p.peek(k + 1), "constraint"))
        return false;
    p.expect("alter");
    p.expect("table");
    std::string table = p.name("table");
    p.expect("add");
    p.expect("constraint");
    IndexSpec spec;
    spec.name = p.name("constraint");
    if (p.accept("primary")) {
        p.expect("key");
        spec.primary = true;
    } else {
        p.expect("unique");
        spec.unique = true;
    }
    spec.columns = columnList(p, false);
    p.expectEnd();
    createIndex(db, table, spec);
    return true;
}

bool dropIndexStatement(Parser& p, Database& db)
{
    auto is = [](const Token& t, const char* w) {
        return t.kind == Token::Kind::Word && sameName(t.text, w);
    };
    if (!is(p.peek(), "drop") || !is(p.peek(1), "index"))
        return false;
    p.expect("drop");
    p.expect("index");
    std::string name = p.name("index");
    p.expect("on");
    std::string table = p.name("table");
    p.expectEnd();
    dropIndex(db, table, name);
    return true;
}

}  // namespace

void registerIndexStatements()
{
    static std::once_flag once;
    std::call_once(once, [] {
        registerStatement(createIndexStatement);
        registerStatement(alterTableStatement);
        registerStatement(dropIndexStatement);
    });
}

}  // namespace jet
