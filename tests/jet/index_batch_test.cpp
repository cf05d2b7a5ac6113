// Index entries of appended rows that wait in a batch until the commit:
// duplicates among waiting rows and against the tree, rollback, commits in
// the middle, removing a row whose entry still waits, descending and
// composite keys, a process that ends without committing. Real files of
// both formats; our check and the independent readers judge the result.
#include "jet/checker.h"
#include "jet/database_int.h"
#include "jet/error.h"
#include "jet/index_ddl.h"
#include "jet/index_store.h"
#include "jet/index_tree.h"
#include "jet/pager.h"
#include "jet/statement.h"
#include "readers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace jet;

namespace {

class TempFile {
public:
    explicit TempFile(const std::string& name)
    {
        char buf[] = "/tmp/idx-batch-XXXXXX";
        dir_ = mkdtemp(buf);
        path_ = dir_ + "/" + name;
    }
    ~TempFile() { fs::remove_all(dir_); }
    const std::string& path() const { return path_; }

private:
    std::string dir_, path_;
};

// Each physical index holds exactly the entries its rows encode to, passes
// the tree's checks, and its distinct-key count is exact.
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

void expectReadersSeeRows(const std::string& path, const std::string& table, std::size_t rows)
{
    if (readers::mdbtoolsAvailable()) {
        EXPECT_EQ(readers::mdbExport(path, table).rows.size(), rows);
    }
    if (readers::mdbReaderAvailable()) {
        readers::ReaderResult r = readers::mdbReader(path, {table});
        ASSERT_NE(r.find(table), nullptr);
        EXPECT_EQ(r.find(table)->rows.size(), rows);
    }
}

// Appending throws an error naming the index.
void expectRefused(Table& t, const std::vector<Value>& row, const std::string& index)
{
    const std::uint32_t rows = t.rowCount();
    try {
        t.append(row);
        ADD_FAILURE() << "a duplicate for " << index << " was accepted";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("\"" + index + "\""), std::string::npos) << e.what();
    }
    EXPECT_EQ(t.rowCount(), rows);
}

std::string code(int i) { return "k" + std::to_string(i * 7919 % 100003); }

// Names in several scripts, so that text keys carry extra codes too.
std::string name(std::mt19937& rng, Version v)
{
    static const char* latin[] = {"Meyer", "Lefèvre", "García", "o'brien", "Smith", "Øster", "Müller", "Novák"};
    static const char* wide[] = {"東京", "Ωmega", "København", "straße", "日本語", "Ölkanne"};
    std::string s = v == Version::Jet4 && rng() % 3 == 0 ? wide[rng() % 6] : latin[rng() % 8];
    return s + " " + std::to_string(rng() % 5000);
}

class IndexBatch : public ::testing::TestWithParam<Version> {
protected:
    void SetUp() override
    {
        registerIndexStatements();
        file_ = std::make_unique<TempFile>(std::string("batch") + (GetParam() == Version::Jet3 ? "97" : "2000") +
                                           ".mdb");
        Database::create(file_->path(), GetParam());
    }
    const std::string& path() const { return file_->path(); }

    // A table with a sequential-or-not Long key, a unique text index, and a
    // composite index with a descending text column.
    static void makeTable(Database& db)
    {
        execute(db, "create table t (id long, code text(20), name text(40), n long)");
        execute(db, "alter table t  add constraint pk primary key (id)");
        execute(db, "create unique index ux on t (code)");
        execute(db, "create index [by name] on t (name desc, n)");
    }
    std::vector<Value> row(int id, std::mt19937& rng) const
    {
        return {Value::integer(id), Value::text(code(id)), Value::text(name(rng, GetParam())),
                Value::integer(int(rng() % 50))};
    }

private:
    std::unique_ptr<TempFile> file_;
};

}  // namespace

TEST_P(IndexBatch, DuplicatesAmongWaitingRowsAndAgainstTheTreeLeaveNothing)
{
    std::mt19937 rng(31);
    {
        auto db = Database::open(path());
        makeTable(*db);
        Table& t = db->table("t");
        std::vector<int> ids(4000);
        std::iota(ids.begin(), ids.end(), 0);
        std::shuffle(ids.begin(), ids.end(), rng);
        db->begin();
        for (int i = 0; i < 3000; ++i)
            t.append(row(ids[i], rng));
        // Against rows of this transaction, whose entries still wait.
        expectRefused(t, {Value::integer(5000), Value::text(code(ids[17])), Value::null(), Value::null()}, "ux");
        expectRefused(t, {Value::integer(ids[2999]), Value::text("fresh"), Value::null(), Value::null()}, "pk");
        // Nothing of the refused rows stayed: their keys are free.
        t.append({Value::integer(5000), Value::text("fresh"), Value::text("late"), Value::integer(1)});
        db->commit();

        db->begin();
        for (int i = 3000; i < 4000; ++i)
            t.append(row(ids[i], rng));
        // Against committed rows, and against a row waiting in this batch.
        expectRefused(t, {Value::integer(6000), Value::text(code(ids[5])), Value::null(), Value::null()}, "ux");
        expectRefused(t, {Value::integer(6001), Value::text("fresh"), Value::null(), Value::null()}, "ux");
        expectRefused(t, {Value::integer(ids[3500]), Value::text("other"), Value::null(), Value::null()}, "pk");
        // Text keys ignore case and trailing blanks.
        expectRefused(t, {Value::integer(6002), Value::text("FRESH  "), Value::null(), Value::null()}, "ux");
        db->commit();
        EXPECT_EQ(t.rowCount(), 4001u);
        expectIndexesMatchRows(*db, "t");
    }
    expectCheckPasses(path());
    expectReadersSeeRows(path(), "t", 4001);
}

