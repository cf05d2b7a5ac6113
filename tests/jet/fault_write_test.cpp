// Writes refused half-way: a statement stopped by the size limit outside a
// transaction, and a folder without room for the journal. The file must
// keep its last commit, open cleanly and read in other readers.
#include "jet/checker.h"
#include "jet/database_int.h"
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
    internals(*db).pager().setMaxFileSize(uint64_t(internals(*db).pager().pageCount() + 1) * internals(*db).pager().pageSize());
    EXPECT_THROW(execute(*db, "Create table [U] ([a] int , [m] memo)"), Error);
    EXPECT_FALSE(internals(*db).pager().dirty());
    EXPECT_FALSE(db->hasTable("U"));
    internals(*db).pager().setMaxFileSize(1ull << 31);
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
