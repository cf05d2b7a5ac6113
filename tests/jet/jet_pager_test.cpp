// Durability and limits: the size limit ends a write cleanly, a journal
// left by a killed writer is honoured by readers and undone by the next
// writer, commits that fail on a full disk or the system's file-size limit,
// counters, conversions of source values.
#include "jet/checker.h"
#include "jet/database_int.h"
#include "jet/error.h"
#include "jet/pager.h"
#include "jet/row_set.h"
#include "jet/statement.h"
#include "readers.h"

#include <gtest/gtest.h>
#include "fixtures.h"

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/resource.h>
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
        internals(*db).pager().setMaxFileSize(uint64_t(internals(*db).pager().pageCount() + 40) * internals(*db).pager().pageSize());
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
    if (readers::mdbtoolsAvailable()) {
        EXPECT_EQ(readers::mdbExport(path, "T").rows.size(), posted);
    }
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
    // A writer whose transaction outgrows the page cache dies before its
    // commit.
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
        if (readers::mdbtoolsAvailable()) {
            EXPECT_EQ(readers::mdbExport(path, "Wide").rows.size(), 3u);
        }
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
    FERROWANE_REQUIRE_FIXTURES();
    Scratch s;
    std::mt19937 rng(7);
    for (const char* name : {"jet4/testPromotionV2000.mdb", "jet3/testV1997.mdb", "jet4/delColTestV2000.mdb"}) {
        std::ifstream in(fixtures::path(name), std::ios::binary);
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

// The journal file stays between transactions (its header cleared) and
// goes with the database. A writer that dies early in a small transaction,
// after a large one, leaves the large one's records further on in the
// journal: they are not applied.
TEST(Journal, RecordsOfAnEarlierTransactionAreNeverApplied)
{
    Scratch s;
    std::string path = s.dir + "/stale.mdb";
    Database::create(path, Version::Jet4);
    {
        auto db = Database::open(path);
        execute(*db, "Create table [A] ([a] int , [m] memo)");
        execute(*db, "Create table [B] ([a] int)");
        Table& a = db->table("A");
        for (int i = 0; i < 300; ++i)
            a.append({Value::integer(i), Value::text(std::string(1000, 'a'))});
        db->table("B").append({Value::integer(1)});
        db->statementDone();
    }
    pid_t pid = fork();
    if (pid == 0) {
        auto db = Database::open(path);
        // Every page of A goes through the journal.
        execute(*db, "drop table [A]");
        if (!fs::exists(path + "-journal"))
            _exit(3);
        db->begin();
        db->table("B").append({Value::integer(2)});
        db->statementDone();
        ::kill(getpid(), SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended otherwise: " << status;
    ASSERT_TRUE(fs::exists(path + "-journal"));
    {
        auto db = Database::open(path);
        EXPECT_FALSE(db->hasTable("A"));
        EXPECT_EQ(db->table("B").readAll().size(), 1u);
    }
    EXPECT_FALSE(fs::exists(path + "-journal"));
    auto report = checkDatabase(path);
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
}

// ---- Writes that fail ---------------------------------------------------------
//
// A child process writes with a real limit of the system in its way: the
// file-size limit (RLIMIT_FSIZE, SIGXFSZ ignored, so writes fail with EFBIG)
// or a full file system (a small tmpfs in a mount namespace of its own). It
// reports what it committed; the parent then opens the file it left.

namespace {

struct ChildReport {
    int committed = -1;       // rows of the last commit that succeeded
    int rowsAfter = -1;       // rows the child's own database saw after the failure
    std::string message;      // the error that ended the writing
    bool skipped = false;     // the child could not set up its limit
};

// Runs `work` in a child; it returns "committed rowsAfter message", or
// "skip reason". `work` gets the report's pipe, for a child that reports
// and dies on its own.
ChildReport inChild(const std::function<std::string(int)>& work, bool expectDeath = false)
{
    int fds[2];
    if (::pipe(fds) != 0)
        throw std::runtime_error("pipe");
    pid_t pid = fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string out;
        try {
            out = work(fds[1]);
        } catch (const std::exception& e) {
            out = std::string("-1 -1 unexpected: ") + e.what();
        }
        size_t off = 0;
        while (off < out.size()) {
            ssize_t w = ::write(fds[1], out.data() + off, out.size() - off);
            if (w <= 0)
                break;
            off += size_t(w);
        }
        _exit(0);
    }
    ::close(fds[1]);
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        text.append(buf, size_t(n));
    ::close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ChildReport r;
    if (text.rfind("skip ", 0) == 0) {
        r.skipped = true;
        r.message = text.substr(5);
        return r;
    }
    std::istringstream in(text);
    in >> r.committed >> r.rowsAfter;
    std::getline(in >> std::ws, r.message);
    if (expectDeath)
        EXPECT_TRUE(WIFSIGNALED(status)) << "the writer did not die: " << text;
    else
        EXPECT_TRUE(WIFEXITED(status)) << "the writer died: " << text;
    return r;
}

// Commits batches of rows into T until a write fails; a failed batch is
// rolled back. Returns the child's report line. With `dieFd`, the child
// instead writes its report there and dies at once, its transaction open.
std::string writeUntilFailure(const std::string& path, int batch, size_t memo, int dieFd = -1)
{
    auto db = Database::open(path);
    Table& t = db->table("T");
    int committed = int(t.rowCount());
    std::string message;
    for (int b = 0; b < 100000 && message.empty(); ++b) {
        try {
            db->begin();
            for (int i = 0; i < batch; ++i) {
                t.append({Value::integer(committed + i), Value::text("row"), Value::text(std::string(memo, 'm'))});
                db->statementDone();
            }
            db->commit();
            committed += batch;
        } catch (const Error& e) {
            message = e.what();
            if (dieFd >= 0) {
                std::string line = std::to_string(committed) + " -1 " + message;
                if (::write(dieFd, line.data(), line.size()) != ssize_t(line.size()))
                    _exit(4);
                ::kill(getpid(), SIGKILL);
            }
            if (db->inTransaction())
                db->rollback();
        }
    }
    int after = int(db->table("T").readAll().size());
    // The database stays usable for reading and refuses nothing it can do.
    return std::to_string(committed) + " " + std::to_string(after) + " " + message;
}

void createT(const std::string& path, Version v)
{
    Database::create(path, v);
    auto db = Database::open(path);
    execute(*db, "Create table [T] ([a] long, [b] text(20), [m] memo)");
    execute(*db, "create index [ia] on [T] ([a])");
}

// The file a failed writer left: opened by a writer it holds exactly the
// rows of the last commit, no journal stays, check and both readers agree.
void expectLastCommit(const std::string& path, int committed)
{
    {
        auto db = Database::open(path);
        EXPECT_EQ(int(db->table("T").readAll().size()), committed);
        EXPECT_EQ(int(db->table("T").rowCount()), committed);
    }
    EXPECT_FALSE(fs::exists(path + "-journal"));
    auto report = checkDatabase(path);
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
    if (readers::mdbtoolsAvailable()) {
        EXPECT_EQ(int(readers::mdbExport(path, "T").rows.size()), committed);
    }
    if (readers::mdbReaderAvailable()) {
        auto r = readers::mdbReader(path, {"T"});
        ASSERT_NE(r.find("T"), nullptr);
        EXPECT_EQ(int(r.find("T")->rows.size()), committed);
    }
}

class FailedWrites : public ::testing::TestWithParam<Version> {};

} // namespace

// Commits run into the system's file-size limit: the commit that crosses
// it fails with a clear message and the file goes back to the commit before.
TEST_P(FailedWrites, FileSizeLimitOfTheSystemEndsACommit)
{
    Scratch s;
    std::string path = s.dir + "/fsize.mdb";
    createT(path, GetParam());
    uint64_t limit = fs::file_size(path) + 300 * 1024 + 1000; // not on a page boundary
    ChildReport r = inChild([&](int) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl{limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &rl) != 0)
            return std::string("skip setrlimit failed");
        return writeUntilFailure(path, 40, 700);
    });
    ASSERT_FALSE(r.skipped) << r.message;
    EXPECT_NE(r.message.find("largest size this system allows"), std::string::npos) << r.message;
    EXPECT_GT(r.committed, 0);
    EXPECT_EQ(r.rowsAfter, r.committed);
    EXPECT_LE(fs::file_size(path), limit);
    expectLastCommit(path, r.committed);
}

