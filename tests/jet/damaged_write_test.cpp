// Writes into damaged files: a file whose row tables, usage maps or page map
// cannot be trusted is refused before anything is written, and the file
// stays as it was byte for byte. Hostile lengths cost no more than the data
// present.
#include "jet/bytes.h"
#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/index_ddl.h"
#include "jet/pager.h"
#include "jet/statement.h"
#include "jet/table.h"
#include "jet/table_def.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

namespace fs = std::filesystem;
using namespace jet;

namespace {

using Bytes = std::vector<uint8_t>;

struct Scratch {
    std::string dir;
    std::string path;
    Scratch()
    {
        char buf[] = "/tmp/jet-damaged-XXXXXX";
        dir = mkdtemp(buf);
        path = dir + "/d.mdb";
    }
    ~Scratch() { fs::remove_all(dir); }
};

Bytes load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void save(const std::string& path, const Bytes& b)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(b.data()), b.size());
}

const Format& jet4() { return jet4Format(); }

// A table T (a long, m memo) with `rows` rows, made by the engine.
void makeFile(const std::string& path, int rows, size_t memo = 20)
{
    Database::create(path, Version::Jet4);
    auto db = Database::open(path);
    execute(*db, "create table [T] ([a] long, [m] memo)");
    Table& t = db->table("T");
    db->begin();
    for (int i = 0; i < rows; ++i) {
        std::string text;
        for (size_t k = 0; k < memo; ++k)
            text += char('a' + (k * 7 + k / 26 + i) % 26);
        t.append({Value::integer(i), Value::text(text)});
    }
    db->commit();
}

TableDef defOf(const std::string& path)
{
    auto db = Database::open(path, false);
    return db->table("T").def();
}

uint8_t* page(Bytes& b, uint32_t pg) { return b.data() + size_t(pg) * jet4().pageSize; }

// The first data page holding T's rows.
uint32_t firstDataPage(const std::string& path)
{
    auto db = Database::open(path, false);
    return db->table("T").dataPages().at(0);
}

void setRowOffset(Bytes& b, uint32_t pg, uint16_t row, uint16_t raw)
{
    put16(page(b, pg) + jet4().dataHeaderSize + 2u * row, raw);
}

// Damages the file, runs `write`, and requires a refusal naming the damage
// with the file left byte for byte as it was.
void expectRefused(const std::string& path, const std::function<void(Bytes&)>& damage,
                   const std::function<void(Database&)>& write)
{
    Bytes b = load(path);
    damage(b);
    save(path, b);
    try {
        auto db = Database::open(path);
        write(*db);
        ADD_FAILURE() << "the write into the damaged file was not refused";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("is damaged"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(load(path) == b) << "the damaged file was changed";
    EXPECT_FALSE(fs::exists(path + "-journal"));
}

void appendRow(Database& db)
{
    db.table("T").append({Value::integer(1000), Value::text("new")});
    db.statementDone();
}

TEST(DamagedWrite, RowOffsetPastThePageEnd)
{
    Scratch s;
    makeFile(s.path, 3);
    uint32_t pg = firstDataPage(s.path);
    expectRefused(s.path, [&](Bytes& b) { setRowOffset(b, pg, 2, 0x1FF0); }, appendRow);
}

TEST(DamagedWrite, DeletedRowWithAWildOffset)
{
    Scratch s;
    makeFile(s.path, 3);
    uint32_t pg = firstDataPage(s.path);
    expectRefused(s.path, [&](Bytes& b) { setRowOffset(b, pg, 2, kRowDeleted | kRowOverflow | 0x1FF0); },
                  appendRow);
}

TEST(DamagedWrite, InlineUsageMapOfFiveBytes)
{
    Scratch s;
    makeFile(s.path, 0);
    uint32_t map = defOf(s.path).ownedMap;
    expectRefused(
        s.path,
        [&](Bytes& b) {
            // Row `map` keeps its end; its start moves up to leave 5 bytes.
            uint8_t* p = page(b, map >> 8);
            uint16_t r = uint16_t(map & 0xFF);
            auto [start, end] = data_page::rowBounds(jet4(), p, r);
            setRowOffset(b, map >> 8, r, uint16_t(end - 5));
            std::memset(p + end - 5, 0, 5);
        },
        appendRow);
}

// Every page of T called free in the global map: new rows elsewhere must not
// land on T's live rows.
TEST(DamagedWrite, PageMapCallsLivePagesFree)
{
    Scratch s;
    makeFile(s.path, 300, 100);
    std::vector<uint32_t> pages;
    {
        auto db = Database::open(s.path, false);
        pages = db->table("T").dataPages();
    }
    expectRefused(
        s.path,
        [&](Bytes& b) {
            uint8_t* p1 = page(b, 1);
            auto [start, end] = data_page::rowBounds(jet4(), p1, 0);
            ASSERT_EQ(p1[start], 0); // inline, starting at page 0
            ASSERT_EQ(get32(p1 + start + 1), 0u);
            for (uint32_t pg : pages)
                p1[start + 5 + pg / 8] |= uint8_t(1u << (pg % 8));
        },
        [](Database& db) {
            execute(db, "create table [U] ([a] long, [m] memo)");
            for (int i = 0; i < 50; ++i)
                db.table("U").append({Value::integer(i), Value::text(std::string(3000, 'u'))});
            db.statementDone();
        });
}

// A long-value chain whose row points at itself, with a stored length of
// 50 MB: the read is refused, or gives no more than the rows hold.
TEST(DamagedWrite, SelfLoopingLongValueChain)
{
    Scratch s;
    makeFile(s.path, 1, 6000);
    Bytes b = load(s.path);
    const Format& f = jet4();
    uint32_t dataPg = firstDataPage(s.path);
    bool looped = false;
    for (uint32_t pg = 2; pg < b.size() / f.pageSize && !looped; ++pg) {
        uint8_t* p = page(b, pg);
        if (p[0] != kPageData || std::memcmp(p + 4, "LVAL", 4) != 0)
            continue;
        for (uint16_t r = 0; r < data_page::rowCount(f, p); ++r) {
            uint32_t self = (pg << 8) | r;
            // The chain's head is the row the data row refers to.
            uint8_t* d = page(b, dataPg);
            for (uint32_t o = f.dataHeaderSize; o + 8 <= f.pageSize; ++o)
                if (get32(d + o + 4) == self && (get32(d + o) & 0xC0000000u) == 0 && get32(d + o) > 6000) {
                    put32(d + o, 50'000'000);
                    put32(p + data_page::rowBounds(f, p, r).first, self);
                    looped = true;
                    break;
                }
        }
    }
    ASSERT_TRUE(looped);
    save(s.path, b);
    auto db = Database::open(s.path, false);
    try {
        auto rows = db->table("T").readAll();
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_LT(rows[0][1].str().size(), b.size());
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("damaged"), std::string::npos) << e.what();
    }
}

// A stored row count of two billion: building an index reserves by the rows
// present, not by the count.
TEST(DamagedWrite, CreateIndexWithAHugeStoredRowCount)
{
    Scratch s;
    makeFile(s.path, 10);
    Bytes b = load(s.path);
    put32(page(b, defOf(s.path).page) + jet4().tdefRowCount, 0x7FFFFFF0u);
    save(s.path, b);
    auto db = Database::open(s.path);
    try {
        IndexSpec spec;
        spec.name = "ia";
        spec.columns = {IndexColumnSpec{"a", true}};
        createIndex(*db, "T", spec);
    } catch (const Error&) {
        // A refusal is as good as an index over the ten rows.
    }
}

} // namespace
