// Commits that write long runs of consecutive pages: the write is split into
// several vectored calls and every page must still land at its own offset.
#include "jet/checker.h"
#include "jet/database_int.h"
#include "jet/pager.h"
#include "jet/row_set.h"
#include "jet/statement.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace jet;

namespace {

std::string memoOf(int i)
{
    // Different per row, so that a page written at a wrong offset shows.
    return std::to_string(i) + std::string(1900, char('a' + i % 26)) + std::to_string(i);
}

void writeAndReadBack(Version version, int rows)
{
    const fs::path path = fs::temp_directory_path()
                          / ("pager_write_" + std::to_string(getpid()) + "_" + std::to_string(int(version)) + ".mdb");
    fs::remove(path);
    Database::create(path.string(), version);
    uint32_t pagesBefore = 0;
    uint32_t pagesAfter = 0;
    {
        auto db = Database::open(path.string());
        execute(*db, "Create table [T] ([a] int , [m] memo)");
        pagesBefore = internals(*db).pager().pageCount();
        auto rs = openQuery(*db, "select * from [T] where 1=0");
        db->begin();
        for (int i = 0; i < rows; ++i) {
            rs->append();
            rs->setField("a", Value::integer(i));
            rs->setField("m", Value::text(memoOf(i)));
            rs->post();
        }
        db->commit();
        pagesAfter = internals(*db).pager().pageCount();
    }
    // More new pages than one vectored write takes.
    EXPECT_GT(pagesAfter - pagesBefore, 1100u);
    EXPECT_TRUE(checkDatabase(path.string()).problems.empty());
    auto db = Database::open(path.string(), false);
    const auto all = db->table("T").readAll();
    ASSERT_EQ(all.size(), size_t(rows));
    for (int i = 0; i < rows; ++i) {
        EXPECT_EQ(all[size_t(i)][0].asInt(), i);
        EXPECT_EQ(all[size_t(i)][1].str(), memoOf(i)) << "row " << i;
    }
    db.reset();
    fs::remove(path);
}

}  // namespace

TEST(PagerWrite, LongRunOfNewPagesJet3)
{
    writeAndReadBack(Version::Jet3, 1300);
}

TEST(PagerWrite, LongRunOfNewPagesJet4)
{
    // Pages twice as large: twice the rows.
    writeAndReadBack(Version::Jet4, 2600);
}