// One transaction larger than the page cache spills pages into the
// journal's tail before its commit; the limit stops a spill, the file is
// untouched and the rollback forgets the transaction.
TEST_P(FailedWrites, FileSizeLimitStopsASpilledTransaction)
{
    Scratch s;
    std::string path = s.dir + "/spill.mdb";
    createT(path, GetParam());
    {
        auto db = Database::open(path);
        Table& t = db->table("T");
        for (int i = 0; i < 100; ++i)
            t.append({Value::integer(i), Value::text("first"), Value::text(std::string(100, 'f'))});
        db->statementDone();
    }
    // Room for part of the cache's worth of pages (4,096 pages).
    uint64_t limit = fs::file_size(path) + 2048ull * (GetParam() == Version::Jet4 ? 4096 : 2048);
    ChildReport r = inChild([&](int) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl{limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &rl) != 0)
            return std::string("skip setrlimit failed");
        return writeUntilFailure(path, 1000000, 1500);
    });
    ASSERT_FALSE(r.skipped) << r.message;
    EXPECT_NE(r.message.find("largest size this system allows"), std::string::npos) << r.message;
    EXPECT_EQ(r.committed, 100);
    EXPECT_EQ(r.rowsAfter, 100);
    expectLastCommit(path, 100);

    // The same, but the writer dies right after the failed write: the file
    // holds the last commit as it lies, and the journal it left (not hot)
    // goes with the next writer.
    const uint64_t committedSize = fs::file_size(path);
    ChildReport d = inChild(
        [&](int fd) {
            ::signal(SIGXFSZ, SIG_IGN);
            struct rlimit rl{limit, limit};
            if (::setrlimit(RLIMIT_FSIZE, &rl) != 0)
                return std::string("skip setrlimit failed");
            return writeUntilFailure(path, 1000000, 1500, fd);
        },
        true);
    ASSERT_FALSE(d.skipped) << d.message;
    EXPECT_NE(d.message.find("largest size this system allows"), std::string::npos) << d.message;
    EXPECT_EQ(d.committed, 100);
    EXPECT_EQ(fs::file_size(path), committedSize);
    ASSERT_TRUE(fs::exists(path + "-journal"));
    expectLastCommit(path, 100);
}

