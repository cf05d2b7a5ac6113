// The engine against real files: new databases of both formats, every
// column type with edge values, the Access-made fixtures, statements,
// and crash safety of commits.
#include "jet/checker.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/pager.h"
#include "jet/row_set.h"
#include "jet/statement.h"
#include "readers.h"

#include <gtest/gtest.h>
#include "fixtures.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace jet;

namespace {

const std::string kFixtures = fixtures::dir();

class TempDir {
public:
    TempDir()
    {
        char buf[] = "/tmp/jet-test-XXXXXX";
        path_ = mkdtemp(buf);
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string fmtName(Version v) { return v == Version::Jet4 ? "jet4" : "jet3"; }

class BothFormats : public ::testing::TestWithParam<Version> {};

std::string readAllText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

TEST_P(BothFormats, NewDatabaseIsDeterministicAndReadable)
{
    TempDir dir;
    std::string a = dir.file("a.mdb"), b = dir.file("b.mdb");
    Database::create(a, GetParam());
    Database::create(b, GetParam());
    std::string bytes = readAllText(a);
    EXPECT_EQ(bytes, readAllText(b));
    ASSERT_GE(bytes.size(), 24u);
    EXPECT_EQ(bytes.substr(4, 16), std::string("Standard Jet DB\0", 16));
    EXPECT_EQ(bytes[20], GetParam() == Version::Jet4 ? 1 : 0);
    EXPECT_THROW(Database::create(a, GetParam()), Error); // never overwrites

    auto report = checkDatabase(a);
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
    auto db = Database::open(a, false);
    EXPECT_TRUE(db->tableNames().empty());
    auto sys = db->tableNames(true);
    EXPECT_EQ(sys, (std::vector<std::string>{"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"}));
    EXPECT_EQ(db->table("msysobjects").rowCount(), 8u);
    if (readers::mdbtoolsAvailable()) {
        auto t = readers::mdbTables(a, true);
        EXPECT_NE(std::find(t.begin(), t.end(), "MSysObjects"), t.end());
    }
    if (readers::mdbReaderAvailable()) {
        auto r = readers::mdbReader(a, {}, true);
        const auto* objects = r.find("MSysObjects");
        ASSERT_NE(objects, nullptr);
        EXPECT_EQ(objects->rows.size(), 8u);
    }
}

TEST_P(BothFormats, EveryTypeAndEdgeValueReadsBack)
{
    TempDir dir;
    std::string path = dir.file("types.mdb");
    Database::create(path, GetParam());
    const bool jet4 = GetParam() == Version::Jet4;
    {
        auto db = Database::open(path);
        std::string ddl = "Create table [All Types] (\r\n[id] counter , [l] int , [s] short , [b] byte , [y] bit , "
                          "[f] single , [d] double , [c] currency , [t] date , [x] text(255) , [m] Memo , [o] OleObject , "
                          "[bin] binary(16) , [g] guid";
        ddl += jet4 ? " , [n] decimal(28,4))" : ")";
        execute(*db, ddl);
        auto rs = openQuery(*db, "select * from [all types] where 1=0");
        db->begin();
        std::string big(2 * 1024 * 1024, '\0');
        for (size_t i = 0; i < big.size(); ++i)
            big[i] = char(i * 7 + 3);
        std::string text255(255, 'z');
        std::string nonBmp = jet4 ? "\xF0\x9F\x98\x80 \xE6\x97\xA5\xE6\x9C\xAC" : "caf\xC3\xA9";
        struct RowVals {
            Value l, x, m, o, t, c, n;
        };
        std::vector<RowVals> rows = {
            {Value::integer(INT32_MAX), Value::text(""), Value::text(""), Value::bytes(std::string()),
             Value::date({1899, 12, 29, 6, 0, 0, 0}), Value::decimal("922337203685477.5807"),
             Value::decimal("999999999999999999999999.9999")},
            {Value::integer(INT32_MIN), Value::text(text255), Value::text(std::string(60, 'a')),
             Value::bytes(std::string(60, '\x01')), Value::date({1800, 5, 6, 13, 14, 15, 0}),
             Value::decimal("-922337203685477.5808"), Value::decimal("-999999999999999999999999.9999")},
            {Value::integer(0), Value::text(nonBmp), Value::text(std::string(5000, 'q')),
             Value::bytes(std::string(5 * 1024, '\x02')), Value::date({9999, 12, 31, 23, 59, 59, 0}),
             Value::decimal("0"), Value::decimal("1.5")},
            {Value::integer(7), Value::text("x"), Value::bytes(big.substr(0, 70000)), Value::bytes(big),
             Value::date({2024, 2, 29, 0, 0, 1, 0}), Value::real(1.25), Value::integer(3)},
        };
        for (const auto& r : rows) {
            rs->append();
            rs->setField("L", r.l);
            rs->setField("X", r.x);
            rs->setField("m", r.m.kind() == Value::Kind::Bytes ? Value::text(std::string(70000, 'M')) : r.m);
            rs->setField("o", r.o);
            rs->setField("t", r.t);
            rs->setField("c", r.c);
            if (jet4)
                rs->setField("n", r.n);
            if (r.l.asInt() == 7) {
                rs->setField("g", Value::guid("{6B29FC40-CA47-1067-B31D-00DD010662DA}"));
                rs->setField("bin", Value::bytes(std::string("\x00\x01\xFF", 3)));
                rs->setField("f", Value::real(-1.5));
                rs->setField("b", Value::integer(255));
                rs->setField("s", Value::integer(-32768));
                rs->setField("y", Value::boolean(true));
            }
            rs->post();
        }
        // A row with nothing set: every column null (the counter draws).
        rs->append();
        rs->post();
        // Values a column cannot hold name the column and change nothing.
        rs->append();
        try {
            rs->setField("s", Value::integer(40000));
            FAIL();
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("'s'"), std::string::npos);
        }
        EXPECT_THROW(rs->setField("x", Value::text(std::string(256, 'a'))), Error);
        EXPECT_THROW(rs->setField("nope", Value::integer(1)), Error);
        if (!jet4) {
            EXPECT_THROW(rs->setField("x", Value::text("\xE6\x97\xA5")), Error); // not in code page 1252
        }
        rs->cancel();
        db->commit();
    }
    auto report = checkDatabase(path);
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
    auto db = Database::open(path, false);
    Table& t = db->table("ALL TYPES");
    auto rows = t.readAll();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(t.rowCount(), 5u);
    auto col = [&](const char* name) {
        auto order = t.def().columnsInOrder();
        for (size_t i = 0; i < order.size(); ++i)
            if (order[i]->name == name)
                return i;
        return size_t(999);
    };
    EXPECT_EQ(rows[0][col("id")].asInt(), 1);
    EXPECT_EQ(rows[4][col("id")].asInt(), 5);
    EXPECT_EQ(rows[0][col("l")].asInt(), INT32_MAX);
    EXPECT_EQ(rows[1][col("l")].asInt(), INT32_MIN);
    EXPECT_EQ(rows[0][col("x")].str(), "");
    EXPECT_EQ(rows[1][col("x")].str(), std::string(255, 'z'));
    EXPECT_EQ(rows[2][col("x")].str(), jet4 ? "\xF0\x9F\x98\x80 \xE6\x97\xA5\xE6\x9C\xAC" : "caf\xC3\xA9");
    EXPECT_EQ(rows[0][col("m")].str(), "");
    EXPECT_EQ(rows[1][col("m")].str(), std::string(60, 'a'));
    EXPECT_EQ(rows[2][col("m")].str(), std::string(5000, 'q'));
    EXPECT_EQ(rows[3][col("m")].str(), std::string(70000, 'M'));
    EXPECT_EQ(rows[0][col("o")].str(), "");
    EXPECT_EQ(rows[2][col("o")].str(), std::string(5 * 1024, '\x02'));
    EXPECT_EQ(rows[3][col("o")].str().size(), 2u * 1024 * 1024);
    EXPECT_EQ(rows[3][col("o")].str()[12345], char(12345 * 7 + 3));
    EXPECT_EQ(rows[0][col("t")].asDate(), (DateTime{1899, 12, 29, 6, 0, 0, 0}));
    EXPECT_EQ(rows[1][col("t")].asDate(), (DateTime{1800, 5, 6, 13, 14, 15, 0}));
    EXPECT_EQ(rows[0][col("c")].str(), "922337203685477.5807");
    EXPECT_EQ(rows[1][col("c")].str(), "-922337203685477.5808");
    EXPECT_EQ(rows[3][col("c")].str(), "1.2500");
    if (jet4) {
        EXPECT_EQ(rows[0][col("n")].str(), "999999999999999999999999.9999");
        EXPECT_EQ(rows[1][col("n")].str(), "-999999999999999999999999.9999");
    }
    EXPECT_EQ(rows[3][col("g")].str(), "{6B29FC40-CA47-1067-B31D-00DD010662DA}");
    EXPECT_EQ(rows[3][col("bin")].str(), std::string("\x00\x01\xFF", 3));
    EXPECT_EQ(rows[3][col("f")].asDouble(), -1.5);
    EXPECT_EQ(rows[3][col("b")].asInt(), 255);
    EXPECT_EQ(rows[3][col("s")].asInt(), -32768);
    EXPECT_TRUE(rows[3][col("y")].asBool());
    EXPECT_FALSE(rows[2][col("y")].asBool());
    for (size_t i = 1; i < rows[4].size(); ++i)
        if (t.def().columnsInOrder()[i]->type != ColumnType::Boolean) {
            EXPECT_TRUE(rows[4][i].isNull()) << i;
        }

    if (readers::mdbtoolsAvailable()) {
        auto ex = readers::mdbExport(path, "All Types");
        ASSERT_EQ(ex.rows.size(), 5u);
        // mdb-export shows an empty text as NULL and no dates before 1899-12-30.
        EXPECT_EQ(ex.rows[1][col("x")], std::string(255, 'z'));
        EXPECT_EQ(ex.rows[2][col("m")], std::string(5000, 'q'));
    }
    if (readers::mdbReaderAvailable()) {
        auto r = readers::mdbReader(path, {"All Types"});
        const auto* rt = r.find("All Types");
        ASSERT_NE(rt, nullptr);
        EXPECT_EQ(rt->rowCount, 5);
        ASSERT_EQ(rt->rows.size(), 5u);
        EXPECT_EQ(rt->rows[1][col("x")], std::string(255, 'z'));
        EXPECT_EQ(rt->rows[3][col("m")], std::string(70000, 'M'));
        EXPECT_EQ(rt->rows[3][col("bin")], std::string("0001FF"));
        EXPECT_EQ(rt->rows[3][col("y")], std::string("1"));
        EXPECT_EQ(rt->rows[3][col("b")], std::string("255"));
    }
}

TEST_P(BothFormats, StatementsAndErrors)
{
    TempDir dir;
    std::string path = dir.file("s.mdb");
    Database::create(path, GetParam());
    auto db = Database::open(path);
    execute(*db, "Create table [T1] ([a] int , [b] text(10))");
    EXPECT_NO_THROW(openQuery(*db, "Select 1 from [t1] where 1=0"));
    EXPECT_THROW(openQuery(*db, "Select 1 from [T2] where 1=0"), Error);
    auto rs = openQuery(*db, "select * from [T1] where 1=0");
    EXPECT_EQ(rs->columnNames(), (std::vector<std::string>{"a", "b"}));
    auto message = [&](const std::string& sql) {
        try {
            execute(*db, sql);
        } catch (const Error& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_NE(message("Create table [t1] ([a] int)").find("already exists"), std::string::npos);
    EXPECT_NE(message("drop table [nope]").find("does not exist"), std::string::npos);
    EXPECT_NE(message("Create table [T3] ([a] int , [b] text(256))").find("out of range"), std::string::npos);
    EXPECT_NE(message("Create table [T3] ([a] int , [A] int)").find("twice"), std::string::npos);
    EXPECT_NE(message("Create table [T3] ([a] frobnicate)").find("Syntax error"), std::string::npos);
    EXPECT_NE(message("Create table [a.b] ([a] int)").find("invalid"), std::string::npos);
    EXPECT_NE(message("Create table [" + std::string(65, 'n') + "] ([a] int)").find("invalid"), std::string::npos);
    std::string many = "Create table [Wide] (";
    for (int i = 0; i < 256; ++i)
        many += (i ? " , [c" : "[c") + std::to_string(i) + "] int";
    EXPECT_NE(message(many + ")").find("Too many columns"), std::string::npos);
    EXPECT_EQ(db->tableNames(), std::vector<std::string>{"T1"});

    // Dropping frees the name and the catalog rows.
    rs->append();
    rs->setField("A", Value::integer(5));
    rs->post();
    execute(*db, "drop table [t1]");
    EXPECT_TRUE(db->tableNames().empty());
    EXPECT_EQ(db->table("MSysObjects").rowCount(), 8u);
    EXPECT_EQ(db->table("MSysACEs").rowCount(), 16u);
    execute(*db, "Create table [T1] ([a] int)");
    EXPECT_EQ(db->tableNames(), std::vector<std::string>{"T1"});
    if (readers::mdbtoolsAvailable()) {
        EXPECT_EQ(readers::mdbTables(path), std::vector<std::string>{"T1"});
    }
    db.reset();
    auto report = checkDatabase(path);
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
}

INSTANTIATE_TEST_SUITE_P(Formats, BothFormats, ::testing::Values(Version::Jet3, Version::Jet4),
                         [](const auto& info) { return fmtName(info.param); });

TEST(Fixtures, EveryTableReadsLikeMdbExport)
{
    if (!readers::mdbtoolsAvailable())
        GTEST_SKIP() << "mdbtools missing";
    for (const char* sub : {"jet3", "jet4"})
        for (const auto& entry : fs::directory_iterator(kFixtures + "/" + sub)) {
            std::string path = entry.path().string();
            auto db = Database::open(path, false);
            for (const auto& name : db->tableNames()) {
                SCOPED_TRACE(path + " " + name);
                auto rows = db->table(name).readAll();
                auto ex = readers::mdbExport(path, name);
                EXPECT_EQ(rows.size(), ex.rows.size());
            }
        }
}

TEST(Fixtures, AppendToAccessMadeTables)
{
    TempDir dir;
    for (const char* file : {"jet3/testV1997.mdb", "jet4/testPromotionV2000.mdb", "jet4/delColTestV2000.mdb",
                             "jet3/delColTestV1997.mdb"}) {
        SCOPED_TRACE(file);
        std::string path = dir.file(fs::path(file).filename().string());
        fs::copy_file(kFixtures + "/" + file, path);
        std::map<std::string, size_t> before;
        {
            auto db = Database::open(path);
            for (const auto& name : db->tableNames()) {
                Table& t = db->table(name);
                before[name] = t.readAll().size();
                if (!t.def().physicalIndexes.empty())
                    continue; // index upkeep belongs to the index tests
                auto rs = openQuery(*db, "select * from [" + name + "] where 1=0");
                rs->append();
                rs->post();
                before[name] += 1;
            }
        }
        auto report = checkDatabase(path);
        EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
        auto db = Database::open(path, false);
        for (const auto& [name, n] : before) {
            EXPECT_EQ(db->table(name).readAll().size(), n) << name;
            if (readers::mdbtoolsAvailable()) {
                EXPECT_EQ(readers::mdbExport(path, name).rows.size(), n) << name;
            }
        }
    }
}

TEST(Files, DamagedAndForeignFilesGetClearErrors)
{
    TempDir dir;
    std::string junk = dir.file("junk.mdb");
    std::ofstream(junk) << "hello, this is not a database at all";
    EXPECT_THROW(Database::open(junk, false), Error);
    EXPECT_THROW(Database::open(dir.file("missing.mdb"), false), Error);
    std::string later = dir.file("later.mdb");
    std::string bytes = readAllText(kFixtures + "/jet4/adox_jet4.mdb");
    bytes[20] = 3;
    std::ofstream(later, std::ios::binary) << bytes;
    EXPECT_THROW(Database::open(later, false), Error);
}

TEST(Files, SecondWriterIsRefused)
{
    TempDir dir;
    std::string path = dir.file("lock.mdb");
    Database::create(path, Version::Jet4);
    auto first = Database::open(path);
    try {
        auto second = Database::open(path);
        FAIL() << "second writer accepted";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("in use"), std::string::npos);
    }
}

TEST(Files, RollbackLeavesLastCommit)
{
    TempDir dir;
    std::string path = dir.file("tx.mdb");
    Database::create(path, Version::Jet4);
    auto db = Database::open(path);
    execute(*db, "Create table [T] ([a] int , [m] memo)");
    auto rs = openQuery(*db, "select * from [T] where 1=0");
    db->begin();
    for (int i = 0; i < 10; ++i) {
        rs->append();
        rs->setField("a", Value::integer(i));
        rs->post();
    }
    db->commit();
    db->begin();
    for (int i = 0; i < 3000; ++i) {
        rs->append();
        rs->setField("a", Value::integer(i));
        rs->setField("m", Value::text(std::string(3000, 'x')));
        rs->post();
    }
    db->rollback();
    EXPECT_EQ(db->table("T").readAll().size(), 10u);
}

// A writer killed at random moments: every outcome opens with exactly the
// rows of some commit (a multiple of the batch size).
TEST(Files, KilledWriterLeavesACommittedState)
{
    TempDir dir;
    std::mt19937 rng(12345);
    for (int round = 0; round < 6; ++round) {
        std::string path = dir.file("kill" + std::to_string(round) + ".mdb");
        Database::create(path, round % 2 ? Version::Jet3 : Version::Jet4);
        {
            auto db = Database::open(path);
            execute(*db, "Create table [T] ([a] int , [b] text(50) , [m] memo)");
        }
        pid_t pid = fork();
        if (pid == 0) {
            try {
                auto db = Database::open(path);
                Table& t = db->table("T");
                for (int batch = 0;; ++batch) {
                    db->begin();
                    for (int i = 0; i < 100; ++i)
                        t.append({Value::integer(batch * 100 + i), Value::text("row"),
                                  Value::text(std::string(size_t(i * 37), 'm'))});
                    db->commit();
                }
            } catch (...) {
            }
            _exit(0);
        }
        usleep(useconds_t(20000 + rng() % 200000));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        auto db = Database::open(path);
        size_t n = db->table("T").readAll().size();
        EXPECT_EQ(n % 100, 0u) << "round " << round;
        EXPECT_EQ(db->table("T").rowCount(), n);
        db.reset();
        auto report = checkDatabase(path);
        EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
        if (readers::mdbtoolsAvailable()) {
            EXPECT_EQ(readers::mdbExport(path, "T").rows.size(), n);
        }
    }
}

// Rows appended to indexed tables that Access made go into every index.
TEST(Fixtures, AppendToIndexedAccessTables)
{
    TempDir dir;
    for (const char* file : {"jet4/indexTestV2000.mdb", "jet3/indexTestV1997.mdb", "jet4/compIndexTestV2000.mdb"}) {
        SCOPED_TRACE(file);
        std::string path = dir.file(fs::path(file).filename().string());
        fs::copy_file(kFixtures + "/" + file, path);
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
        std::map<std::string, size_t> expected;
        {
            auto db = Database::open(path);
            db->begin();
            for (const auto& name : db->tableNames()) {
                Table& t = db->table(name);
                auto rows = t.readAll();
                expected[name] = rows.size();
                if (t.def().physicalIndexes.empty() || rows.empty())
                    continue;
                // The first row again, with its numbers and texts changed so
                // that unique keys stay unique.
                auto order = t.def().columnsInOrder();
                std::vector<Value> v(t.def().columns.size());
                for (size_t i = 0; i < order.size(); ++i) {
                    size_t pos = size_t(order[i] - t.def().columns.data());
                    v[pos] = rows[0][i];
                    if (order[i]->type == ColumnType::Long && !v[pos].isNull())
                        v[pos] = Value::integer(v[pos].asInt() + 100000);
                    if (order[i]->type == ColumnType::Text && !v[pos].isNull())
                        v[pos] = Value::text(v[pos].str() + "zz");
                }
                t.append(v);
                expected[name] += 1;
            }
            db->commit();
        }
        auto report = checkDatabase(path);
        EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
        auto db = Database::open(path, false);
        for (const auto& [name, n] : expected) {
            EXPECT_EQ(db->table(name).readAll().size(), n) << name;
            if (readers::mdbtoolsAvailable()) {
                EXPECT_EQ(readers::mdbExport(path, name).rows.size(), n) << name;
            }
        }
    }
}

// A row that repeats a unique key is refused and leaves nothing behind.
TEST(Fixtures, DuplicateKeyLeavesNothing)
{
    TempDir dir;
    std::string path = dir.file("dup.mdb");
    fs::copy_file(kFixtures + "/jet4/indexTestV2000.mdb", path);
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
    size_t refused = 0;
    std::map<std::string, size_t> counts;
    {
        auto db = Database::open(path);
        db->begin();
        for (const auto& name : db->tableNames()) {
            Table& t = db->table(name);
            std::vector<std::vector<Value>> rows;
            t.scan([&](const std::vector<Value>& v, uint32_t) {
                rows.push_back(v);
                return rows.size() < 1;
            });
            counts[name] = t.rowCount();
            bool unique = false;
            for (const auto& pi : t.def().physicalIndexes)
                unique |= (pi.flags & 0x01) != 0;
            if (!unique || rows.empty())
                continue;
            EXPECT_THROW(t.append(rows[0]), Error) << name;
            ++refused;
        }
        db->commit();
    }
    EXPECT_GT(refused, 0u);
    auto report = checkDatabase(path);
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
    auto db = Database::open(path, false);
    for (const auto& [name, n] : counts)
        EXPECT_EQ(db->table(name).rowCount(), n) << name;
}
