// New databases: the engine's own system objects, built by the engine
// itself, so that the result is deterministic to the byte.
#include "jet/database.h"

#include "jet/bytes.h"
#include "jet/data_page.h"
#include "jet/error.h"
#include "jet/file_io.h"
#include "jet/header.h"
#include "jet/index_store.h"
#include "jet/index_tree.h"
#include "jet/pager.h"
#include "jet/table_def.h"
#include "jet/usage_map.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace jet {

namespace {

// 2015-11-21 22:40:30, the creation time the templates carry.
constexpr double kTemplateDate = 42329.944791666667;
const DateTime kTemplateDateTime{2015, 11, 21, 22, 40, 30, 0};

constexpr int32_t kRoot = 0x0F000000;
constexpr int32_t kTables = 0x0F000001;
constexpr int32_t kDatabases = 0x0F000002;
constexpr int32_t kRelationships = 0x0F000003;
constexpr int32_t kMSysDb = 0x10000000;

struct Col {
    const char* name;
    ColumnType type;
    uint16_t number;
    uint16_t varIndex;
    uint16_t fixedOffset;
    uint16_t chars; // text/binary size in characters/bytes
    bool fixed;
};

struct Idx {
    std::vector<uint16_t> columns;
    uint8_t flags;      // without the Jet 4 bit
    const char* name;
    uint8_t type;       // logical type
    uint32_t number;    // logical number
};

struct SysTable {
    const char* name;
    std::vector<Col> columns; // descriptor order (Jet 4); Jet 3 uses number order
    std::vector<Idx> indexes; // physical order
    std::vector<uint16_t> logicalOrder; // positions into indexes, as listed
};

std::vector<SysTable> systemTables(bool jet4)
{
    using T = ColumnType;
    std::vector<SysTable> v;
    v.push_back({"MSysObjects",
                 {{"Connect", T::Memo, 9, 3, 0, 0, false},
                  {"Database", T::Memo, 8, 2, 0, 0, false},
                  {"DateCreate", T::DateTime, 4, 0, 10, 0, true},
                  {"DateUpdate", T::DateTime, 5, 0, 18, 0, true},
                  {"Flags", T::Long, 7, 0, 26, 0, true},
                  {"ForeignName", T::Text, 10, 4, 0, 255, false},
                  {"Id", T::Long, 0, 0, 0, 0, true},
                  {"Lv", T::Ole, 13, 7, 0, 0, false},
                  {"LvExtra", T::Ole, 16, 10, 0, 0, false},
                  {"LvModule", T::Ole, 15, 9, 0, 0, false},
                  {"LvProp", T::Ole, 14, 8, 0, 0, false},
                  {"Name", T::Text, 2, 0, 0, 255, false},
                  {"Owner", T::Binary, 6, 1, 0, 255, false},
                  {"ParentId", T::Long, 1, 0, 4, 0, true},
                  {"RmtInfoLong", T::Ole, 12, 6, 0, 0, false},
                  {"RmtInfoShort", T::Binary, 11, 5, 0, 255, false},
                  {"Type", T::Integer, 3, 0, 8, 0, true}},
                 {{{1, 2}, 0x01, "ParentIdName", 0, 0}, {{0}, 0x01, "Id", 1, 1}},
                 {1, 0}});
    v.push_back({"MSysACEs",
                 {{"ACM", T::Long, 2, 0, 4, 0, true},
                  {"FInheritable", T::Boolean, 3, 0, 0, 0, true},
                  {"ObjectId", T::Long, 0, 0, 0, 0, true},
                  {"SID", T::Binary, 1, 0, 0, 255, false}},
                 {{{0}, 0x08, "ObjectId", 0, 0}},
                 {0}});
    SysTable q{"MSysQueries",
               {{"Attribute", T::Byte, 1, 0, 4, 0, true},
                {"Expression", T::Memo, 5, 3, 0, 0, false},
                {"Flag", T::Integer, 6, 0, 5, 0, true},
                {"LvExtra", T::Long, 7, 0, 7, 0, true},
                {"Name1", T::Text, 3, 1, 0, 255, false},
                {"Name2", T::Text, 4, 2, 0, 255, false},
                {"ObjectId", T::Long, 0, 0, 0, 0, true},
                {"Order", T::Binary, 2, 0, 0, 255, false}},
               {{{0, 1, 2}, 0x01, "ObjectIdAttribute", 1, 0}},
               {0}};
    if (!jet4)
        q.columns.erase(q.columns.begin() + 3); // Access 97 has no LvExtra here
    v.push_back(q);
    v.push_back({"MSysRelationships",
                 {{"ccolumn", T::Long, 2, 0, 4, 0, true},
                  {"grbit", T::Long, 1, 0, 0, 0, true},
                  {"icolumn", T::Long, 3, 0, 8, 0, true},
                  {"szColumn", T::Text, 5, 2, 0, 255, false},
                  {"szObject", T::Text, 4, 1, 0, 255, false},
                  {"szReferencedColumn", T::Text, 7, 4, 0, 255, false},
                  {"szReferencedObject", T::Text, 6, 3, 0, 255, false},
                  {"szRelationship", T::Text, 0, 0, 0, 255, false}},
                 {{{0}, 0x02, "szRelationship", 0, 0}, {{4}, 0x02, "szObject", 0, 1}, {{6}, 0x02, "szReferencedObject", 0, 2}},
                 {1, 2, 0}});
    if (!jet4)
        for (auto& t : v)
            std::stable_sort(t.columns.begin(), t.columns.end(),
                             [](const Col& a, const Col& b) { return a.number < b.number; });
    return v;
}

ColumnDef makeColumn(const Format& f, const Col& c)
{
    ColumnDef d;
    d.name = c.name;
    d.type = c.type;
    d.number = c.number;
    d.varIndex = c.varIndex;
    d.number2 = 0;
    d.fixedOffset = c.fixed ? c.fixedOffset : 0;
    d.flags = c.fixed ? 0x13 : (c.type == ColumnType::Binary && (std::strcmp(c.name, "Owner") == 0 ||
                                                                  std::strcmp(c.name, "SID") == 0)
                                    ? 0x32
                                    : 0x12);
    switch (c.type) {
    case ColumnType::Boolean: case ColumnType::Byte: d.length = 1; break;
    case ColumnType::Integer: d.length = 2; break;
    case ColumnType::Long: d.length = 4; break;
    case ColumnType::DateTime: d.length = 8; break;
    case ColumnType::Text: d.length = uint16_t(f.jet4() ? c.chars * 2 : c.chars); break;
    case ColumnType::Binary: d.length = c.chars; break;
    default: d.length = 0; break;
    }
    if (f.jet4()) {
        if (d.isText()) {
            d.sortOrder = 0x0409;
        } else {
            d.precision = 0x09;
            d.scale = 0x04;
        }
    } else {
        d.sortOrder = 0x0409;
        d.codePage = 1252;
    }
    return d;
}

} // namespace

