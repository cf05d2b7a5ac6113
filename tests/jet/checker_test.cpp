// The structural check: it passes on every file Access made, and it fails on
// copies broken in the ways a faulty writer breaks files.
#include "jet/checker.h"
#include "jet/database.h"
#include "jet/statement.h"
#include "jet/bytes.h"
#include "jet/error.h"
#include "jet/format.h"

#include <gtest/gtest.h>
#include "fixtures.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path fixturesDir()
{
    return fixtures::dir();
}

std::vector<fs::path> allFixtures()
{
    std::vector<fs::path> files;
    for (const char* dir : {"jet3", "jet4"}) {
        fs::path d = fixturesDir() / dir;
        if (!fs::exists(d))
            continue;
        for (const auto& e : fs::directory_iterator(d))
            if (e.path().extension() == ".mdb")
                files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// A writable copy of a fixture in a temporary folder, removed afterwards.
class Copy {
public:
    explicit Copy(const std::string& fixture)
    {
        static int n = 0;
        path_ = fs::temp_directory_path() /
                ("checker_test_" + std::to_string(getpid()) + "_" + std::to_string(n++) + ".mdb");
        fs::copy_file(fixturesDir() / fixture, path_, fs::copy_options::overwrite_existing);
        fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
        std::ifstream in(path_, std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), {});
        pageSize_ = bytes_[20] == 1 ? 4096 : 2048;
    }
    ~Copy() { fs::remove(path_); }

    std::string path() const { return path_.string(); }
    uint32_t pageCount() const { return uint32_t(bytes_.size() / pageSize_); }
    const jet::Format& format() const { return pageSize_ == 4096 ? jet::jet4Format() : jet::jet3Format(); }
    uint8_t* page(uint32_t p) { return reinterpret_cast<uint8_t*>(bytes_.data()) + size_t(p) * pageSize_; }
    // Start of a row on a data page.
    uint8_t* row(uint32_t p, uint32_t r)
    {
        return page(p) + (jet::get16(page(p) + format().dataHeaderSize + 2 * r) & jet::kRowOffsetMask);
    }
    void save()
    {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(bytes_.data(), std::streamsize(bytes_.size()));
    }
    uint32_t tablePage(const std::string& name)
    {
        for (const auto& t : jet::catalogTables(path()))
            if (t.name == name)
                return t.definitionPage;
        ADD_FAILURE() << "no table " << name;
        return 0;
    }

private:
    fs::path path_;
    std::string bytes_;
    uint32_t pageSize_ = 0;
};

bool mentions(const jet::CheckReport& r, const std::string& text)
{
    for (const auto& p : r.problems)
        if (p.find(text) != std::string::npos)
            return true;
    return false;
}

std::string problems(const jet::CheckReport& r)
{
    std::string s;
    for (const auto& p : r.problems)
        s += p + "\n";
    return s;
}

#define REQUIRE_FIXTURES()                                      \
    do {                                                        \
        FERROWANE_REQUIRE_FIXTURES();                           \
        if (allFixtures().empty())                              \
            GTEST_SKIP() << "no fixtures at " << fixturesDir(); \
    } while (0)

}  // namespace

TEST(Checker, PassesOnEveryFileAccessMade)
{
    REQUIRE_FIXTURES();
    auto files = allFixtures();
    EXPECT_GE(files.size(), 25u);
    for (const auto& f : files) {
        jet::CheckReport r = jet::checkDatabase(f.string());
        EXPECT_TRUE(r.ok()) << f << ":\n" << problems(r);
        EXPECT_GE(r.tables, 4u) << f;  // at least the engine's own tables
    }
}

TEST(Checker, CountsTheRowsOfTablesWithMovedAndDeletedRows)
{
    REQUIRE_FIXTURES();
    for (const char* f : {"jet3/overflowTestV1997.mdb", "jet4/overflowTestV2000.mdb", "jet3/delTestV1997.mdb",
                          "jet4/delTestV2000.mdb"}) {
        jet::CheckReport r = jet::checkDatabase((fixturesDir() / f).string());
        EXPECT_TRUE(r.ok()) << f << ":\n" << problems(r);
    }
}

