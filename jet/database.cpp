#include "jet/database.h"

#include "jet/bytes.h"
#include "jet/data_page.h"
#include "jet/error.h"
#include "jet/file_io.h"
#include "jet/header.h"
#include "jet/index_key.h"
#include "jet/index_tree.h"
#include "jet/pager.h"
#include "jet/relationships.h"
#include "jet/table_def.h"
#include "jet/text_codec.h"
#include "jet/usage_map.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>

namespace jet {

namespace {

constexpr int32_t kTablesContainer = 0x0F000001;
constexpr int16_t kObjectTable = 1;
constexpr uint32_t kSystemObjectFlags = 0x80000002u;

std::vector<uint8_t> readTableDefBytes(Pager& pager, const Format& f, uint32_t page)
{
    const uint8_t* p = pager.read(page);
    if (p[0] != kPageTableDef)
        throw Error(ErrorKind::Corrupt, "Page " + std::to_string(page) + " is not a table definition");
    std::vector<uint8_t> bytes(p, p + f.pageSize);
    uint32_t next = get32(p + 4);
    uint32_t guard = 0;
    while (next) {
        if (next >= pager.pageCount() || ++guard > 1000)
            throw Error(ErrorKind::Corrupt, "The table definition on page " + std::to_string(page) + " is damaged");
        const uint8_t* q = pager.read(next);
        if (q[0] != kPageTableDef)
            throw Error(ErrorKind::Corrupt, "The table definition on page " + std::to_string(page) + " is damaged");
        bytes.insert(bytes.end(), q + f.tdefContinuationStart, q + f.pageSize);
        next = get32(q + 4);
    }
    return bytes;
}

// Every page the file's tables claim: their definitions, the rows and map
// pages of their usage maps, and the pages those maps list. A table whose
// definition or map cannot be read claims what could be read.
std::vector<uint32_t> claimedPages(Pager& pager, const Format& f, const std::vector<CatalogEntry>& catalog)
{
    std::vector<uint32_t> out{0, 1, 2};
    auto addMap = [&](uint32_t rowPointer) {
        if (!rowPointer)
            return;
        try {
            out.push_back(rowPointer >> 8);
            std::vector<uint8_t> row = readRowAt(pager, f, rowPointer);
            if (!row.empty() && row[0] == 1)
                for (size_t k = 1; k + 4 <= row.size(); k += 4)
                    if (uint32_t mp = get32(row.data() + k))
                        out.push_back(mp);
            std::vector<uint32_t> pages = UsageMap(pager, f, rowPointer).pages();
            out.insert(out.end(), pages.begin(), pages.end());
        } catch (const Error&) {
        }
    };
    for (const CatalogEntry& e : catalog) {
        uint32_t page = e.tdefPage();
        if (e.type != kObjectTable || page < 2 || page >= pager.pageCount())
            continue;
        try {
            for (uint32_t next = page, guard = 0; next && next < pager.pageCount() && guard < 1000; ++guard) {
                out.push_back(next);
                next = get32(pager.read(next) + 4);
            }
            TableDef def = parseTableDef(f, readTableDefBytes(pager, f, page), page);
            addMap(def.ownedMap);
            addMap(def.freeMap);
            for (const ColumnDef& c : def.columns) {
                addMap(c.lvOwnedMap);
                addMap(c.lvFreeMap);
            }
            for (const PhysicalIndexDef& pi : def.physicalIndexes) {
                addMap(pi.usageMap);
                out.push_back(pi.firstPage);
            }
        } catch (const Error&) {
        }
    }
    return out;
}

DateTime now()
{
    const std::tm tm = localTime(std::time(nullptr));
    return DateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, 0};
}

} // namespace

Database::~Database()
{
    try {
        // A statement refused outside a transaction may have left changes
        // that no commit will take: they go with their journal.
        if (pager_ && pager_->writable() && (inTransaction_ || pager_->dirty()))
            rollback();
    } catch (...) {
    }
}

const std::string& Database::path() const { return pager_->path(); }

std::unique_ptr<Database> Database::open(const std::string& path, const OpenOptions& options)
{
    std::unique_ptr<Database> db = open(path, options.writable);
    if (options.maxFileSize > 0 && options.maxFileSize < db->pager_->maxFileSize())
        db->pager_->setMaxFileSize(options.maxFileSize);
    return db;
}

