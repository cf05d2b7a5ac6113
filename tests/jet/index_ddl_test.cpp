// Index statements on real database files of both formats: primary keys,
// unique, composite and descending indexes made before and after loading
// rows, appends that keep them current, refused duplicates, dropped indexes.
#include "jet/checker.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/index_ddl.h"
#include "jet/index_store.h"
#include "jet/index_tree.h"
#include "jet/statement.h"
#include "readers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;
using namespace jet;

namespace {

class TempFile {
public:
    explicit TempFile(const std::string& name)
    {
        char buf[] = "/tmp/idx-ddl-XXXXXX";
        dir_ = mkdtemp(buf);
        path_ = dir_ + "/" + name;
    }
    ~TempFile() { fs::remove_all(dir_); }
    const std::string& path() const { return path_; }

private:
    std::string dir_, path_;
};

// Every physical index of the table: the tree passes its checks and holds
// exactly the entries its rows encode to; the distinct-key count agrees.
void expectIndexesMatchRows(Database& db, const std::string& tableName)
{
    Table& t = db.table(tableName);
    const TableDef& def = t.def();
    for (std::size_t pi = 0; pi < def.physicalIndexes.size(); ++pi) {
        const PhysicalIndexDef& idx = def.physicalIndexes[pi];
        std::vector<IndexEntry> want;
        t.scan([&](const std::vector<Value>& values, std::uint32_t ptr) {
            IndexEntry e;
            e.key = rowIndexKey(db.format(), def, idx, values);
            e.dataPage = ptr >> 8;
            e.dataRow = std::uint8_t(ptr);
            if (!((idx.flags & kIndexIgnoreNulls) && isNullKey(e.key)))
                want.push_back(std::move(e));
            return true;
        });
        std::sort(want.begin(), want.end(), [](auto& a, auto& b) { return compareEntries(a, b) < 0; });
        IndexStore store(db, idx.usageMap);
        IndexTree tree(store, def.page, idx.firstPage);
        IndexScan scan = tree.verify();
        ASSERT_EQ(scan.entries.size(), want.size()) << tableName << " index " << pi;
        for (std::size_t i = 0; i < want.size(); ++i) {
            ASSERT_EQ(scan.entries[i].key, want[i].key) << i;
            ASSERT_EQ(scan.entries[i].dataPage, want[i].dataPage) << i;
            ASSERT_EQ(scan.entries[i].dataRow, want[i].dataRow) << i;
        }
        EXPECT_EQ(idx.distinctKeys, countDistinctKeys(scan.entries)) << tableName << " index " << pi;
    }
}

void expectCheckPasses(const std::string& path)
{
    CheckReport r = checkDatabase(path);
    for (const auto& p : r.problems)
        ADD_FAILURE() << p;
}

std::string randomWord(std::mt19937& rng)
{
    static const char* words[] = {"Zürich", "zebra", "Éclair", "apple", "Apple", "ÆON", "straße", "Strasse",
                                  "naïve", "Ωmega", "东京", "日本語", "København", "a-b", "a b", "émile",
                                  "Ölkanne", "x", "", "  lead"};
    std::string s = words[rng() % 20];
    s += std::to_string(rng() % 1000);
    return s;
}

const char* formatName(Version v) { return v == Version::Jet3 ? "97" : "2000"; }

class IndexDdl : public ::testing::TestWithParam<Version> {};

}  // namespace

