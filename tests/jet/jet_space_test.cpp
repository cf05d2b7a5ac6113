// Space in the file: pages of dropped tables are taken again before the file
// grows, the global map keeps every page accounted once the file outgrows its
// inline window, rollbacks give reused pages back, and the templates' sizes.
#include "jet/bytes.h"
#include "jet/checker.h"
#include "jet/data_page.h"
#include "jet/database_int.h"
#include "jet/error.h"
#include "jet/pager.h"
#include "jet/statement.h"
#include "readers.h"

#include <gtest/gtest.h>
#include "fixtures.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace jet;

namespace {

const std::string kFixtures = fixtures::dir();

struct Scratch {
    std::string dir;
    Scratch()
    {
        char buf[] = "/tmp/jet-space-XXXXXX";
        dir = mkdtemp(buf);
    }
    ~Scratch() { fs::remove_all(dir); }
    std::string file(const std::string& name) const { return dir + "/" + name; }
};

class SpaceBoth : public ::testing::TestWithParam<Version> {};

std::string firstProblem(const CheckReport& r) { return r.problems.empty() ? "" : r.problems[0]; }

#define EXPECT_CLEAN(path)                                                                         \
    do {                                                                                           \
        auto report_ = checkDatabase(path);                                                        \
        EXPECT_TRUE(report_.ok()) << report_.problems.size() << " problems: " << firstProblem(report_); \
    } while (0)

// Rows of (a long, b text(50), m memo): every tenth memo is long enough for
// a chain of long-value rows.
void fill(Database& db, const std::string& table, int rows, int seed = 0)
{
    Table& t = db.table(table);
    db.begin();
    for (int i = 0; i < rows; ++i) {
        size_t memo = i % 10 == 0 ? 5000 : size_t(50 + (i * 7) % 300);
        t.append({Value::integer(seed * 1000000 + i), Value::text("row " + std::to_string(i)),
                  Value::text(std::string(memo, char('a' + (i + seed) % 26)))});
        db.statementDone();
    }
    db.commit();
}

void createFilled(Database& db, const std::string& table, int rows, int seed = 0)
{
    execute(db, "Create table [" + table + "] ([a] long, [b] text(50), [m] memo)");
    execute(db, "create index [ia] on [" + table + "] ([a])");
    fill(db, table, rows, seed);
}

uint64_t sizeOf(const std::string& path) { return fs::file_size(path); }

// Kind of the global map row: 0 inline, 1 reference.
int globalMapKind(Database& db)
{
    const uint8_t* p1 = internals(db).pager().read(1);
    return p1[data_page::rowBounds(db.format(), p1, 0).first];
}

void expectReadersSee(const std::string& path, const std::map<std::string, size_t>& counts)
{
    if (readers::mdbtoolsAvailable()) {
        for (const auto& [name, n] : counts)
            EXPECT_EQ(readers::mdbExport(path, name).rows.size(), n) << "mdb-export " << name;
    }
    if (readers::mdbReaderAvailable()) {
        std::vector<std::string> names;
        for (const auto& [name, n] : counts)
            names.push_back(name);
        auto r = readers::mdbReader(path, names);
        for (const auto& [name, n] : counts) {
            const auto* t = r.find(name);
            ASSERT_NE(t, nullptr) << name;
            EXPECT_EQ(t->rows.size(), n) << "mdb-reader " << name;
            EXPECT_EQ(size_t(t->rowCount), n) << "mdb-reader row count " << name;
        }
    }
}

} // namespace

TEST_P(SpaceBoth, TemplateHasTheSizeOfANewAccessFile)
{
    Scratch s;
    std::string path = s.file("new.mdb");
    Database::create(path, GetParam());
    bool jet4 = GetParam() == Version::Jet4;
    EXPECT_EQ(sizeOf(path), jet4 ? 65536u : 40960u);
    EXPECT_EQ(Database::templateBytes(GetParam()), Database::templateBytes(GetParam()));
    EXPECT_CLEAN(path);
    {
        auto db = Database::open(path);
        EXPECT_EQ(internals(*db).pager().pageCount(), jet4 ? 16u : 20u);
        execute(*db, "Create table [T] ([a] long, [b] text(20))");
        // The free pages at the end of the Access 97 file come first.
        uint32_t tdef = db->table("T").def().page;
        if (!jet4) {
            EXPECT_EQ(tdef, 18u);
        }
        Table& t = db->table("T");
        for (int i = 0; i < 500; ++i)
            t.append({Value::integer(i), Value::text("x" + std::to_string(i))});
        db->statementDone();
    }
    EXPECT_CLEAN(path);
    expectReadersSee(path, {{"T", 500}});
}