TEST(Checker, ListsTheCatalogsTables)
{
    REQUIRE_FIXTURES();
    auto tables = jet::catalogTables((fixturesDir() / "jet3/testV1997.mdb").string());
    std::vector<std::string> user;
    for (const auto& t : tables) {
        if (!t.system)
            user.push_back(t.name);
        if (t.name == "MSysObjects") {
            EXPECT_EQ(t.definitionPage, 2u);
        }
    }
    EXPECT_EQ(user, (std::vector<std::string>{"Table1", "Table2", "Table3", "Table4"}));

    auto empty = jet::catalogTables((fixturesDir() / "jet4/emptyJet4.mdb").string());
    ASSERT_EQ(empty.size(), 4u);
    for (const auto& t : empty)
        EXPECT_TRUE(t.system) << t.name;
}

TEST(Checker, FailsWhenARowCountIsWrong)
{
    REQUIRE_FIXTURES();
    for (const char* f : {"jet3/testV1997.mdb", "jet4/compIndexTestV2000.mdb"}) {
        Copy c(f);
        uint32_t tdef = c.tablePage("Table1");
        uint8_t* count = c.page(tdef) + c.format().tdefRowCount;
        jet::put32(count, jet::get32(count) + 1);
        c.save();
        jet::CheckReport r = jet::checkDatabase(c.path());
        EXPECT_FALSE(r.ok()) << f;
        EXPECT_TRUE(mentions(r, "table Table1: its row count says")) << problems(r);
    }
}

TEST(Checker, FailsWhenTheGlobalMapMarksAUsedPageFree)
{
    REQUIRE_FIXTURES();
    for (const char* f : {"jet3/testV1997.mdb", "jet4/emptyJet4.mdb"}) {
        Copy c(f);
        uint32_t tdef = c.tablePage("MSysACEs");
        uint8_t* map = c.row(1, 0);
        ASSERT_EQ(map[0], 0) << "an inline global map expected";
        uint32_t bit = tdef - jet::get32(map + 1);
        map[5 + bit / 8] ^= uint8_t(1 << (bit % 8));
        c.save();
        jet::CheckReport r = jet::checkDatabase(c.path());
        EXPECT_TRUE(mentions(r, "page " + std::to_string(tdef) + " belongs to the definition of table MSysACEs but "
                                "the global map marks it free"))
            << problems(r);
    }
}

// A window that starts past page 0 leaves the pages before it to each
// program's guess.
TEST(Checker, FailsWhenPagesLieOutsideTheGlobalMap)
{
    REQUIRE_FIXTURES();
    Copy c("jet4/emptyJet4.mdb");
    uint8_t* map = c.row(1, 0);
    ASSERT_EQ(map[0], 0);
    jet::put32(map + 1, 8);
    // The bits of pages 8 on, moved along.
    std::memmove(map + 5, map + 6, 63);
    map[68] = 0xFF;
    c.save();
    jet::CheckReport r = jet::checkDatabase(c.path());
    EXPECT_TRUE(mentions(r, "8 pages of the file, from page 0 on, lie outside the global map")) << problems(r);
}

TEST(Checker, FailsWhenATablesMapListsAPageThatIsNotItsOwn)
{
    REQUIRE_FIXTURES();
    Copy c("jet4/compIndexTestV2000.mdb");
    uint32_t tdef = c.tablePage("Table1");
    uint32_t mapPointer = jet::get32(c.page(tdef) + c.format().tdefOwnedMap);
    uint8_t* map = c.row(mapPointer >> 8, mapPointer & 0xFF);
    ASSERT_EQ(map[0], 0);
    // List the table's own definition page as one of its data pages.
    uint32_t bit = tdef - jet::get32(map + 1);
    map[5 + bit / 8] |= uint8_t(1 << (bit % 8));
    c.save();
    jet::CheckReport r = jet::checkDatabase(c.path());
    EXPECT_TRUE(mentions(r, "table Table1: its map lists page " + std::to_string(tdef))) << problems(r);
}