std::unique_ptr<Database> Database::open(const std::string& path, bool writable)
{
    std::unique_ptr<Database> db(new Database());
    db->pager_ = Pager::open(path, writable);
    db->format_ = db->pager_->pageSize() == 4096 ? &jet4Format() : &jet3Format();
    db->globalMap_ = std::make_unique<GlobalMap>(*db->pager_, *db->format_);
    // Page 0's obfuscated region also says whether a password protects the
    // file: such files cannot be opened.
    checkHeaderPage(*db->format_, db->pager_->read(0));
    const uint8_t* p2 = db->pager_->read(2);
    if (p2[0] != kPageTableDef)
        throw Error(ErrorKind::Corrupt, "'" + path + "' is damaged: its catalog is missing");
    db->loadCatalog();
    return db;
}

void Database::loadCatalog()
{
    catalog_.clear();
    // Tables already handed out stay valid objects: they re-read their
    // definitions (a rollback may have removed them).
    for (auto it = tables_.begin(); it != tables_.end();) {
        if (!it->second->reload()) {
            dropped_.push_back(std::move(it->second));
            it = tables_.erase(it);
        } else {
            ++it;
        }
    }
    if (!tables_.count(2)) {
        TableDef def = parseTableDef(*format_, readTableDefBytes(*pager_, *format_, 2), 2);
        tables_[2] = std::make_unique<Table>(*this, "MSysObjects", std::move(def));
    }
    Table* sys = tables_[2].get();
    const TableDef& d = sys->def();
    auto col = [&](const char* n) -> int {
        const ColumnDef* c = d.findColumn(n);
        return c ? int(c - d.columns.data()) : -1;
    };
    int cId = col("Id"), cParent = col("ParentId"), cName = col("Name"), cType = col("Type"), cFlags = col("Flags");
    if (cId < 0 || cParent < 0 || cName < 0 || cType < 0)
        throw Error(ErrorKind::Corrupt, "'" + path() + "' is damaged: its catalog lacks columns");
    sys->scan([&](const std::vector<Value>& v, uint32_t) {
        CatalogEntry e;
        e.id = v[size_t(cId)].isNull() ? 0 : int32_t(v[size_t(cId)].asInt());
        e.parentId = v[size_t(cParent)].isNull() ? 0 : int32_t(v[size_t(cParent)].asInt());
        e.name = v[size_t(cName)].isNull() ? std::string() : v[size_t(cName)].str();
        e.type = v[size_t(cType)].isNull() ? 0 : int16_t(v[size_t(cType)].asInt());
        e.flags = cFlags < 0 || v[size_t(cFlags)].isNull() ? 0 : uint32_t(v[size_t(cFlags)].asInt());
        catalog_.push_back(std::move(e));
        return true;
    });
    catalogLoaded_ = true;
}

const std::vector<CatalogEntry>& Database::catalog()
{
    if (!catalogLoaded_)
        loadCatalog();
    return catalog_;
}

std::vector<std::string> Database::tableNames(bool includeSystem)
{
    std::vector<std::string> out;
    for (const auto& e : catalog())
        if (e.type == kObjectTable && e.parentId == kTablesContainer &&
            (includeSystem || (e.flags & kSystemObjectFlags) == 0))
            out.push_back(e.name);
    return out;
}

bool Database::hasTable(const std::string& name)
{
    for (const auto& e : catalog())
        if (e.type == kObjectTable && e.parentId == kTablesContainer && sameName(e.name, name))
            return true;
    return false;
}

Table& Database::openTable(const CatalogEntry& e)
{
    uint32_t page = e.tdefPage();
    auto it = tables_.find(page);
    if (it != tables_.end())
        return *it->second;
    if (page < 2 || page >= pager_->pageCount())
        throw Error(ErrorKind::Corrupt, "The catalog entry of table '" + e.name + "' is damaged");
    TableDef def = parseTableDef(*format_, readTableDefBytes(*pager_, *format_, page), page);
    auto t = std::make_unique<Table>(*this, e.name, std::move(def));
    Table& ref = *t;
    tables_[page] = std::move(t);
    return ref;
}

Table& Database::table(const std::string& name)
{
    for (const auto& e : catalog())
        if (e.type == kObjectTable && e.parentId == kTablesContainer && sameName(e.name, name))
            return openTable(e);
    throw Error("The table '" + name + "' does not exist");
}