TEST_P(SpaceBoth, DropAndCreateCyclesKeepTheFileSize)
{
    Scratch s;
    std::string path = s.file("cycles.mdb");
    Database::create(path, GetParam());
    // Enough cycles for the deleted catalog rows of every earlier table to
    // fill a catalog page, were their bytes kept.
    const int kCycles = 15;
    uint64_t first = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        {
            auto db = Database::open(path);
            if (cycle > 0)
                execute(*db, "drop table [A]");
            createFilled(*db, "A", 1500, cycle);
        }
        if (cycle == 0)
            first = sizeOf(path);
        else
            EXPECT_EQ(sizeOf(path), first) << "cycle " << cycle;
        EXPECT_CLEAN(path);
    }
    {
        auto db = Database::open(path, false);
        auto rows = db->table("A").readAll();
        ASSERT_EQ(rows.size(), 1500u);
        EXPECT_EQ(rows[0][0].asInt(), (kCycles - 1) * 1000000);
        EXPECT_TRUE(rows[10][2].str() == std::string(5000, char('a' + (10 + kCycles - 1) % 26)));
    }
    expectReadersSee(path, {{"A", 1500}});
}

// A file past the inline window of the global map (512 pages of Jet 4,
// 1,024 of Jet 3): the map becomes a reference map, and pages freed before
// the window are still found.
TEST_P(SpaceBoth, FreePagesStayFreeOnceTheFileOutgrowsTheMapWindow)
{
    Scratch s;
    std::string path = s.file("big.mdb");
    Database::create(path, GetParam());
    uint64_t grown = 0;
    {
        auto db = Database::open(path);
        createFilled(*db, "Small", 300, 1);
        EXPECT_EQ(globalMapKind(*db), 0);
        createFilled(*db, "Big", 9000, 2);
        EXPECT_GT(internals(*db).pager().pageCount(), GetParam() == Version::Jet4 ? 512u : 1024u);
        EXPECT_EQ(globalMapKind(*db), 1);
        execute(*db, "drop table [Small]");
        grown = sizeOf(path);
    }
    EXPECT_CLEAN(path);
    {
        auto db = Database::open(path);
        createFilled(*db, "Again", 300, 3);
        EXPECT_LT(db->table("Again").def().page, 100u);
    }
    EXPECT_EQ(sizeOf(path), grown);
    EXPECT_CLEAN(path);
    expectReadersSee(path, {{"Big", 9000}, {"Again", 300}});
}

TEST_P(SpaceBoth, RollbackGivesReusedPagesBack)
{
    Scratch s;
    std::string path = s.file("rb.mdb");
    Database::create(path, GetParam());
    uint64_t before = 0;
    {
        auto db = Database::open(path);
        createFilled(*db, "A", 800, 1);
        createFilled(*db, "Keep", 20, 2);
        execute(*db, "drop table [A]");
        before = sizeOf(path);
        db->begin();
        execute(*db, "Create table [C] ([a] long, [b] text(50), [m] memo)");
        Table& c = db->table("C");
        for (int i = 0; i < 3000; ++i) {
            c.append({Value::integer(i), Value::text("c"), Value::text(std::string(400, 'c'))});
            db->statementDone();
        }
        db->rollback();
        EXPECT_FALSE(db->hasTable("C"));
    }
    EXPECT_EQ(sizeOf(path), before);
    EXPECT_CLEAN(path);
    {
        // The pages are free again: the same table fits without growing.
        auto db = Database::open(path);
        createFilled(*db, "A", 800, 1);
    }
    EXPECT_EQ(sizeOf(path), before);
    EXPECT_CLEAN(path);
    expectReadersSee(path, {{"A", 800}, {"Keep", 20}});
}

INSTANTIATE_TEST_SUITE_P(Formats, SpaceBoth, ::testing::Values(Version::Jet3, Version::Jet4),
                         [](const auto& info) { return info.param == Version::Jet4 ? "Jet4" : "Jet3"; });

// Row counts as each reader sees them.
struct ReaderCounts {
    std::map<std::string, size_t> mdbtools, mdbReader;
};

ReaderCounts readerCounts(const std::string& path, const std::vector<std::string>& tables)
{
    ReaderCounts c;
    if (readers::mdbtoolsAvailable())
        for (const auto& t : tables)
            c.mdbtools[t] = readers::mdbExport(path, t).rows.size();
    if (readers::mdbReaderAvailable()) {
        auto r = readers::mdbReader(path, tables);
        for (const auto& t : tables)
            if (const auto* rt = r.find(t))
                c.mdbReader[t] = rt->rows.size();
    }
    return c;
}

