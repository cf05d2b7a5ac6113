// Durability and limits: the size limit ends a write cleanly, a journal
// left by a killed writer is honoured by readers and undone by the next
// writer, counters, conversions of source values.
#include "jet/checker.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/pager.h"
#include "jet/row_set.h"
#include "jet/statement.h"
#include "readers.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <random>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace jet;

namespace {

struct Scratch {
    std::string dir;
    Scratch()
    {
        char buf[] = "/tmp/jet-pager-XXXXXX";
        dir = mkdtemp(buf);
    }
    ~Scratch() { fs::remove_all(dir); }
};

} // namespace

TEST(Limits, FullFileEndsTheWriteAndStaysValid)
{
    Scratch s;
    std::string path = s.dir + "/full.mdb";
    Database::create(path, Version::Jet3);
    size_t posted = 0;
    std::string message;
    {
        auto db = Database::open(path);
        execute(*db, "Create table [T] ([a] int , [m] memo)");
        db->pager().setMaxFileSize(uint64_t(db->pager().pageCount() + 40) * db->pager().pageSize());
        auto rs = openQuery(*db, "select * from [T] where 1=0");
        db->begin();
        try {
            for (int i = 0; i < 100000; ++i) {
                rs->append();
                rs->setField("a", Value::integer(i));
                rs->setField("m", Value::text(std::string(900, 'x')));
                rs->post();
                ++posted;
            }
        } catch (const Error& e) {
            message = e.what();
        }
        db->commit(); // what was posted before the limit stays
    }
    EXPECT_NE(message.find("size limit"), std::string::npos) << message;
    EXPECT_GT(posted, 10u);
    auto db = Database::open(path, false);
    EXPECT_EQ(db->table("T").readAll().size(), posted);
    if (readers::mdbtoolsAvailable())
        EXPECT_EQ(readers::mdbExport(path, "T").rows.size(), posted);
}

TEST(Journal, ReadersSeeTheLastCommitAndTheNextWriterRestoresIt)
{
    Scratch s;
    std::string path = s.dir + "/j.mdb";
    Database::create(path, Version::Jet4);
    {
        auto db = Database::open(path);
        execute(*db, "Create table [T] ([a] int , [b] text(100))");
        auto rs = openQuery(*db, "select * from [T] where 1=0");
        rs->append();
        rs->setField("a", Value::integer(1));
        rs->post();
    }
    // A writer that spills uncommitted pages into the file, then dies.
    pid_t pid = fork();
    if (pid == 0) {
        auto db = Database::open(path);
        Table& t = db->table("T");
        db->begin();
        for (int i = 0; i < 200000; ++i) {
            t.append({Value::integer(i), Value::text(std::string(90, 'q'))});
            db->statementDone();
        }
        ::kill(getpid(), SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(fs::exists(path + "-journal"));
    {
        auto reader = Database::open(path, false);
        EXPECT_EQ(reader->table("T").readAll().size(), 1u);
    }
    EXPECT_TRUE(fs::exists(path + "-journal")); // a reader changes nothing
    {
        auto db = Database::open(path);
        EXPECT_EQ(db->table("T").readAll().size(), 1u);
    }
    EXPECT_FALSE(fs::exists(path + "-journal"));
    if (readers::mdbReaderAvailable()) {
        auto r = readers::mdbReader(path, {"T"});
        ASSERT_NE(r.find("T"), nullptr);
        EXPECT_EQ(r.find("T")->rows.size(), 1u);
    }
}

TEST(Values, CounterContinuesAfterTheHighestValue)
{
    Scratch s;
    std::string path = s.dir + "/c.mdb";
    Database::create(path, Version::Jet4);
    auto db = Database::open(path);
    execute(*db, "Create table [T] ([id] counter , [v] int)");
    Table& t = db->table("T");
    t.append({Value::null(), Value::integer(1)});
    t.append({Value::integer(100), Value::integer(2)});
    t.append({Value::null(), Value::integer(3)});
    t.append({Value::integer(50), Value::integer(4)});
    t.append({Value::null(), Value::integer(5)});
    db->commit();
    std::vector<int64_t> ids;
    for (auto& r : t.readAll())
        ids.push_back(r[0].asInt());
    EXPECT_EQ(ids, (std::vector<int64_t>{1, 100, 101, 50, 102}));
}

TEST(Values, SourceValuesConvertOrNameTheColumn)
{
    Scratch s;
    std::string path = s.dir + "/v.mdb";
    Database::create(path, Version::Jet3);
    auto db = Database::open(path);
    execute(*db, "Create table [T] ([i] int , [t] text(10) , [d] date , [m] memo)");
    auto rs = openQuery(*db, "select * from [T] where 1=0");
    rs->append();
    rs->setField("i", Value::decimal("12.5"));            // banker's rounding, as Access
    rs->setField("t", Value::bytes(std::string("\xE9t\xE9", 3))); // binary source: one char per byte
    rs->setField("d", Value::text("2021-03-04 05:06:07"));
    rs->setField("m", Value::integer(42));
    rs->post();
    auto expectNamed = [&](const char* col, const Value& v) {
        try {
            rs->setField(col, v);
            ADD_FAILURE() << col;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(std::string("'") + col + "'"), std::string::npos) << e.what();
        }
    };
    rs->append();
    expectNamed("i", Value::integer(1ll << 40));
    expectNamed("i", Value::text("twelve"));
    expectNamed("d", Value::text("not a date"));
    expectNamed("t", Value::text("\xE2\x82\xAC\xE4\xB8\x80")); // the euro sign fits 1252, the ideograph not
    rs->cancel();
    db->commit();
    auto rows = db->table("T").readAll();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].asInt(), 12);
    EXPECT_EQ(rows[0][1].str(), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(rows[0][2].asDate(), (DateTime{2021, 3, 4, 5, 6, 7, 0}));
    EXPECT_EQ(rows[0][3].str(), "42");
}