TEST_P(IndexDdl, KeysMadeAfterLoadingRowsThenKeptCurrent)
{
    registerIndexStatements();
    TempFile file(std::string("after") + formatName(GetParam()) + ".mdb");
    Database::create(file.path(), GetParam());
    {
        auto db = Database::open(file.path());
        execute(*db, "Create table [orders] ([id] long, [name] text(50), [amount] double, [paid] bit, [placed] datetime)");
        std::mt19937 rng(5);
        Table& t = db->table("orders");
        db->begin();
        for (int i = 0; i < 6000; ++i) {
            std::string name = randomWord(rng);
            if (GetParam() == Version::Jet3)  // code page 1252 only
                name = "w" + std::to_string(rng() % 5000);
            DateTime d;
            d.year = 1990 + int(rng() % 30);
            d.month = 1 + int(rng() % 12);
            d.day = 1 + int(rng() % 28);
            d.hour = int(rng() % 24);
            d.minute = int(rng() % 60);
            d.second = int(rng() % 60);
            t.append({Value::integer(i * 7 % 6000), i % 97 == 0 ? Value::null() : Value::text(name),
                      Value::real(double(int(rng() % 20000)) / 8 - 1000), Value::boolean(rng() % 2),
                      Value::date(d)});
        }
        db->commit();

        execute(*db, "alter table orders  add constraint PRIMARYorders1 primary key (id)");
        execute(*db, "create index idx_nameorders on orders (name DESC, amount)");
        execute(*db, "create index [idx paid] on [orders] ([paid], [placed] desc)");
        const TableDef& def = db->table("orders").def();
        ASSERT_EQ(def.logicalIndexes.size(), 3u);
        EXPECT_EQ(def.logicalIndexes[0].type, kLogicalIndexPrimary);
        EXPECT_EQ(def.physicalIndexes[0].flags & (kIndexUnique | kIndexRequired), kIndexUnique | kIndexRequired);
        EXPECT_EQ((def.physicalIndexes[0].flags & kIndexJet4Flag) != 0, GetParam() == Version::Jet4);
        EXPECT_FALSE(def.physicalIndexes[1].columns[0].ascending);
        expectIndexesMatchRows(*db, "orders");

        // Appends keep every index current; a duplicate key is refused and
        // leaves nothing behind.
        Table& t2 = db->table("orders");
        for (int i = 6000; i < 7000; ++i)
            t2.append({Value::integer(i), Value::text("late" + std::to_string(i)), Value::real(i), Value::boolean(true),
                       Value::null()});
        std::uint32_t rows = t2.rowCount();
        try {
            t2.append({Value::integer(42), Value::text("dup"), Value::real(1), Value::boolean(false), Value::null()});
            FAIL() << "duplicate primary key accepted";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("PRIMARYorders1"), std::string::npos) << e.what();
        }
        EXPECT_EQ(db->table("orders").rowCount(), rows);
        db->statementDone();
        expectIndexesMatchRows(*db, "orders");
    }
    expectCheckPasses(file.path());
    // The independent readers still read every row of the indexed table.
    if (readers::mdbtoolsAvailable()) {
        EXPECT_EQ(readers::mdbExport(file.path(), "orders").rows.size(), 7000u);
    }
    if (readers::mdbReaderAvailable()) {
        readers::ReaderResult r = readers::mdbReader(file.path(), {"orders"});
        ASSERT_NE(r.find("orders"), nullptr);
        EXPECT_EQ(r.find("orders")->rows.size(), 7000u);
        EXPECT_EQ(r.find("orders")->rowCount, 7000);
    }
}

TEST_P(IndexDdl, KeysMadeBeforeLoadingManyRows)
{
    registerIndexStatements();
    TempFile file(std::string("before") + formatName(GetParam()) + ".mdb");
    Database::create(file.path(), GetParam());
    {
        auto db = Database::open(file.path());
        execute(*db, "create table t (k long, code text(20), g guid, b binary(12), c currency, s short, y byte)");
        execute(*db, "alter table t add constraint pk primary key (k)");
        execute(*db, "create unique index ux on t (code)");
        execute(*db, "create index ix on t (g, b desc, c, s desc, y)");
        std::mt19937 rng(9);
        std::vector<int> keys(20000);
        for (int i = 0; i < 20000; ++i)
            keys[i] = i * 3 - 30000;
        std::shuffle(keys.begin(), keys.end(), rng);
        Table& t = db->table("t");
        db->begin();
        for (int i = 0; i < 20000; ++i) {
            char guid[64];
            std::snprintf(guid, sizeof guid, "{%08X-%04X-%04X-0000-%012X}", unsigned(rng()), unsigned(rng() % 65536),
                          unsigned(rng() % 65536), unsigned(i));
            std::string bin(std::size_t(rng() % 13), '\0');
            for (char& ch : bin)
                ch = char(rng());
            t.append({Value::integer(keys[i]), i % 50 == 0 ? Value::null() : Value::text("c" + std::to_string(keys[i])),
                      Value::guid(guid), Value::bytes(bin), Value::decimal(std::to_string(int(rng() % 100000) - 50000) + ".25"),
                      Value::integer(int(rng() % 60000) - 30000), Value::integer(int(rng() % 256))});
        }
        db->commit();
        expectIndexesMatchRows(*db, "t");
        IndexStore store(*db, db->table("t").def().physicalIndexes[0].usageMap);
        IndexTree pk(store, db->table("t").def().page, db->table("t").def().physicalIndexes[0].firstPage);
        EXPECT_GE(pk.verify().depth, 2u);

        // Unique text: case and trailing blanks do not make a key new.
        EXPECT_THROW(t.append({Value::integer(1), Value::text("C3  "), Value::null(), Value::null(), Value::null(),
                               Value::null(), Value::null()}),
                     Error);
        db->statementDone();
    }
    expectCheckPasses(file.path());
}