uint32_t Database::allocatePage()
{
    // Free pages inside the file come first; the file grows only when the
    // global map has none. A reused page is journaled like any other page
    // that existed before the transaction.
    if (uint32_t p = globalMap_->findFree()) {
        if (!globalMap_->claimsKnown())
            globalMap_->setClaims(bootstrap_ ? std::vector<uint32_t>{} : claimedPages(*pager_, *format_, catalog()));
        if (globalMap_->claimed(p))
            throwDamaged(path(), "its page map calls page " + std::to_string(p) + " free while a table uses it");
        std::memset(pager_->write(p), 0, format_->pageSize);
        globalMap_->markUsed(p);
        return p;
    }
    uint32_t p = pager_->allocate();
    globalMap_->markUsed(p);
    return p;
}

void Database::freePage(uint32_t page)
{
    uint8_t* p = pager_->write(page);
    std::memset(p, 0, format_->pageSize);
    globalMap_->markFree(page);
}

uint32_t Database::addMapRow(uint32_t& mapPage, const std::vector<uint8_t>& row)
{
    if (mapPage) {
        const uint8_t* p = data_page::checked(*pager_, *format_, mapPage);
        if (!data_page::fits(*format_, p, uint32_t(row.size())))
            mapPage = 0;
    }
    if (!mapPage) {
        mapPage = allocatePage();
        data_page::init(*format_, pager_->write(mapPage), 0);
    }
    uint16_t r = data_page::addRow(*format_, pager_->write(mapPage), row.data(), uint32_t(row.size()));
    return makeRowPointer(mapPage, uint8_t(r));
}

void Database::writeTableDef(TableDef& def, uint32_t firstPage)
{
    const Format& f = *format_;
    std::vector<uint8_t> body = serializeTableDef(f, def);
    uint32_t room = f.pageSize - 8;
    // Offset 8 of the first page holds the length counted from the page
    // start.
    put32(body.data(), uint32_t(body.size() + 8));
    std::vector<uint32_t> pages{firstPage};
    // Reuse the old continuation pages first.
    uint32_t next = get32(pager_->read(firstPage) + 4);
    std::vector<uint32_t> old;
    while (next && next < pager_->pageCount() && old.size() < 1000) {
        old.push_back(next);
        next = get32(pager_->read(next) + 4);
    }
    size_t chunks = (body.size() + room - 1) / room;
    for (size_t i = 1; i < chunks; ++i)
        pages.push_back(i - 1 < old.size() ? old[i - 1] : allocatePage());
    for (size_t i = chunks - 1; i < old.size(); ++i)
        freePage(old[i]);
    for (size_t i = 0; i < pages.size(); ++i) {
        uint8_t* p = pager_->write(pages[i]);
        std::memset(p, 0, f.pageSize);
        p[0] = kPageTableDef;
        p[1] = 0x01;
        size_t off = i * room;
        size_t len = std::min<size_t>(room, body.size() - off);
        std::memcpy(p + 8, body.data() + off, len);
        if (f.jet4())
            put16(p + 2, uint16_t(f.pageSize - 16 - len));
        else {
            p[2] = 'V';
            p[3] = 'C';
        }
        put32(p + 4, i + 1 < pages.size() ? pages[i + 1] : 0);
    }
}

void Database::updateTableDef(Table& table)
{
    table.flushHeader();
    writeTableDef(table.mutableDef(), table.def().page);
}

void Database::updateTableDef(const std::string& name, const TableDef& def)
{
    Table& t = table(name);
    t.flushHeader();
    t.mutableDef() = def;
    t.reloadTrees();
    writeTableDef(t.mutableDef(), t.def().page);
}

std::vector<uint8_t> Database::readDefinition(uint32_t page)
{
    return readTableDefBytes(*pager_, *format_, page);
}

void Database::checkName(const std::string& name, const char* what)
{
    std::u16string u;
    try {
        u = utf8ToUtf16(name);
    } catch (const Error&) {
        throw Error(std::string("The ") + what + " name '" + name + "' is invalid");
    }
    bool bad = u.empty() || u.size() > 64 || u[0] == u' ';
    for (char16_t c : u)
        if (c < 0x20 || c == '.' || c == '!' || c == '`' || c == '[' || c == ']')
            bad = true;
    if (bad)
        throw Error(std::string("The ") + what + " name '" + name + "' is invalid");
}

void Database::createTable(const std::string& name, const std::vector<ColumnSpec>& specs)
{
    asStatement([&] { createTableImpl(name, specs); });
}

void Database::dropTable(const std::string& name)
{
    // Relationships go first: no other table may keep an index pointing at
    // a table that is gone.
    dropRelationshipsOf(*this, name);
    asStatement([&] { dropTableImpl(name); });
}