struct TemplateBuilder {
    static void build(Database& db, Version version)
    {
        const Format& f = db.format();
        const bool jet4 = f.jet4();
        auto tables = systemTables(jet4);
        Pager& pager = db.pager();

        // Definition pages 2..5, then one page for every usage map.
        std::vector<uint32_t> tdefPages;
        for (size_t i = 0; i < tables.size(); ++i) {
            uint32_t p = db.allocatePage();
            uint8_t* pg = pager.write(p);
            pg[0] = kPageTableDef;
            pg[1] = 0x01;
            tdefPages.push_back(p);
        }
        uint32_t mapPage = 0;
        std::vector<TableDef> defs;
        for (size_t t = 0; t < tables.size(); ++t) {
            TableDef d;
            d.page = tdefPages[t];
            d.tableType = kTableSystem;
            for (const auto& c : tables[t].columns)
                d.columns.push_back(makeColumn(f, c));
            d.maxColumns = uint16_t(d.columns.size());
            d.ownedMap = db.addMapRow(mapPage, UsageMap::emptyRow(f));
            d.freeMap = db.addMapRow(mapPage, UsageMap::emptyRow(f));
            std::vector<ColumnDef*> lv;
            for (auto& c : d.columns)
                if (c.isLongValue())
                    lv.push_back(&c);
            std::stable_sort(lv.begin(), lv.end(), [](auto* a, auto* b) { return a->number < b->number; });
            for (auto* c : lv) {
                c->lvOwnedMap = db.addMapRow(mapPage, UsageMap::emptyRow(f));
                c->lvFreeMap = db.addMapRow(mapPage, UsageMap::emptyRow(f));
            }
            for (const auto& ix : tables[t].indexes) {
                PhysicalIndexDef pi;
                for (uint16_t cn : ix.columns)
                    pi.columns.push_back({cn, true});
                pi.flags = uint8_t(ix.flags | (jet4 ? kIndexJet4Flag : 0));
                pi.usageMap = db.addMapRow(mapPage, UsageMap::emptyRow(f));
                d.physicalIndexes.push_back(pi);
            }
            for (uint16_t k : tables[t].logicalOrder) {
                const Idx& ix = tables[t].indexes[k];
                LogicalIndexDef li;
                li.name = ix.name;
                li.number = ix.number;
                li.physicalIndex = k;
                li.type = ix.type;
                li.cascadeUpdates = 0x04;
                li.cascadeDeletes = 0x04;
                d.logicalIndexes.push_back(li);
            }
            defs.push_back(std::move(d));
        }
        // One empty leaf per index.
        for (auto& d : defs)
            for (auto& pi : d.physicalIndexes) {
                IndexStore store(db, pi.usageMap);
                pi.firstPage = IndexTree::createEmpty(store, d.page);
            }
        for (auto& d : defs)
            db.writeTableDef(d, d.page);
        db.bootstrap_ = false;
        db.catalogLoaded_ = false;
        db.loadCatalog();

        // The catalog rows of the engine's own objects.
        Table& objects = db.openTable(CatalogEntry{2, kTables, "MSysObjects", 1, 0});
        std::string ownerSys = jet4 ? std::string("\x65\x89", 2) : std::string("\x02\x03", 2);
        std::string ownerAdmin = jet4 ? std::string("\x64\x8b", 2) : std::string("\x03\x01", 2);
        struct Obj { int32_t id, parent; const char* name; int16_t type; bool admin; };
        const Obj objs[] = {{kTables, kRoot, "Tables", 3, false},
                            {kDatabases, kRoot, "Databases", 3, false},
                            {kRelationships, kRoot, "Relationships", 3, false},
                            {kMSysDb, kDatabases, "MSysDb", 2, true},
                            {int32_t(tdefPages[0]), kTables, "MSysObjects", 1, false},
                            {int32_t(tdefPages[1]), kTables, "MSysACEs", 1, false},
                            {int32_t(tdefPages[2]), kTables, "MSysQueries", 1, false},
                            {int32_t(tdefPages[3]), kTables, "MSysRelationships", 1, false}};
        const TableDef& od = objects.def();
        for (const Obj& o : objs) {
            std::vector<Value> row(od.columns.size());
            for (size_t i = 0; i < od.columns.size(); ++i) {
                const std::string& n = od.columns[i].name;
                if (n == "Id") row[i] = Value::integer(o.id);
                else if (n == "ParentId") row[i] = Value::integer(o.parent);
                else if (n == "Name") row[i] = Value::text(o.name);
                else if (n == "Type") row[i] = Value::integer(o.type);
                else if (n == "Flags") row[i] = Value::integer(int32_t(0x80000000u));
                else if (n == "DateCreate" || n == "DateUpdate") row[i] = Value::date(kTemplateDateTime);
                else if (n == "Owner") row[i] = Value::bytes(o.admin ? ownerAdmin : ownerSys);
            }
            objects.append(row);
        }
        objects.flushHeader();

        Table& aces = db.openTable(CatalogEntry{int32_t(tdefPages[1]), kTables, "MSysACEs", 1, 0});
        std::string admins = jet4 ? std::string("\x64\x8b", 2) : std::string("\x03\x01", 2);
        std::string users = jet4 ? std::string("\x65\x8e", 2) : std::string("\x02\x04", 2);
        std::string guests = jet4 ? std::string("\x65\x8b", 2) : std::string("\x02\x01", 2);
        struct Ace { int32_t obj; const std::string* sid; int32_t acm; bool inherit; };
        const Ace list[] = {{int32_t(tdefPages[0]), &admins, 393216, false},
                            {int32_t(tdefPages[1]), &admins, 393216, false},
                            {int32_t(tdefPages[2]), &admins, 393216, false},
                            {int32_t(tdefPages[3]), &admins, 917504, false},
                            {kTables, &users, 983294, true},
                            {kTables, &admins, 393217, false},
                            {kRelationships, &users, 983294, true},
                            {kRelationships, &admins, 393217, false},
                            {kDatabases, &admins, 393216, false},
                            {kMSysDb, &admins, 393230, false},
                            {kMSysDb, &guests, 14, false},
                            {int32_t(tdefPages[2]), &guests, 20, false},
                            {int32_t(tdefPages[3]), &guests, 20, false},
                            {int32_t(tdefPages[0]), &guests, 20, false},
                            {kTables, &guests, 1048319, true},
                            {kRelationships, &guests, 1048575, true}};
        const TableDef& ad = aces.def();
        for (const Ace& a : list) {
            std::vector<Value> row(ad.columns.size());
            for (size_t i = 0; i < ad.columns.size(); ++i) {
                const std::string& n = ad.columns[i].name;
                if (n == "ObjectId") row[i] = Value::integer(a.obj);
                else if (n == "SID") row[i] = Value::bytes(*a.sid);
                else if (n == "ACM") row[i] = Value::integer(a.acm);
                else if (n == "FInheritable") row[i] = Value::boolean(a.inherit);
            }
            aces.append(row);
        }
        aces.flushHeader();
        (void)version;
    }
};