// A full file system: the writer gets "the disk is full" and the file
// keeps its last commit. Needs a mount namespace (root or user namespaces).
TEST_P(FailedWrites, FullDiskEndsACommit)
{
    Scratch s;
    std::string mnt = s.dir + "/small";
    fs::create_directory(mnt);
    std::string kept = s.dir + "/kept.mdb";
    ChildReport r = inChild([&](int) {
        if (::unshare(CLONE_NEWNS) != 0)
            return std::string("skip no mount namespace: ") + std::strerror(errno);
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=640k") != 0)
            return std::string("skip cannot mount a small file system: ") + std::strerror(errno);
        std::string path = mnt + "/full.mdb";
        createT(path, GetParam());
        std::string line = writeUntilFailure(path, 30, 900);
        // What the failed writer left, journal included, goes where the
        // parent can see it.
        fs::copy_file(path, kept);
        if (fs::exists(path + "-journal"))
            fs::copy_file(path + "-journal", kept + "-journal");
        return line;
    });
    if (r.skipped)
        GTEST_SKIP() << r.message;
    EXPECT_NE(r.message.find("the disk is full"), std::string::npos) << r.message;
    EXPECT_GT(r.committed, 0);
    EXPECT_EQ(r.rowsAfter, r.committed);
    expectLastCommit(kept, r.committed);
}

