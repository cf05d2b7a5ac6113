// The rollback journal's safety: what a commit and the journal's creation
// and removal flush to disk, and journals applied only to the file they were
// written for (a file created anew, changed by another program, reached by
// another name), never through a planted symbolic link.
#include "jet/checker.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/statement.h"
#include "readers.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
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

// A writer, opened through `path`, that dies (SIGKILL) in a transaction: with
// `spill` after pages of it went into the file, else before any did.
void crashInATransaction(const std::string& path, bool spill)
{
    const auto size = fs::file_size(path);
    pid_t pid = fork();
    if (pid == 0) {
        auto db = Database::open(path);
        Table& t = db->table("T");
        db->begin();
        for (int i = 0; i < 1000000; ++i) {
            t.append({Value::integer(i), Value::text(std::string(90, 'q'))});
            db->statementDone();
            if (!spill || (i % 1000 == 0 && fs::file_size(path) > size + (1 << 20)))
                break;
        }
        ::kill(getpid(), SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
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
    crashInATransaction(path, true);
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
    crashInATransaction(path, false);
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
    crashInATransaction(link, true);
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