TEST_P(IndexBatch, RollbackDropsWaitingEntries)
{
    std::mt19937 rng(37);
    {
        auto db = Database::open(path());
        makeTable(*db);
        Table& t = db->table("t");
        db->begin();
        for (int i = 0; i < 1500; ++i)
            t.append(row(i * 2, rng));
        db->commit();
        db->begin();
        for (int i = 0; i < 1500; ++i)
            t.append(row(i * 2 + 1, rng));
        db->rollback();
        EXPECT_EQ(db->table("t").rowCount(), 1500u);
        // The same keys again: nothing of the rolled-back rows is left to
        // refuse them.
        Table& t2 = db->table("t");
        db->begin();
        for (int i = 1500; i-- > 0;)
            t2.append(row(i * 2 + 1, rng));
        db->commit();
        EXPECT_EQ(t2.rowCount(), 3000u);
        expectIndexesMatchRows(*db, "t");
    }
    expectCheckPasses(path());
    expectReadersSeeRows(path(), "t", 3000);
}

TEST_P(IndexBatch, CommitsInTheMiddleAndRemovingAWaitingRow)
{
    std::mt19937 rng(41);
    std::size_t rows = 0;
    {
        auto db = Database::open(path());
        makeTable(*db);
        Table& t = db->table("t");
        std::vector<int> ids(6000);
        std::iota(ids.begin(), ids.end(), 0);
        std::shuffle(ids.begin(), ids.end(), rng);
        db->begin();
        for (int i = 0; i < 6000; ++i) {
            std::vector<Value> r = row(ids[i], rng);
            std::uint32_t ptr = t.append(r);
            ++rows;
            if (i % 450 == 7) {
                // Its entries still wait; the row goes with all of them.
                t.removeRow(ptr, r);
                --rows;
            }
            if (i % 700 == 699) {
                db->commit();
                // The file as committed is whole (a copy: the open file is locked).
                if (i == 2099) {
                    fs::copy_file(path(), path() + ".copy.mdb");
                    expectCheckPasses(path() + ".copy.mdb");
                }
                db->begin();
            }
        }
        db->commit();
        EXPECT_EQ(t.rowCount(), rows);
        expectIndexesMatchRows(*db, "t");
        // A removed row's keys are free again.
        t.append(row(ids[7], rng));
        ++rows;
        db->statementDone();
        expectIndexesMatchRows(*db, "t");
    }
    expectCheckPasses(path());
    expectReadersSeeRows(path(), "t", rows);
}

// Index statements see the entries still waiting in the table's trees.
TEST_P(IndexBatch, IndexStatementsInsideATransaction)
{
    std::mt19937 rng(43);
    {
        auto db = Database::open(path());
        makeTable(*db);
        Table& t = db->table("t");
        db->begin();
        for (int i = 0; i < 2500; ++i)
            t.append(row((i * 7) % 2500, rng));
        execute(*db, "create index byn on t (n desc, code)");
        execute(*db, "drop index [by name] on t");
        for (int i = 2500; i < 3000; ++i)
            t.append(row(i, rng));
        db->commit();
        expectIndexesMatchRows(*db, "t");
    }
    expectCheckPasses(path());
}

// A process that dies with entries waiting leaves the last commit, whole.
TEST_P(IndexBatch, AnEndWithoutCommitLeavesTheLastCommit)
{
    {
        auto db = Database::open(path());
        makeTable(*db);
    }
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int status = 0;
        try {
            std::mt19937 rng(47);
            auto db = Database::open(path());
            Table& t = db->table("t");
            db->begin();
            for (int i = 0; i < 3000; ++i)
                t.append(row((i * 13) % 3000, rng));
            db->commit();
            db->begin();
            for (int i = 3000; i < 6000; ++i)
                t.append(row(3000 + i * 7 % 3000, rng));
            db->statementDone();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            status = 1;
        }
        _exit(status);  // no commit, no destructors
    }
    int st = 0;
    waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st));
    ASSERT_EQ(WEXITSTATUS(st), 0);
    {
        auto db = Database::open(path());
        EXPECT_EQ(db->table("t").rowCount(), 3000u);
        expectIndexesMatchRows(*db, "t");
    }
    expectCheckPasses(path());
    expectReadersSeeRows(path(), "t", 3000);
}

// Near the file's size limit a row is refused before it changes anything,
// with room kept for the entries still waiting; the commit then succeeds.
TEST_P(IndexBatch, SizeLimitRefusesRowsBeforeWaitingEntriesRunOutOfRoom)
{
    std::mt19937 rng(59);
    std::size_t rows = 0;
    {
        auto db = Database::open(path());
        makeTable(*db);
        internals(*db).pager().setMaxFileSize(std::uint64_t(internals(*db).pager().pageCount() + 120) * internals(*db).pager().pageSize());
        Table& t = db->table("t");
        std::vector<int> ids(20000);
        std::iota(ids.begin(), ids.end(), 0);
        std::shuffle(ids.begin(), ids.end(), rng);
        db->begin();
        try {
            for (int id : ids) {
                t.append(row(id, rng));
                ++rows;
            }
            ADD_FAILURE() << "the size limit was not reached";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("size limit"), std::string::npos) << e.what();
        }
        EXPECT_GT(rows, 100u);
        EXPECT_EQ(t.rowCount(), rows);
        db->commit();
        expectIndexesMatchRows(*db, "t");
    }
    expectCheckPasses(path());
    expectReadersSeeRows(path(), "t", rows);
}

INSTANTIATE_TEST_SUITE_P(BothFormats, IndexBatch, ::testing::Values(Version::Jet3, Version::Jet4),
                         [](const auto& info) { return std::string(info.param == Version::Jet3 ? "Jet3" : "Jet4"); });