// The format's limit, lowered so that the test is quick: the write that
// would cross it ends with a clear error, the file keeps every commit
// before, and pages freed by a drop let the writing go on under the limit.
TEST_P(FailedWrites, FormatLimitEndsAWriteAndFreedPagesGoOnUnderIt)
{
    Scratch s;
    std::string path = s.dir + "/limit.mdb";
    createT(path, GetParam());
    {
        auto db = Database::open(path);
        execute(*db, "Create table [Old] ([a] long, [m] memo)");
        Table& old = db->table("Old");
        for (int i = 0; i < 200; ++i)
            old.append({Value::integer(i), Value::text(std::string(1000, 'o'))});
        db->statementDone();
    }
    uint64_t limit = fs::file_size(path) + 150 * 4096;
    int committed = 0;
    std::string message;
    {
        auto db = Database::open(path);
        internals(*db).pager().setMaxFileSize(limit);
        Table& t = db->table("T");
        while (message.empty()) {
            try {
                db->begin();
                for (int i = 0; i < 25; ++i)
                    t.append({Value::integer(committed + i), Value::text("x"), Value::text(std::string(800, 'x'))});
                db->commit();
                committed += 25;
            } catch (const Error& e) {
                message = e.what();
                db->rollback();
            }
        }
        EXPECT_NE(message.find("size limit"), std::string::npos) << message;
        EXPECT_EQ(int(t.readAll().size()), committed);
        EXPECT_LE(internals(*db).pager().pageCount() * uint64_t(internals(*db).pager().pageSize()), limit);
        // The old table's pages take the next rows without growing the file.
        execute(*db, "drop table [Old]");
        uint32_t pages = internals(*db).pager().pageCount();
        db->begin();
        for (int i = 0; i < 100; ++i)
            t.append({Value::integer(committed + i), Value::text("y"), Value::text(std::string(800, 'y'))});
        db->commit();
        committed += 100;
        EXPECT_EQ(internals(*db).pager().pageCount(), pages);
    }
    EXPECT_GT(committed, 125);
    expectLastCommit(path, committed);
}

INSTANTIATE_TEST_SUITE_P(Formats, FailedWrites, ::testing::Values(Version::Jet3, Version::Jet4),
                         [](const auto& info) { return info.param == Version::Jet4 ? "Jet4" : "Jet3"; });

// Callers tell failures apart by the error's kind, not by its text.
TEST(Errors, KindsTellWhatFailed)
{
    Scratch s;
    const std::string path = s.dir + "/kinds.mdb", junk = s.dir + "/junk.mdb";
    Database::create(path, Version::Jet4);
    std::ofstream(junk) << "hello, this is not a database at all";
    auto kindOf = [](const std::function<void()>& fn) {
        try {
            fn();
        } catch (const Error& e) {
            return e.kind();
        }
        ADD_FAILURE() << "no error";
        return ErrorKind::Invalid;
    };
    auto db = Database::open(path);
    execute(*db, "Create table [T] ([a] int)");
    EXPECT_EQ(kindOf([&] { execute(*db, "Create table [T] ([a] int)"); }), ErrorKind::Constraint);
    EXPECT_EQ(kindOf([&] { execute(*db, "Create tabel [U]"); }), ErrorKind::Invalid);
    EXPECT_EQ(kindOf([&] { Database::open(path); }), ErrorKind::Busy);
    internals(*db).pager().setMaxFileSize(uint64_t(internals(*db).pager().pageCount()) * internals(*db).pager().pageSize());
    EXPECT_EQ(kindOf([&] { internals(*db).pager().ensureRoom(1); }), ErrorKind::Full);
    EXPECT_EQ(kindOf([&] { Database::open(junk, false); }), ErrorKind::Unsupported);
    EXPECT_EQ(kindOf([&] { Database::open(s.dir + "/missing.mdb", false); }), ErrorKind::Io);
}