TEST(Checker, FailsWhenADataPageIsLeftOutOfItsTablesMap)
{
    REQUIRE_FIXTURES();
    Copy c("jet3/compIndexTestV1997.mdb");
    uint32_t tdef = c.tablePage("Table1");
    uint32_t mapPointer = jet::get32(c.page(tdef) + c.format().tdefOwnedMap);
    uint8_t* map = c.row(mapPointer >> 8, mapPointer & 0xFF);
    ASSERT_EQ(map[0], 0);
    uint32_t start = jet::get32(map + 1);
    // Clear the first listed page.
    uint32_t dropped = 0;
    for (uint32_t i = 0; i < c.format().inlineMapBytes * 8; ++i)
        if (map[5 + i / 8] & (1 << (i % 8))) {
            map[5 + i / 8] &= uint8_t(~(1 << (i % 8)));
            dropped = start + i;
            break;
        }
    ASSERT_NE(dropped, 0u);
    c.save();
    jet::CheckReport r = jet::checkDatabase(c.path());
    EXPECT_TRUE(mentions(r, "data page " + std::to_string(dropped) + " names the table but its map does not list it"))
        << problems(r);
    EXPECT_TRUE(mentions(r, "row count says")) << problems(r);
}

TEST(Checker, FailsWhenALongValueIsCutShort)
{
    REQUIRE_FIXTURES();
    Copy c("jet4/overflowTestV2000.mdb");
    jet::CheckReport before = jet::checkDatabase(c.path());
    ASSERT_TRUE(before.ok()) << problems(before);
    // Shorten the first long-value row by moving its start one byte on.
    bool changed = false;
    for (uint32_t p = 1; p < c.pageCount() && !changed; ++p) {
        uint8_t* b = c.page(p);
        if (b[0] != jet::kPageData || std::memcmp(b + 4, "LVAL", 4) != 0)
            continue;
        uint8_t* off = b + c.format().dataHeaderSize;
        if (jet::get16(b + c.format().dataRowCountOffset) == 0 || (jet::get16(off) & 0xC000))
            continue;
        jet::put16(off, uint16_t(jet::get16(off) + 1));
        changed = true;
    }
    ASSERT_TRUE(changed);
    c.save();
    jet::CheckReport r = jet::checkDatabase(c.path());
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(mentions(r, "a long value of")) << problems(r);
}

TEST(Checker, FailsWhenACatalogRowPointsAtSomethingElse)
{
    REQUIRE_FIXTURES();
    Copy c("jet3/testV1997.mdb");
    uint32_t t1 = c.tablePage("Table1");
    // Make Table1's definition page look like a data page.
    c.page(t1)[0] = jet::kPageData;
    c.save();
    jet::CheckReport r = jet::checkDatabase(c.path());
    EXPECT_TRUE(mentions(r, "table Table1: definition page " + std::to_string(t1) + " is not a table definition page"))
        << problems(r);
}

TEST(Checker, RefusesFilesThatAreNoDatabase)
{
    fs::path p = fs::temp_directory_path() / ("checker_test_not_" + std::to_string(getpid()));
    {
        std::ofstream out(p, std::ios::binary);
        out << std::string(4096, 'x');
    }
    EXPECT_THROW(jet::checkDatabase(p.string()), jet::Error);
    fs::remove(p);
    EXPECT_THROW(jet::checkDatabase((fs::temp_directory_path() / "no_such_file.mdb").string()), jet::Error);
}

TEST(Checker, ReportsRatherThanCrashesOnGarbagePages)
{
    REQUIRE_FIXTURES();
    // Every page but the header overwritten with a pattern: a report, no crash.
    for (const char* f : {"jet3/testV1997.mdb", "jet4/emptyJet4.mdb"}) {
        for (uint8_t fill : {0x00, 0x01, 0x02, 0xFF}) {
            Copy c(f);
            const uint32_t pageSize = c.format().pageSize;
            for (uint32_t p = 1; p < 4; ++p)
                std::memset(c.page(p), fill, pageSize);
            c.page(2)[0] = jet::kPageTableDef;
            c.save();
            try {
                jet::CheckReport r = jet::checkDatabase(c.path());
                EXPECT_FALSE(r.ok()) << f << " fill " << int(fill);
            } catch (const jet::Error&) {
                // the catalog itself unreadable: an error is fine too
            }
        }
    }
}