TEST_P(IndexDdl, ClearErrorsAndNothingLeftBehind)
{
    registerIndexStatements();
    TempFile file(std::string("errors") + formatName(GetParam()) + ".mdb");
    Database::create(file.path(), GetParam());
    auto db = Database::open(file.path());
    execute(*db, "create table t (a long, b text(10), c text(10), d long, o longbinary)");
    Table& t = db->table("t");
    t.append({Value::integer(1), Value::text("x"), Value::text("y"), Value::integer(5), Value::null()});
    t.append({Value::integer(2), Value::text("x"), Value::null(), Value::integer(5), Value::null()});
    db->statementDone();

    auto failsWith = [&](const std::string& stmt, const std::string& part) {
        try {
            execute(*db, stmt);
            ADD_FAILURE() << stmt << " succeeded";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << stmt << ": " << e.what();
        }
        EXPECT_TRUE(db->table("t").def().logicalIndexes.size() <= 1) << stmt;
    };
    failsWith("create index i1 on nosuch (a)", "nosuch");
    failsWith("create index i1 on t (zz)", "zz");
    failsWith("create index i1 on t (o)", "cannot be indexed");
    failsWith("create index i1 on t (a, a)", "twice");
    failsWith("create unique index u1 on t (b)", "duplicate");
    failsWith("alter table t add constraint pk primary key (c)", "null");
    failsWith("alter table t add constraint pk primary key (d)", "duplicate");
    failsWith("create index i1 on t (a, b, c, d, a, b, c, d, a, b, c)", "10 columns");
    failsWith("create index on t (a)", "");
    EXPECT_EQ(db->table("t").def().logicalIndexes.size(), 0u);

    execute(*db, "alter table t add constraint pk primary key (a)");
    failsWith("alter table t add constraint pk2 primary key (b)", "primary key");
    failsWith("create index PK on t (b)", "already has an index named");
    for (int i = 1; i < 32; ++i)
        execute(*db, "create index i" + std::to_string(i) + " on t (" + std::string(i % 2 ? "b" : "c") + ")");
    EXPECT_EQ(db->table("t").def().logicalIndexes.size(), 32u);
    // Indexes over the same columns share their pages.
    EXPECT_EQ(db->table("t").def().physicalIndexes.size(), 3u);
    try {
        execute(*db, "create index i33 on t (d)");
        ADD_FAILURE() << "33rd index accepted";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("32"), std::string::npos) << e.what();
    }
    expectIndexesMatchRows(*db, "t");

    // Dropping: a shared index keeps its pages until the last user goes.
    for (int i = 1; i < 32; ++i)
        execute(*db, "drop index i" + std::to_string(i) + " on t");
    EXPECT_EQ(db->table("t").def().logicalIndexes.size(), 1u);
    EXPECT_EQ(db->table("t").def().physicalIndexes.size(), 1u);
    EXPECT_THROW(execute(*db, "drop index i1 on t"), Error);
    expectIndexesMatchRows(*db, "t");
    db.reset();
    expectCheckPasses(file.path());
}

INSTANTIATE_TEST_SUITE_P(BothFormats, IndexDdl, ::testing::Values(Version::Jet3, Version::Jet4),
                         [](const auto& info) { return std::string(info.param == Version::Jet3 ? "Jet3" : "Jet4"); });
