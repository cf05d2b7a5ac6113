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

// Adding an index to a table, step by step: check the request, find its
// columns, share an existing physical index or build a new tree from the
// table's rows, then rewrite the definition. Every check, those on the rows
// included, comes before anything is written.
class IndexCreation {
public:
    IndexCreation(Database& db, Table& table, const IndexSpec& spec)
        : db_(db), f_(db.format()), table_(table), def_(table.def()), spec_(spec),
          what_(spec.primary ? "primary key" : "index")
    {
    }

    void run()
    {
        checkRequest();
        resolveColumns();
        const std::size_t shared = sharedIndex();
        const bool newTree = shared == def_.physicalIndexes.size();
        if (spec_.foreignKey && spec_.foreignKey->referencedSide && newTree)
            throw Error("The table " + quoted(table_.name()) + " has no unique index on the columns the " +
                        "relationship refers to");
        if (newTree) {
            readKeys();
            countDistinctKeys();
            writeTree();
        }
        def_.logicalIndexes.push_back(logicalIndex(shared));
        internals(db_).updateTableDef(table_.name(), def_);
    }

private:
    bool unique() const { return spec_.unique || spec_.primary; }

    // The name, the number of columns and indexes, one primary key.
    void checkRequest() const
    {
        if (spec_.name.empty())
            throw Error("The " + what_ + " needs a name");
        if (!spec_.foreignKey)
            Database::checkName(spec_.name, spec_.primary ? "constraint" : "index");
        if (findLogical(def_, spec_.name))
            throw Error("The table " + quoted(table_.name()) + " already has an index named " + quoted(spec_.name));
        if (spec_.columns.empty())
            throw Error("The " + what_ + " " + quoted(spec_.name) + " names no columns");
        if (spec_.columns.size() > kMaxIndexColumns)
            throw Error("The " + what_ + " " + quoted(spec_.name) + " has more than " +
                        std::to_string(kMaxIndexColumns) + " columns");
        if (def_.logicalIndexes.size() >= kMaxTableIndexes)
            throw Error("The table " + quoted(table_.name()) + " already has " + std::to_string(kMaxTableIndexes) +
                        " indexes");
        if (spec_.primary)
            for (const auto& li : def_.logicalIndexes)
                if (li.type == kLogicalIndexPrimary)
                    throw Error("The table " + quoted(table_.name()) + " already has a primary key (" +
                                quoted(li.name) + ")");
    }

    // The physical index's columns, each once and of a type an index takes;
    // colPos_ holds their places in the row.
    void resolveColumns()
    {
        phys_.flags = physicalFlags(f_, spec_);
        for (const auto& cs : spec_.columns) {
            const ColumnDef* c = def_.findColumn(cs.name);
            if (!c)
                throw Error("The table " + quoted(table_.name()) + " has no column " + quoted(cs.name));
            for (const auto& ic : phys_.columns)
                if (ic.columnNumber == c->number)
                    throw Error("The column " + quoted(c->name) + " appears twice in the " + what_ + " " +
                                quoted(spec_.name));
            if (c->type == ColumnType::Ole || (c->type == ColumnType::Memo && !f_.jet4()))
                throw Error("The column " + quoted(c->name) + " cannot be indexed (" +
                            (c->type == ColumnType::Ole ? "an OLE object" : "a memo") + ")");
            if (!canIndexColumn(f_, *c))
                throw Error("The column " + quoted(c->name) + " uses a text sort order this engine cannot index");
            phys_.columns.push_back({c->number, cs.ascending});
            colPos_.push_back(std::size_t(c - def_.columns.data()));
        }
    }

    // Access shares one index's pages between indexes with the same columns,
    // order and flags; a foreign key's referenced side needs a unique one.
    // Returns the shared index, or the count of indexes when none fits.
    std::size_t sharedIndex() const
    {
        for (std::size_t i = 0; i < def_.physicalIndexes.size(); ++i) {
            const PhysicalIndexDef& p = def_.physicalIndexes[i];
            if (p.columns.size() != phys_.columns.size())
                continue;
            if (spec_.foreignKey ? (spec_.foreignKey->referencedSide && !(p.flags & kIndexUnique))
                                 : p.flags != phys_.flags)
                continue;
            bool same = true;
            for (std::size_t k = 0; k < p.columns.size(); ++k)
                same = same && p.columns[k].columnNumber == phys_.columns[k].columnNumber &&
                       p.columns[k].ascending == phys_.columns[k].ascending;
            if (same)
                return i;
        }
        return def_.physicalIndexes.size();
    }

    [[noreturn]] void nullInPrimaryKey(const ColumnDef& c) const
    {
        throw Error("The primary key " + quoted(spec_.name) + " cannot be created: column " + quoted(c.name) +
                    " holds empty (null) values");
    }

    // Keys straight from the stored fields, unless a memo needs its value read.
    void readKeys()
    {
        bool fromFields = true;
        for (std::size_t k = 0; k < colPos_.size(); ++k)
            fromFields = fromFields && !def_.columns[colPos_[k]].isLongValue();
        if (fromFields)
            readKeysFromFields();
        else
            readKeysFromValues();
    }

