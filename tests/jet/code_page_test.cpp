// Code page 1252 in Jet 3 files: every byte comes back as it went in,
// including the five the code page leaves unassigned, which stand for the C1
// controls of the same number in both directions.
#include "jet/code_page.h"
#include "jet/database.h"
#include "jet/row_set.h"
#include "jet/statement.h"
#include "jet/text_codec.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using namespace jet;

TEST(CodePage1252, EveryByteRoundTrips)
{
    for (int b = 0; b < 256; ++b) {
        const char16_t c = cp1252::decode(uint8_t(b));
        EXPECT_EQ(cp1252::encode(c), b) << "byte " << b;
    }
    for (char32_t c : {U'\u0081', U'\u008D', U'\u008F', U'\u0090', U'\u009D'}) {
        EXPECT_TRUE(cp1252::canStore(c));
        EXPECT_EQ(cp1252::decode(uint8_t(cp1252::encode(c))), c);
    }
    EXPECT_FALSE(cp1252::canStore(U'\u0080'));
    EXPECT_FALSE(cp1252::canStore(U'\u4E2D'));
}

TEST(CodePage1252, UnassignedBytesAreStoredInJet3Text)
{
    char dir[] = "/tmp/jet-cp-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string path = std::string(dir) + "/c1.mdb";
    Database::create(path, Version::Jet3);
    const std::string c1 = "a\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D\xE2\x82\xAC";  // a, five C1 controls, euro
    {
        auto db = Database::open(path);
        execute(*db, "create table [t] ([x] text(20), [m] memo)");
        auto rs = openQuery(*db, "select * from [t] where 1=0");
        rs->append();
        rs->setField("x", Value::text(c1));
        rs->setField("m", Value::text(c1));
        rs->post();
    }
    int rows = 0;
    {
        // Closed before its folder goes (Windows removes no open file).
        auto db = Database::open(path, false);
        db->table("t").scan([&](const std::vector<Value>& row, uint32_t) {
            EXPECT_EQ(row.at(0).str(), c1);
            EXPECT_EQ(row.at(1).str(), c1);
            ++rows;
            return true;
        });
    }
    EXPECT_EQ(rows, 1);
    std::filesystem::remove_all(dir);
}