std::vector<uint8_t> Database::templateBytes(Version version)
{
    const Format& f = formatFor(version);
    const std::string dir = makeTempFolder("jet-template");
    if (dir.empty())
        throw Error(ErrorKind::Io, "Cannot create a temporary folder for a new database");
    std::string path = dir + "/new.mdb";
    std::vector<uint8_t> bytes;
    try {
        // Page 0 and the global map page; everything else is built by the
        // engine on top.
        std::vector<uint8_t> image = buildHeaderPage(f, kTemplateDate);
        std::vector<uint8_t> p1(f.pageSize, 0);
        data_page::init(f, p1.data(), 1);
        std::vector<uint8_t> global = UsageMap::emptyRow(f);
        std::memset(global.data() + 5, 0xFF, global.size() - 5);
        global[5] &= 0xFC; // pages 0 and 1
        data_page::addRow(f, p1.data(), global.data(), uint32_t(global.size()));
        std::vector<uint8_t> spare = UsageMap::emptyRow(f);
        data_page::addRow(f, p1.data(), spare.data(), uint32_t(spare.size()));
        image.insert(image.end(), p1.begin(), p1.end());
        {
            std::unique_ptr<Database> db(new Database());
            db->pager_ = Pager::create(path, f.pageSize, image);
            db->format_ = &f;
            db->globalMap_ = std::make_unique<GlobalMap>(*db->pager_, f);
            db->bootstrap_ = true;
            db->inTransaction_ = true;
            TemplateBuilder::build(*db, version);
            db->commit();
        }
        // Read back through the engine's own calls: the temporary folder's
        // path may hold any character.
        int fd = openDatabaseFile(path, false);
        FileStatus st;
        bool read = fileStatus(fd, st);
        if (read) {
            bytes.resize(st.size);
            read = readAll(fd, bytes.data(), bytes.size(), 0);
        }
        closeFile(fd);
        if (!read)
            throw sysError("Cannot read", path, errno ? errno : EIO);
    } catch (...) {
        removeFile(path);
        removeFile(path + "-journal");
        removeFolder(dir);
        throw;
    }
    removeFile(path);
    removeFolder(dir);
    // A new Access 97 file is 20 pages long: the two after the system
    // objects are free, and the global map already marks them so (every
    // bit past the last used page is set). The first allocations take them.
    if (!f.jet4() && bytes.size() < 20u * f.pageSize)
        bytes.resize(20u * f.pageSize, 0);
    return bytes;
}

void Database::create(const std::string& path, Version version)
{
    std::vector<uint8_t> bytes = templateBytes(version);
    auto pager = Pager::create(path, formatFor(version).pageSize, bytes);
    (void)pager;
}

} // namespace jet