    void readKeysFromFields()
    {
        RowKeyEncoder encoder(f_, table_.name());
        std::vector<std::uint8_t> key;
        // Room for every key at once: growing would copy them all.
        std::size_t keyBytes = 0;
        for (std::size_t pos : colPos_) {
            const ColumnDef& c = def_.columns[pos];
            const std::size_t fixedSize = fixedValueSize(c.type);
            keyBytes += 1 + (fixedSize ? fixedSize : 4 + std::min<std::size_t>(c.length, 255) * 3 / 2);
        }
        // The stored row count is not trusted: no more rows than the pages hold.
        const std::size_t rows =
            std::min<std::size_t>(table_.rowCount(), table_.dataPages().size() * f_.maxRowsPerPage);
        entries_.reserve(rows, rows * keyBytes);
        table_.scanFields([&](const std::vector<RawField>& raw, std::uint32_t rowPointer) {
            key.clear();
            for (std::size_t k = 0; k < colPos_.size(); ++k) {
                const ColumnDef& c = def_.columns[colPos_[k]];
                const RawField& rf = raw[colPos_[k]];
                if (rf.null && spec_.primary)
                    nullInPrimaryKey(c);
                encoder.appendColumn(key, c, phys_.columns[k].ascending, nullptr, &rf);
            }
            entries_.add(key, rowPointer >> 8, std::uint8_t(rowPointer));
            return true;
        });
    }

    void readKeysFromValues()
    {
        // Fixed-size columns key from their stored bytes as well.
        bool needRaw = false;
        for (const auto& ic : phys_.columns)
            if (const ColumnDef* c = def_.columnByNumber(ic.columnNumber); c && fixedValueSize(c->type))
                needRaw = true;
        table_.scan([&](const std::vector<Value>& values, std::uint32_t rowPointer) {
            if (spec_.primary)
                for (std::size_t k = 0; k < colPos_.size(); ++k)
                    if (values[colPos_[k]].isNull())
                        nullInPrimaryKey(def_.columns[colPos_[k]]);
            std::vector<std::uint8_t> rowBytes;
            std::vector<RawField> raw;
            if (needRaw) {
                rowBytes = storedRow(db_, rowPointer);
                raw = decodeRow(f_, def_, rowBytes.data(), std::uint32_t(rowBytes.size()));
            }
            entries_.add(rowIndexKey(f_, def_, phys_, values, needRaw ? &raw : nullptr), rowPointer >> 8,
                         std::uint8_t(rowPointer));
            return true;
        });
    }

    // Sorts the keys and counts the distinct ones; a unique index refuses
    // a repeated key (nulls aside).
    void countDistinctKeys()
    {
        entries_.sort();
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            auto k = entries_.key(i);
            bool same = false;
            if (i > 0) {
                auto prev = entries_.key(i - 1);
                same = prev.size() == k.size() && std::equal(k.begin(), k.end(), prev.begin());
            }
            if (!same)
                ++distinct_;
            else if (unique() && !isNullKey(k))
                duplicateKey(i - 1, i);
        }
    }

    // Names the two values Access finds equal (letter case aside, for
    // texts), so that the user can find the rows.
    [[noreturn]] void duplicateKey(std::size_t first, std::size_t second)
    {
        std::string values;
        try {
            const IndexEntry a = entries_.entry(first), b = entries_.entry(second);
            values = " (" + keyValuesText(db_, def_, colPos_, a.dataPage << 8 | a.dataRow) + " and " +
                     keyValuesText(db_, def_, colPos_, b.dataPage << 8 | b.dataRow) + ")";
        } catch (const std::exception&) {
        }
        throw Error(ErrorKind::Constraint, "The " + what_ + " " + quoted(spec_.name) +
                                               " cannot be created: the table holds duplicate values in its "
                                               "columns" + values);
    }

    // The tree's usage map is a new row beside the table's own map.
    void writeTree()
    {
        std::uint32_t mapPage = def_.ownedMap >> 8;
        phys_.usageMap = internals(db_).addMapRow(mapPage, UsageMap::emptyRow(f_));
        IndexStore store(db_, phys_.usageMap);
        phys_.firstPage = IndexTree::createEmpty(store, def_.page);
        IndexTree tree(store, def_.page, phys_.firstPage, spec_.name);
        tree.build(std::move(entries_), unique());
        phys_.distinctKeys = distinct_;
        def_.physicalIndexes.push_back(phys_);
    }

    LogicalIndexDef logicalIndex(std::size_t physical) const
    {
        LogicalIndexDef li;
        li.name = spec_.name;
        li.number = std::uint32_t(def_.logicalIndexes.size());
        li.physicalIndex = std::uint32_t(physical);
        li.type = spec_.primary ? kLogicalIndexPrimary : 0;
        if (spec_.foreignKey) {
            const ForeignKeyLink& fk = *spec_.foreignKey;
            li.type = kLogicalIndexForeign;
            li.relatedTableType = fk.referencedSide ? 1 : 2;
            li.relatedIndex = fk.otherIndex;
            li.relatedTablePage = fk.otherTablePage;
            li.cascadeUpdates = fk.cascadeUpdates ? 1 : 0;
            li.cascadeDeletes = fk.cascadeDeletes ? 1 : 0;
        }
        return li;
    }

    Database& db_;
    const Format& f_;
    Table& table_;
    TableDef def_;
    const IndexSpec& spec_;
    const std::string what_;
    PhysicalIndexDef phys_;
    std::vector<std::size_t> colPos_;  // the index's columns' places in the row
    PackedEntries entries_;
    std::uint32_t distinct_ = 0;
};

void createIndexImpl(Database& db, const std::string& tableName, const IndexSpec& spec)
{
    Table& table = db.table(tableName);
    // Entries still waiting for the table's trees count in the definition.
    table.flushIndexes();
    IndexCreation(db, table, spec).run();
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