TEST(Definitions, WideTableSpansSeveralPages)
{
    Scratch s;
    for (Version v : {Version::Jet3, Version::Jet4}) {
        std::string path = s.dir + (v == Version::Jet4 ? "/w4.mdb" : "/w3.mdb");
        Database::create(path, v);
        auto db = Database::open(path);
        std::string ddl = "Create table [Wide] (";
        for (int i = 0; i < 255; ++i)
            ddl += (i ? " , [a_rather_long_column_name_" : "[a_rather_long_column_name_") + std::to_string(i) +
                   (i % 2 ? "] text(4)" : "] int");
        execute(*db, ddl + ")");
        auto rs = openQuery(*db, "select * from [Wide] where 1=0");
        for (int r = 0; r < 3; ++r) {
            rs->append();
            for (int i = 0; i < 255; ++i)
                rs->setField("A_RATHER_LONG_COLUMN_NAME_" + std::to_string(i),
                             i % 2 ? Value::text("v" + std::to_string(r)) : Value::integer(i * r));
            rs->post();
        }
        db.reset();
        auto check = checkDatabase(path);
        EXPECT_TRUE(check.ok()) << (check.problems.empty() ? "" : check.problems[0]);
        auto again = Database::open(path, false);
        auto rows = again->table("wide").readAll();
        ASSERT_EQ(rows.size(), 3u);
        EXPECT_EQ(rows[2][254].asInt(), 254 * 2);
        EXPECT_EQ(rows[2][253].str(), "v2");
        if (readers::mdbtoolsAvailable())
            EXPECT_EQ(readers::mdbExport(path, "Wide").rows.size(), 3u);
        if (readers::mdbReaderAvailable()) {
            auto r = readers::mdbReader(path, {"Wide"});
            ASSERT_NE(r.find("Wide"), nullptr);
            EXPECT_EQ(r.find("Wide")->columns.size(), 255u);
            EXPECT_EQ(r.find("Wide")->rows.size(), 3u);
        }
    }
}

// Damaged files: whatever the bytes, reading ends in rows or a jet::Error.
TEST(Damage, RandomlyDamagedFilesReadOrFailCleanly)
{
    Scratch s;
    std::mt19937 rng(7);
    for (const char* name : {"jet4/testPromotionV2000.mdb", "jet3/testV1997.mdb", "jet4/delColTestV2000.mdb"}) {
        std::ifstream in(std::string("/work/shared/fixtures/") + name, std::ios::binary);
        std::string orig((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t ps = orig[20] == 1 ? 4096 : 2048;
        for (int round = 0; round < 25; ++round) {
            std::string bytes = orig;
            for (int k = 0; k < 1 + int(rng() % 16); ++k)
                bytes[ps + rng() % (bytes.size() - ps)] = char(rng());
            std::string path = s.dir + "/damaged.mdb";
            std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
            try {
                auto db = Database::open(path, false);
                for (const auto& t : db->tableNames(true)) {
                    try {
                        db->table(t).readAll();
                    } catch (const Error&) {
                    }
                }
            } catch (const Error&) {
            }
        }
    }
}