template <class Fn> void Database::asStatement(Fn&& fn)
{
    // Outside a transaction a statement that fails part-way (a full disk,
    // the size limit) must not leave its first changes for the next commit.
    const bool outer = inTransaction_ || bootstrap_;
    try {
        fn();
    } catch (...) {
        if (!outer && pager_->dirty()) {
            try {
                rollback();
            } catch (...) {
            }
        }
        throw;
    }
}

void Database::createTableImpl(const std::string& name, const std::vector<ColumnSpec>& specs)
{
    const Format& f = *format_;
    checkName(name, "table");
    if (!bootstrap_ && hasTable(name))
        throw Error(ErrorKind::Constraint, "The table '" + name + "' already exists");
    if (specs.empty())
        throw Error("The table '" + name + "' has no columns");
    if (specs.size() > 255)
        throw Error("Too many columns in table '" + name + "' (at most 255)");
    if (!f.jet4())
        for (const auto& s : specs)
            if (!utf8ToCp1252(s.name))
                throw Error("The column name '" + s.name + "' is invalid in an Access 97 database");
    if (!f.jet4() && !utf8ToCp1252(name))
        throw Error("The table name '" + name + "' is invalid in an Access 97 database");

    TableDef def;
    def.tableType = kTableUser;
    if (f.jet4())
        def.jet4Unknown[0] = 0x01;
    uint16_t fixedOff = 0, varIdx = 0;
    for (size_t i = 0; i < specs.size(); ++i) {
        const ColumnSpec& s = specs[i];
        checkName(s.name, "column");
        for (size_t j = 0; j < i; ++j)
            if (sameName(specs[j].name, s.name))
                throw Error("The column '" + s.name + "' appears twice in table '" + name + "'");
        ColumnDef c;
        c.name = s.name;
        c.type = s.type;
        c.number = uint16_t(i);
        c.number2 = uint16_t(i);
        c.flags = kColNullable;
        switch (s.type) {
        case ColumnType::Boolean: c.length = 1; break;
        case ColumnType::Byte: c.length = 1; break;
        case ColumnType::Integer: c.length = 2; break;
        case ColumnType::Long: c.length = 4; break;
        case ColumnType::Currency:
        case ColumnType::Double:
        case ColumnType::DateTime: c.length = 8; break;
        case ColumnType::Single: c.length = 4; break;
        case ColumnType::Guid: c.length = 16; break;
        case ColumnType::Numeric:
            if (!f.jet4())
                throw Error("Decimal columns need an Access 2000 database");
            c.length = 17;
            c.precision = s.precision;
            c.scale = s.scale;
            break;
        case ColumnType::Text:
            c.length = uint16_t(f.jet4() ? s.length * 2 : s.length);
            break;
        case ColumnType::Binary: c.length = s.length; break;
        case ColumnType::Memo:
        case ColumnType::Ole: c.length = 0; break;
        }
        if (c.isText()) {
            c.sortOrder = 0x0409;
            if (f.jet4())
                c.extFlags = kColExtCompressed;
            else
                c.codePage = 1252;
        }
        bool fixed = s.type != ColumnType::Text && s.type != ColumnType::Binary && s.type != ColumnType::Memo &&
                     s.type != ColumnType::Ole;
        if (fixed) {
            c.flags |= kColFixed;
            if (s.type != ColumnType::Boolean) {
                c.fixedOffset = fixedOff;
                fixedOff = uint16_t(fixedOff + c.length);
            }
        } else {
            c.varIndex = varIdx++;
        }
        if (s.autoNumber)
            c.flags |= kColAutoNumber;
        // Access writes the General sort order into these bytes of every
        // Jet 4 column that has no precision of its own.
        if (f.jet4() && !c.isText() && c.type != ColumnType::Numeric) {
            c.precision = 0x09;
            c.scale = 0x04;
        }
        def.columns.push_back(std::move(c));
    }
    def.maxColumns = uint16_t(def.columns.size());

    uint32_t tdefPage = allocatePage();
    uint32_t mapPage = 0;
    def.page = tdefPage;
    def.ownedMap = addMapRow(mapPage, UsageMap::emptyRow(f));
    def.freeMap = addMapRow(mapPage, UsageMap::emptyRow(f));
    for (auto& c : def.columns)
        if (c.isLongValue()) {
            c.lvOwnedMap = addMapRow(mapPage, UsageMap::emptyRow(f));
            c.lvFreeMap = addMapRow(mapPage, UsageMap::emptyRow(f));
        }
    std::vector<uint8_t> probe = serializeTableDef(f, def);
    if (probe.size() > 64 * 1024)
        throw Error("The definition of table '" + name + "' is too large");
    writeTableDef(def, tdefPage);
    if (!bootstrap_) {
        addCatalogRows(name, tdefPage);
        statementDone();
    }
}