// Access-made files: a dropped table's pages (and the free pages Access
// left) take the next table, and every reader still reads every row it read
// before.
TEST(SpaceFixtures, DroppedTablesOfAccessFilesAreReused)
{
    FERROWANE_REQUIRE_FIXTURES();
    Scratch s;
    int tried = 0;
    for (const char* sub : {"jet3", "jet4"})
        for (const auto& entry : fs::directory_iterator(kFixtures + "/" + sub)) {
            if (entry.path().extension() != ".mdb")
                continue;
            std::string path = s.file(std::string(sub) + "_" + entry.path().filename().string());
            fs::copy_file(entry.path(), path);
            fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
            std::map<std::string, size_t> counts;
            std::vector<std::string> names;
            uint32_t pagesBefore = 0;
            {
                auto db = Database::open(path, false);
                names = db->tableNames();
                for (const auto& n : names)
                    counts[n] = db->table(n).readAll().size();
            }
            if (names.empty())
                continue;
            ReaderCounts seen = readerCounts(path, names);
            {
                auto db = Database::open(path);
                pagesBefore = internals(*db).pager().pageCount();
                execute(*db, "drop table [" + names[0] + "]");
                EXPECT_EQ(internals(*db).pager().pageCount(), pagesBefore) << path;
                createFilled(*db, "Reused", 40, 5);
                // Its definition took a page that was free.
                EXPECT_LT(db->table("Reused").def().page, pagesBefore) << path;
            }
            ++tried;
            const std::string dropped = names[0];
            counts.erase(dropped);
            names.erase(names.begin());
            counts["Reused"] = 40;
            EXPECT_CLEAN(path);
            {
                auto db = Database::open(path, false);
                for (const auto& [n, c] : counts)
                    EXPECT_EQ(db->table(n).readAll().size(), c) << path << " " << n;
                EXPECT_FALSE(db->hasTable(dropped));
            }
            names.push_back("Reused");
            ReaderCounts after = readerCounts(path, names);
            for (const auto& n : names) {
                if (readers::mdbtoolsAvailable()) {
                    EXPECT_EQ(after.mdbtools[n], n == "Reused" ? 40 : seen.mdbtools[n]) << path << " mdb-export " << n;
                }
                if (readers::mdbReaderAvailable()) {
                    EXPECT_EQ(after.mdbReader[n], n == "Reused" ? 40 : seen.mdbReader[n]) << path << " mdb-reader " << n;
                }
            }
        }
    EXPECT_GT(tried, 15);
}

// A writer killed at random moments while it drops the last table and
// fills a new one in each transaction, so that most of its pages are reused
// ones: every outcome holds exactly one committed table, checks clean and
// reads in mdbtools.
TEST(SpaceKill, KilledWhileReusingPagesLeavesACommittedState)
{
    Scratch s;
    std::mt19937 rng(4242);
    int advanced = 0;
    for (int round = 0; round < 6; ++round) {
        std::string path = s.file("kill" + std::to_string(round) + ".mdb");
        Database::create(path, round % 2 ? Version::Jet3 : Version::Jet4);
        {
            auto db = Database::open(path);
            createFilled(*db, "X0", 200, 0);
        }
        // The child tells of its first commit; the kill comes at a random
        // moment after it, however busy the machine.
        int committed[2];
        ASSERT_EQ(::pipe(committed), 0);
        pid_t pid = fork();
        if (pid == 0) {
            ::close(committed[0]);
            try {
                auto db = Database::open(path);
                for (int k = 1;; ++k) {
                    db->begin();
                    execute(*db, "drop table [X" + std::to_string(k - 1) + "]");
                    execute(*db, "Create table [X" + std::to_string(k) + "] ([a] long, [b] text(50), [m] memo)");
                    Table& t = db->table("X" + std::to_string(k));
                    for (int i = 0; i < 200; ++i) {
                        t.append({Value::integer(i), Value::text("k" + std::to_string(k)),
                                  Value::text(std::string(size_t(40 + i * 23), 'k'))});
                        db->statementDone();
                    }
                    db->commit();
                    if (k == 1 && ::write(committed[1], "c", 1) != 1)
                        _exit(3);
                }
            } catch (...) {
            }
            _exit(0);
        }
        ::close(committed[1]);
        char c;
        ASSERT_EQ(::read(committed[0], &c, 1), 1) << "round " << round << ": the writer ended before its first commit";
        ::close(committed[0]);
        usleep(useconds_t(rng() % 250000));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        std::string name;
        {
            auto db = Database::open(path);
            auto names = db->tableNames();
            ASSERT_EQ(names.size(), 1u) << "round " << round;
            name = names[0];
            advanced += name != "X0";
            EXPECT_EQ(db->table(name).readAll().size(), 200u) << "round " << round;
        }
        EXPECT_CLEAN(path);
        if (readers::mdbtoolsAvailable()) {
            EXPECT_EQ(readers::mdbExport(path, name).rows.size(), 200u) << "round " << round;
        }
    }
    EXPECT_GT(advanced, 0) << "no writer got past its first drop";
}