TEST(Checker, FailsWhenAnIndexEntryIsWrong)
{
    REQUIRE_FIXTURES();
    for (const char* f : {"jet3/compIndexTestV1997.mdb", "jet4/compIndexTestV2000.mdb"}) {
        Copy c(f);
        // The first leaf page of the user table's index that holds entries.
        uint32_t tdef = c.tablePage("Table1");
        uint32_t leaf = 0;
        for (uint32_t p = 1; p < c.pageCount() && !leaf; ++p) {
            const uint8_t* b = c.page(p);
            if (b[0] == jet::kPageIndexLeaf && jet::get32(b + 4) == tdef && jet::get16(b + 2) < c.format().pageSize - 0x200)
                leaf = p;
        }
        ASSERT_NE(leaf, 0u) << f;
        // The first key byte after the column's order flag.
        c.page(leaf)[c.format().indexEntriesOffset + 1] ^= 0x01;
        c.save();
        jet::CheckReport r = jet::checkDatabase(c.path());
        EXPECT_FALSE(r.ok()) << f;
        EXPECT_TRUE(mentions(r, "table Table1, index ")) << problems(r);
    }
}

TEST(Checker, PassesOnIndexedTablesWeWriteAndFailsWhenARowNoLongerMatchesItsIndex)
{
    for (jet::Version v : {jet::Version::Jet3, jet::Version::Jet4}) {
        const fs::path file = fs::temp_directory_path() /
                              ("checker_test_written_" + std::to_string(getpid()) + "_" + std::to_string(int(v)) + ".mdb");
        fs::remove(file);
        {
            jet::Database::create(file.string(), v);
            auto db = jet::Database::open(file.string(), true);
            jet::execute(*db, "Create table [K] (id int, name text(50))");
            jet::execute(*db, "alter table K  add constraint pk primary key (id)");
            jet::execute(*db, "create index byname on K (name DESC)");
            jet::Table& t = db->table("K");
            db->begin();
            for (int i = 0; i < 3000; ++i) {
                std::vector<jet::Value> row(t.def().columns.size());
                for (size_t c = 0; c < row.size(); ++c)
                    row[c] = t.def().columns[c].name == "id" ? jet::Value::integer(i * 7919 % 3001)
                                                             : jet::Value::text("name " + std::to_string(i % 97));
                t.append(row);
            }
            db->commit();
        }
        jet::CheckReport good = jet::checkDatabase(file.string());
        EXPECT_TRUE(good.ok()) << problems(good);

        // Change the id of one row behind the engine's back.
        uint32_t tdef = 0;
        for (const auto& t : jet::catalogTables(file.string()))
            if (t.name == "K")
                tdef = t.definitionPage;
        ASSERT_NE(tdef, 0u);
        const jet::Format& f = jet::formatFor(v);
        std::fstream io(file, std::ios::in | std::ios::out | std::ios::binary);
        std::vector<uint8_t> page(f.pageSize);
        bool changed = false;
        for (uint32_t p = 3; !changed && io.seekg(std::streamoff(p) * f.pageSize) &&
                             io.read(reinterpret_cast<char*>(page.data()), f.pageSize);
             ++p) {
            if (page[0] != jet::kPageData || jet::get32(page.data() + 4) != tdef)
                continue;
            uint32_t start = jet::get16(page.data() + f.dataHeaderSize) & jet::kRowOffsetMask;
            // id is the only fixed column: it follows the column count.
            page[start + (f.jet4() ? 2 : 1)] ^= 0x40;
            io.seekp(std::streamoff(p) * f.pageSize);
            io.write(reinterpret_cast<const char*>(page.data()), f.pageSize);
            changed = true;
        }
        io.close();
        ASSERT_TRUE(changed);
        jet::CheckReport bad = jet::checkDatabase(file.string());
        EXPECT_TRUE(mentions(bad, "table K, index pk")) << problems(bad);
        EXPECT_FALSE(mentions(bad, "index byname")) << problems(bad);
        fs::remove(file);
    }
}