void Database::addCatalogRows(const std::string& name, uint32_t tdefPage)
{
    Table& objects = table("MSysObjects");
    const TableDef& od = objects.def();
    // The owner of new objects is the owner of MSysDb.
    Value owner;
    std::vector<std::pair<std::string, Value>> aces; // unused placeholder
    int cOwner = -1, cName = -1, cId = -1;
    for (size_t i = 0; i < od.columns.size(); ++i) {
        if (sameName(od.columns[i].name, "Owner")) cOwner = int(i);
        if (sameName(od.columns[i].name, "Name")) cName = int(i);
        if (sameName(od.columns[i].name, "Id")) cId = int(i);
    }
    if (cOwner >= 0)
        objects.scan([&](const std::vector<Value>& v, uint32_t) {
            if (!v[size_t(cName)].isNull() && v[size_t(cName)].str() == "MSysDb") {
                owner = v[size_t(cOwner)];
                return false;
            }
            return true;
        });
    (void)cId;
    DateTime t = now();
    std::vector<Value> row(od.columns.size());
    for (size_t i = 0; i < od.columns.size(); ++i) {
        const std::string& n = od.columns[i].name;
        if (sameName(n, "Id")) row[i] = Value::integer(int32_t(tdefPage));
        else if (sameName(n, "ParentId")) row[i] = Value::integer(kTablesContainer);
        else if (sameName(n, "Name")) row[i] = Value::text(name);
        else if (sameName(n, "Type")) row[i] = Value::integer(kObjectTable);
        else if (sameName(n, "Flags")) row[i] = Value::integer(0);
        else if (sameName(n, "DateCreate") || sameName(n, "DateUpdate")) row[i] = Value::date(t);
        else if (sameName(n, "Owner")) row[i] = owner;
    }
    objects.append(row);
    objects.flushHeader();
    CatalogEntry e;
    e.id = int32_t(tdefPage);
    e.parentId = kTablesContainer;
    e.name = name;
    e.type = kObjectTable;
    catalog_.push_back(e);

    // Access-control entries: the rights the Tables container gives to
    // its objects, for each of its SIDs.
    Table& aceTable = table("MSysACEs");
    const TableDef& ad = aceTable.def();
    int aObj = -1, aSid = -1, aAcm = -1, aInh = -1;
    for (size_t i = 0; i < ad.columns.size(); ++i) {
        const std::string& n = ad.columns[i].name;
        if (sameName(n, "ObjectId")) aObj = int(i);
        if (sameName(n, "SID")) aSid = int(i);
        if (sameName(n, "ACM")) aAcm = int(i);
        if (sameName(n, "FInheritable")) aInh = int(i);
    }
    if (aObj < 0 || aSid < 0 || aAcm < 0)
        return;
    std::vector<std::vector<Value>> newRows;
    aceTable.scan([&](const std::vector<Value>& v, uint32_t) {
        if (!v[size_t(aObj)].isNull() && v[size_t(aObj)].asInt() == kTablesContainer) {
            std::vector<Value> r = v;
            r[size_t(aObj)] = Value::integer(int32_t(tdefPage));
            if (aInh >= 0)
                r[size_t(aInh)] = Value::boolean(false);
            newRows.push_back(std::move(r));
        }
        return true;
    });
    for (auto& r : newRows)
        aceTable.append(r);
    aceTable.flushHeader();
}

