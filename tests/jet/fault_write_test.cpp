// Writes that the system refuses half-way: a full disk (simulated by a file
// size limit in a child process) during a commit or while a large
// transaction spills to the file, and a folder without room for the journal.
// The file must keep its last commit, open cleanly and read in other readers.
#include "jet/checker.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/pager.h"
#include "jet/row_set.h"
#include "jet/statement.h"
#include "readers.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace jet;

namespace {

struct Scratch {
    std::string dir;
    Scratch()
    {
        char buf[] = "/tmp/jet-fault-XXXXXX";
        dir = mkdtemp(buf);
    }
    ~Scratch()
    {
        ::chmod(dir.c_str(), 0700);
        fs::remove_all(dir);
    }
};

// Runs fn in a child whose files may not grow beyond `limit` bytes (writes
// past it fail with EFBIG instead of killing the process). The child's exit
// status is fn's result; what it prints goes to the test's output.
int inLimitedChild(rlim_t limit, const std::function<int()>& fn)
{
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl{limit, limit};
        setrlimit(RLIMIT_FSIZE, &rl);
        int code = 99;
        try {
            code = fn();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "child: unexpected exception: %s\n", e.what());
        }
        std::fflush(nullptr);
        _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void appendRows(RowSet& rs, int first, int count, size_t memo)
{
    for (int i = first; i < first + count; ++i) {
        rs.append();
        rs.setField("a", Value::integer(i));
        rs.setField("m", Value::text(std::string(memo, char('a' + i % 26))));
        rs.post();
    }
}

// The file is sound, has no journal left, and holds rows 0..n-1 in order.
void expectRows(const std::string& path, size_t n)
{
    EXPECT_FALSE(fs::exists(path + "-journal"));
    auto report = checkDatabase(path);
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
    {
        auto db = Database::open(path, false);
        auto rows = db->table("T").readAll();
        ASSERT_EQ(rows.size(), n);
        for (size_t i = 0; i < rows.size(); ++i)
            ASSERT_EQ(rows[i][0].asInt(), int64_t(i));
        EXPECT_EQ(db->table("T").rowCount(), n);
    }
    if (readers::mdbtoolsAvailable()) {
        EXPECT_EQ(readers::mdbExport(path, "T").rows.size(), n);
    }
}

}  // namespace

// The commit writes the table's changed pages first and then the new ones;
// the new ones do not fit. Before, the journal was dropped although the
// changed pages were already in the file: the row count named rows that
// were never written.
TEST(DiskFull, FailedCommitKeepsTheLastCommitAndTheSessionGoesOn)
{
    for (Version version : {Version::Jet3, Version::Jet4}) {
        Scratch s;
        const std::string path = s.dir + "/full.mdb";
        Database::create(path, version);
        {
            auto db = Database::open(path);
            execute(*db, "Create table [T] ([a] int , [m] memo)");
        }
        const rlim_t limit = rlim_t(fs::file_size(path)) + 256 * 1024;
        const int code = inLimitedChild(limit, [&] {
            auto db = Database::open(path);
            auto rs = openQuery(*db, "select * from [T] where 1=0");
            db->begin();
            appendRows(*rs, 0, 10, 900);
            db->commit();
            db->begin();
            appendRows(*rs, 10, 2000, 900);  // about 2 MB: within the cache, beyond the limit
            try {
                db->commit();
                return 10;
            } catch (const Error& e) {
                if (std::string(e.what()).find("largest size the system allows") == std::string::npos) {
                    std::fprintf(stderr, "child: message: %s\n", e.what());
                    return 11;
                }
            }
            if (db->inTransaction() || db->table("T").rowCount() != 10 || db->table("T").readAll().size() != 10)
                return 12;
            // The same session writes on from the restored state.
            auto again = openQuery(*db, "select * from [T] where 1=0");
            db->begin();
            appendRows(*again, 10, 5, 900);
            db->commit();
            return 0;
        });
        EXPECT_EQ(code, 0) << "version " << int(version);
        expectRows(path, 15);
    }
}

// A transaction larger than the page cache goes to the file before its
// commit; the limit strikes there, inside a row, and again at the commit.
TEST(DiskFull, SpilledTransactionIsUndone)
{
    Scratch s;
    const std::string path = s.dir + "/spill.mdb";
    Database::create(path, Version::Jet3);
    {
        auto db = Database::open(path);
        execute(*db, "Create table [T] ([a] int , [m] memo)");
        auto rs = openQuery(*db, "select * from [T] where 1=0");
        db->begin();
        appendRows(*rs, 0, 100, 1000);
        db->commit();
    }
    const rlim_t limit = rlim_t(fs::file_size(path)) + 4 * 1024 * 1024;
    const int code = inLimitedChild(limit, [&] {
        auto db = Database::open(path);
        auto rs = openQuery(*db, "select * from [T] where 1=0");
        db->begin();
        try {
            appendRows(*rs, 100, 20000, 1000);  // 20 MB, beyond the cache
            return 20;
        } catch (const Error& e) {
            if (std::string(e.what()).find("Cannot write") == std::string::npos)
                return 21;
        }
        // As the row transfer does after a failure: commit what was posted.
        try {
            db->commit();
            return 22;
        } catch (const Error&) {
        }
        return db->inTransaction() ? 23 : 0;
    });
    EXPECT_EQ(code, 0);
    expectRows(path, 100);
}

// A statement outside a transaction that fails half-way leaves nothing for
// a later commit to pick up.
TEST(SizeLimit, FailedCreateTableLeavesNothingBehind)
{
    Scratch s;
    const std::string path = s.dir + "/limit.mdb";
    Database::create(path, Version::Jet4);
    auto db = Database::open(path);
    execute(*db, "Create table [T] ([a] int , [m] memo)");
    // Room for the definition page but not for its usage-map page.
    db->pager().setMaxFileSize(uint64_t(db->pager().pageCount() + 1) * db->pager().pageSize());
    EXPECT_THROW(execute(*db, "Create table [U] ([a] int , [m] memo)"), Error);
    EXPECT_FALSE(db->pager().dirty());
    EXPECT_FALSE(db->hasTable("U"));
    db->pager().setMaxFileSize(1ull << 31);
    auto rs = openQuery(*db, "select * from [T] where 1=0");
    appendRows(*rs, 0, 3, 10);
    db.reset();
    expectRows(path, 3);
}

// A folder that cannot take the journal is refused when the file is opened
// for writing, not at the first change; reading still works.
TEST(Folder, NoRoomForTheJournalIsRefusedAtOpen)
{
    Scratch s;
    const std::string sub = s.dir + "/ro";
    fs::create_directory(sub);
    const std::string path = sub + "/x.mdb";
    Database::create(path, Version::Jet4);
    ::chmod(sub.c_str(), 0555);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        // Root writes anywhere; without the override it meets the folder's mode.
        __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        syscall(SYS_capget, &head, data);
        data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        syscall(SYS_capset, &head, data);
        int code = 0;
        try {
            Database::open(path, true);
            code = 30;
        } catch (const Error& e) {
            const std::string m = e.what();
            if (m.find("Cannot write in the folder of '" + path + "'") == std::string::npos ||
                m.find("journal") == std::string::npos) {
                std::fprintf(stderr, "child: message: %s\n", m.c_str());
                code = 31;
            }
        }
        try {
            if (Database::open(path, false)->tableNames().size() != 0)
                code = 32;
        } catch (...) {
            code = 33;
        }
        std::fflush(nullptr);
        _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(fs::exists(path + "-journal"));
}