// The checker encodes keys itself: a stored key that differs from the one
// the row gives is reported even where the tree stays sound.
TEST(Checker, FailsWhenAStoredKeyDiffersFromItsRow)
{
    for (jet::Version v : {jet::Version::Jet3, jet::Version::Jet4}) {
        const fs::path file = fs::temp_directory_path() /
                              ("checker_test_key_" + std::to_string(getpid()) + "_" + std::to_string(int(v)) + ".mdb");
        fs::remove(file);
        {
            jet::Database::create(file.string(), v);
            auto db = jet::Database::open(file.string(), true);
            jet::execute(*db, "Create table [K] (name text(50))");
            jet::execute(*db, "create index byname on K (name)");
            db->begin();
            db->table("K").append({jet::Value::text("abc")});
            db->commit();
        }
        ASSERT_TRUE(jet::checkDatabase(file.string()).ok());
        uint32_t tdef = 0;
        for (const auto& t : jet::catalogTables(file.string()))
            if (t.name == "K")
                tdef = t.definitionPage;
        const jet::Format& f = jet::formatFor(v);
        std::fstream io(file, std::ios::in | std::ios::out | std::ios::binary);
        std::vector<uint8_t> page(f.pageSize);
        bool changed = false;
        for (uint32_t p = 3; !changed && io.seekg(std::streamoff(p) * f.pageSize) &&
                             io.read(reinterpret_cast<char*>(page.data()), f.pageSize);
             ++p) {
            if (page[0] != jet::kPageIndexLeaf || jet::get32(page.data() + 4) != tdef)
                continue;
            // The sort code of the first character, after the order flag:
            // "abc" now reads as "bbc" to anyone decoding the key.
            ++page[f.indexEntriesOffset + 1];
            io.seekp(std::streamoff(p) * f.pageSize);
            io.write(reinterpret_cast<const char*>(page.data()), f.pageSize);
            changed = true;
        }
        io.close();
        ASSERT_TRUE(changed);
        jet::CheckReport bad = jet::checkDatabase(file.string());
        EXPECT_TRUE(mentions(bad, "index byname: has no entry for the row at")) << problems(bad);
        EXPECT_TRUE(mentions(bad, "index byname: holds an entry for")) << problems(bad);
        fs::remove(file);
    }
}

// What Access leaves behind as a matter of course is noted, not a problem:
// used pages no object owns, stale counts of its system tables.
TEST(Checker, NotesWhatIsNormalInAccessFilesApartFromProblems)
{
    REQUIRE_FIXTURES();
    Copy c("jet4/test2V2000.mdb");
    // Mark the free pages used in the global map (page 1, row 0, inline),
    // but for old data pages, which would name a table that does not own them.
    uint8_t* map = c.row(1, 0);
    ASSERT_EQ(map[0], 0);
    int freed = 0;
    for (uint32_t i = 0; i < c.format().inlineMapBytes * 8 && jet::get32(map + 1) + i < c.pageCount(); ++i)
        if ((map[5 + i / 8] & (1 << (i % 8))) && c.page(jet::get32(map + 1) + i)[0] != jet::kPageData) {
            map[5 + i / 8] &= uint8_t(~(1 << (i % 8)));
            ++freed;
        }
    ASSERT_GT(freed, 0);
    // And give a system table a stale row count.
    uint32_t aces = c.tablePage("MSysACEs");
    jet::put32(c.page(aces) + c.format().tdefRowCount, jet::get32(c.page(aces) + c.format().tdefRowCount) + 1);
    c.save();
    jet::CheckReport r = jet::checkDatabase(c.path());
    EXPECT_TRUE(r.ok()) << problems(r);
    EXPECT_EQ(r.noteCount, uint64_t(freed) + 1);
    EXPECT_EQ(r.notes.size(), r.noteCount);
    bool counted = false;
    for (const auto& n : r.notes)
        counted |= n.find("table MSysACEs: its row count says") != std::string::npos;
    EXPECT_TRUE(counted);
}

TEST(Checker, FailsWhenADataPagesFreeSpaceIsWrong)
{
    REQUIRE_FIXTURES();
    Copy c("jet3/testV1997.mdb");
    uint32_t tdef = c.tablePage("Table1");
    uint32_t page = 0;
    for (uint32_t p = 1; p < c.pageCount() && !page; ++p)
        if (c.page(p)[0] == jet::kPageData && jet::get32(c.page(p) + 4) == tdef)
            page = p;
    ASSERT_NE(page, 0u);
    jet::put16(c.page(page) + 2, uint16_t(jet::get16(c.page(page) + 2) + 10));
    c.save();
    jet::CheckReport r = jet::checkDatabase(c.path());
    EXPECT_TRUE(mentions(r, "data page " + std::to_string(page) + ": its free-space field says")) << problems(r);
}