void Database::dropTableImpl(const std::string& name)
{
    if (!hasTable(name))
        throw Error("The table '" + name + "' does not exist");
    Table& t = table(name);
    if (t.def().tableType == kTableSystem || name.rfind("MSys", 0) == 0)
        throw Error("The table '" + name + "' is a system table and cannot be dropped");
    const Format& f = *format_;
    TableDef def = t.def();
    std::string realName = t.name();

    // Catalog rows first (their index entries too), then the pages.
    auto removeRows = [&](Table& sys, const char* column, int32_t id) {
        const TableDef& sd = sys.def();
        const ColumnDef* c = sd.findColumn(column);
        if (!c)
            return;
        size_t ci = size_t(c - sd.columns.data());
        std::vector<std::pair<uint32_t, std::vector<Value>>> hits;
        sys.scan([&](const std::vector<Value>& v, uint32_t ptr) {
            if (!v[ci].isNull() && int32_t(v[ci].asInt()) == id)
                hits.emplace_back(ptr, v);
            return true;
        });
        for (auto& [ptr, values] : hits)
            sys.removeRow(ptr, values);
        sys.flushHeader();
    };
    removeRows(table("MSysObjects"), "Id", int32_t(def.page));
    if (hasTable("MSysACEs") || true) {
        for (const auto& e : catalog_)
            if (sameName(e.name, "MSysACEs")) {
                removeRows(openTable(e), "ObjectId", int32_t(def.page));
                break;
            }
    }

    // Free every page the table used.
    std::vector<uint32_t> pages;
    auto mapPages = [&](uint32_t rowPtr) {
        if (!rowPtr)
            return;
        for (uint32_t p : UsageMap(*pager_, f, rowPtr).pages())
            if (p < pager_->pageCount())
                pages.push_back(p);
    };
    mapPages(def.ownedMap);
    for (const auto& c : def.columns)
        mapPages(c.lvOwnedMap);
    for (const auto& pi : def.physicalIndexes) {
        mapPages(pi.usageMap);
        if (pi.firstPage)
            pages.push_back(pi.firstPage);
    }
    // Map rows are removed from their pages.
    std::vector<uint32_t> mapRows{def.ownedMap, def.freeMap};
    for (const auto& c : def.columns) {
        mapRows.push_back(c.lvOwnedMap);
        mapRows.push_back(c.lvFreeMap);
    }
    for (const auto& pi : def.physicalIndexes)
        mapRows.push_back(pi.usageMap);
    for (uint32_t r : mapRows) {
        if (!r || (r >> 8) >= pager_->pageCount())
            continue;
        // Reference maps own their map pages.
        const uint8_t* mp = data_page::checked(*pager_, f, r >> 8);
        auto [s, e] = data_page::rowBounds(f, mp, uint16_t(r & 0xFF));
        if (e - s < 5)
            throwDamaged(path(), "the usage map at page " + std::to_string(r >> 8) + " is broken");
        if (mp[s] == 1)
            for (uint32_t k = s + 1; k + 4 <= e; k += 4)
                if (uint32_t ref = get32(mp + k))
                    pages.push_back(ref);
        data_page::deleteRow(f, data_page::forChange(*pager_, f, r >> 8), uint16_t(r & 0xFF));
        // A map page left with no live rows goes too.
        const uint8_t* after = pager_->read(r >> 8);
        bool live = false;
        for (uint16_t k = 0; k < data_page::rowCount(f, after); ++k)
            if (!(data_page::rowOffsetRaw(f, after, k) & kRowDeleted))
                live = true;
        if (!live && (r >> 8) > 1)
            pages.push_back(r >> 8);
    }
    uint32_t next = def.page;
    while (next && next < pager_->pageCount()) {
        uint32_t after = get32(pager_->read(next) + 4);
        pages.push_back(next);
        next = after;
    }
    std::sort(pages.begin(), pages.end());
    pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
    for (uint32_t p : pages)
        if (p > 1)
            freePage(p);

    if (auto it = tables_.find(def.page); it != tables_.end()) {
        it->second->markDropped();
        dropped_.push_back(std::move(it->second));
        tables_.erase(it);
    }
    catalog_.erase(std::remove_if(catalog_.begin(), catalog_.end(),
                                  [&](const CatalogEntry& e) { return e.tdefPage() == def.page && e.type == kObjectTable; }),
                   catalog_.end());
    statementDone();
}

void Database::begin()
{
    if (inTransaction_)
        throw Error("A transaction is already active");
    inTransaction_ = true;
}

void Database::commit()
{
    try {
        for (auto& [page, t] : tables_)
            t->flushHeader();
        pager_->commit();
    } catch (...) {
        // A failed commit (disk full, I/O error) leaves the last commit:
        // forget everything this transaction changed in memory too.
        try {
            rollback();
        } catch (...) {
        }
        throw;
    }
    inTransaction_ = false;
}

bool Database::transactionIsLarge() const
{
    return pager_->pendingPages() * 4 >= pager_->cacheCap();
}

void Database::rollback()
{
    pager_->rollback();
    inTransaction_ = false;
    globalMap_->forget();
    catalogLoaded_ = false;
    loadCatalog();
}

void Database::statementDone()
{
    if (!inTransaction_) {
        commit();
        return;
    }
    // Inside a transaction headers and index trees wait for the commit; only
    // the page cache is kept in bounds here.
    pager_->releaseMemory();
}

} // namespace jet
