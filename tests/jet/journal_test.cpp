// The rollback journal's safety: what a commit and the journal's creation
// and removal flush to disk, and journals applied only to the file they were
// written for (a file created anew, changed by another program, reached by
// another name), never through a planted symbolic link.
#include "jet/checker.h"
#include "jet/database_int.h"
#include "jet/error.h"
#include "jet/pager.h"
#include "jet/statement.h"
#include "readers.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
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
        char buf[] = "/tmp/jet-journal-XXXXXX";
        dir = mkdtemp(buf);
    }
    ~Scratch() { fs::remove_all(dir); }
};

// A database with table T holding one committed row.
void createWithOneRow(const std::string& path)
{
    Database::create(path, Version::Jet4);
    auto db = Database::open(path);
    execute(*db, "Create table [T] ([a] int , [b] text(100))");
    db->table("T").append({Value::integer(1), Value::text("kept")});
    db->statementDone();
}

std::string bytesOf(const std::string& path)
{
    std::stringstream t;
    t << std::ifstream(path, std::ios::binary).rdbuf();
    return t.str();
}

enum class Crash {
    Early,    // after its first row
    Spilled,  // after pages went into the journal's tail (a small page cache)
    InCommit, // while its commit writes the file's new pages
};

// A writer, opened through `path`, that dies in a transaction. Before its
// commit the file is left byte for byte as its last commit; in the commit
// (killed by the file-size limit while it extends the file) only pages past
// the committed end are written, and the journal is hot: readers that know
// nothing of it still see the last commit.
void crashInATransaction(const std::string& path, Crash when)
{
    const std::string before = bytesOf(path);
    const std::string journal = fs::canonical(path).string() + "-journal";
    pid_t pid = fork();
    if (pid == 0) {
        auto db = Database::open(path);
        internals(*db).pager().setCacheCap(64);
        Table& t = db->table("T");
        db->begin();
        for (int i = 0; i < 1000000; ++i) {
            t.append({Value::integer(i), Value::text(std::string(90, 'q'))});
            db->statementDone();
            if (when == Crash::Early || (when == Crash::Spilled && i % 100 == 0 && fs::file_size(journal) > 200 * 4096))
                break;
            if (when == Crash::InCommit && internals(*db).pager().pendingPages() > 24) {
                struct rlimit rl;
                rl.rlim_cur = rl.rlim_max = before.size() + 8 * 4096;
                if (::setrlimit(RLIMIT_FSIZE, &rl) != 0)
                    _exit(3);
                db->commit(); // SIGXFSZ ends it
                _exit(4);
            }
        }
        ::kill(getpid(), SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended otherwise: " << status;
    const std::string after = bytesOf(path);
    if (when == Crash::InCommit) {
        EXPECT_GT(after.size(), before.size());
        EXPECT_TRUE(after.compare(0, before.size(), before) == 0) << "a committed page changed before the new ones";
    } else {
        EXPECT_TRUE(after == before) << "the file changed before a commit";
    }
}

void expectSound(const std::string& path)
{
    auto report = checkDatabase(path);
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
}

} // namespace

// A power cut must not bring back a journal that undoes a reported commit,
// nor lose the journal of one under way: the folder is flushed after the
// journal (and the file) appear and after the journal goes, and the cleared
// header is flushed. Seen in the system calls of the command-line tool.
TEST(JournalSafety, CommitsAndTheJournalsNameReachTheDisk)
{
    if (readers::runProcess({"strace", "-o", "/dev/null", "true"}).exitCode != 0)
        GTEST_SKIP() << "strace cannot run here";
    Scratch s;
    const std::string file = s.dir + "/d.mdb";
    const std::string tool = std::string(FERROWANE_BINARY_DIR) + "/tools/ferrowane-mdb";
    auto trace = [&](std::vector<std::string> args) {
        const std::string out = s.dir + "/trace";
        std::vector<std::string> argv{"strace", "-y", "-o", out, "-e",
                                      "trace=openat,pwrite64,pwritev,fdatasync,fsync,unlink,unlinkat", tool};
        argv.insert(argv.end(), args.begin(), args.end());
        auto r = readers::runProcess(argv);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        std::vector<std::string> lines;
        std::ifstream in(out);
        for (std::string l; std::getline(in, l);)
            lines.push_back(l);
        return lines;
    };
    // The first line at or after `from` holding every one of `parts`.
    auto find = [](const std::vector<std::string>& lines, size_t from, std::vector<std::string> parts) {
        for (size_t i = from; i < lines.size(); ++i)
            if (std::all_of(parts.begin(), parts.end(), [&](auto& p) { return lines[i].find(p) != std::string::npos; }))
                return i;
        return lines.size();
    };
    const std::string folderSync = "fsync(", folder = "<" + s.dir + ">";

    auto created = trace({"create", file, "--format", "2000"});
    size_t i = find(created, 0, {"d.mdb\"", "O_CREAT"});
    ASSERT_LT(i, created.size());
    EXPECT_LT(find(created, i, {folderSync, folder}), created.size()) << "the new file's name is not flushed";

    auto changed = trace({"exec", file, "create table [t] ([a] int)"});
    size_t journal = find(changed, 0, {"d.mdb-journal\"", "O_CREAT"});
    ASSERT_LT(journal, changed.size());
    EXPECT_EQ(changed[journal].find("O_TRUNC"), std::string::npos) << changed[journal];
    size_t firstWrite = find(changed, journal, {"pwrite", "d.mdb>"});
    EXPECT_LT(find(changed, journal, {folderSync, folder}), firstWrite) << "the journal's name is not flushed";
    size_t cleared = changed.size();
    for (size_t k = find(changed, 0, {"pwrite64(", "d.mdb-journal>, \"\\0\\0\\0\\0", ", 64, 0)"}); k < changed.size();
         k = find(changed, k + 1, {"pwrite64(", "d.mdb-journal>, \"\\0\\0\\0\\0", ", 64, 0)"}))
        cleared = k;
    ASSERT_LT(cleared, changed.size()) << "no cleared header";
    EXPECT_LT(find(changed, cleared, {"fdatasync(", "d.mdb-journal>"}), changed.size())
        << "the cleared header is not flushed";
    size_t removed = find(changed, cleared, {"unlink", "d.mdb-journal\""});
    ASSERT_LT(removed, changed.size());
    EXPECT_LT(find(changed, removed, {folderSync, folder}), changed.size()) << "the journal's removal is not flushed";
}

// A crashed writer's file deleted and created anew: the old journal is not
// applied to the new file (it would list the old tables and be damaged).
TEST(JournalSafety, ANewFileUnderACrashedOnesNameStartsEmpty)
{
    Scratch s;
    const std::string path = s.dir + "/new.mdb";
    createWithOneRow(path);
    crashInATransaction(path, Crash::InCommit);
    ASSERT_TRUE(fs::exists(path + "-journal"));
    fs::remove(path);
    Database::create(path, Version::Jet4);
    EXPECT_FALSE(fs::exists(path + "-journal"));
    EXPECT_FALSE(Database::open(path)->hasTable("T"));
    expectSound(path);
}

// After our crash another program changed the file (here: our engine with
// the journal out of the way adds a table). The journal no longer belongs
// to the file: it is set aside, and the other program's table stays.
TEST(JournalSafety, AFileChangedByAnotherProgramKeepsItsChanges)
{
    Scratch s;
    const std::string path = s.dir + "/changed.mdb";
    createWithOneRow(path);
    crashInATransaction(path, Crash::InCommit);
    ASSERT_TRUE(fs::exists(path + "-journal"));
    fs::rename(path + "-journal", s.dir + "/away");
    {
        auto db = Database::open(path);
        execute(*db, "Create table [Other] ([a] int)");
        db->table("Other").append({Value::integer(7)});
        db->statementDone();
    }
    fs::rename(s.dir + "/away", path + "-journal");
    {
        auto db = Database::open(path);
        ASSERT_TRUE(db->hasTable("Other"));
        EXPECT_EQ(db->table("Other").readAll().size(), 1u);
        EXPECT_EQ(db->table("T").readAll().size(), 1u);
    }
    EXPECT_FALSE(fs::exists(path + "-journal"));
    EXPECT_TRUE(fs::exists(path + "-journal-unmatched"));
    expectSound(path);
}

// A writer reached the file through a symbolic link and crashed; the next
// writer opens it by its real path and still undoes the transaction.
TEST(JournalSafety, EveryNameOfTheFileFindsItsJournal)
{
    Scratch s;
    const std::string real = s.dir + "/real.mdb", link = s.dir + "/link.mdb";
    createWithOneRow(real);
    fs::create_symlink(real, link);
    crashInATransaction(link, Crash::InCommit);
    {
        auto db = Database::open(real);
        EXPECT_EQ(db->table("T").readAll().size(), 1u);
    }
    EXPECT_FALSE(fs::exists(real + "-journal"));
    expectSound(real);
}

// Another user plants "<file>-journal" as a link to a file of ours: the
// writer neither reads nor writes through it.
TEST(JournalSafety, APlantedLinkIsNeverFollowed)
{
    Scratch s;
    const std::string path = s.dir + "/shared.mdb", victim = s.dir + "/victim.txt";
    createWithOneRow(path);
    std::ofstream(victim) << "precious";
    auto victimText = [&] {
        std::stringstream t;
        t << std::ifstream(victim).rdbuf();
        return t.str();
    };
    // Planted while the file is open for writing.
    {
        auto db = Database::open(path);
        std::error_code planted;
        fs::create_symlink(victim, path + "-journal", planted);
        try {
            db->table("T").append({Value::integer(2), Value::text("more")});
            db->statementDone();
        } catch (const Error&) {
        }
    }
    EXPECT_EQ(victimText(), "precious");
    // Planted before: set aside, the link itself, not its target.
    fs::remove(path + "-journal");
    fs::create_symlink(victim, path + "-journal");
    {
        auto db = Database::open(path);
        db->table("T").append({Value::integer(3), Value::text("more")});
        db->statementDone();
    }
    EXPECT_EQ(victimText(), "precious");
    EXPECT_TRUE(fs::is_symlink(path + "-journal-unmatched"));
    expectSound(path);
}

// Whatever moment kills a writer, readers that know nothing of the journal
// (mdbtools, mdb-reader) find the last commit in the file as it lies; only
// a kill inside a commit leaves a hot journal, which check reports as
// "needs recovery" and the next writer applies.
TEST(JournalSafety, ReadersFindTheLastCommitWheneverAWriterDies)
{
    Scratch s;
    for (Crash when : {Crash::Early, Crash::Spilled, Crash::InCommit}) {
        const std::string path = s.dir + "/d" + std::to_string(int(when)) + ".mdb";
        createWithOneRow(path);
        crashInATransaction(path, when);
        if (readers::mdbtoolsAvailable()) {
            EXPECT_EQ(readers::mdbExport(path, "T").rows.size(), 1u);
        }
        if (readers::mdbReaderAvailable()) {
            auto r = readers::mdbReader(path, {"T"});
            ASSERT_NE(r.find("T"), nullptr);
            EXPECT_EQ(r.find("T")->rows.size(), 1u);
        }
        auto report = checkDatabase(path);
        if (when == Crash::InCommit) {
            ASSERT_FALSE(report.ok());
            EXPECT_NE(report.problems[0].find("needs recovery"), std::string::npos) << report.problems[0];
            EXPECT_EQ(report.problems.size(), 1u) << report.problems.back();
        } else {
            EXPECT_TRUE(report.ok()) << report.problems[0];
        }
        EXPECT_EQ(Database::open(path)->table("T").readAll().size(), 1u);
        EXPECT_FALSE(fs::exists(path + "-journal"));
        expectSound(path);
    }
}
