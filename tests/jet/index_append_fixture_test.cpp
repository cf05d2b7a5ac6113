// Appending to the indexed tables of Access-made files: every index stays
// exactly what the rows encode to (Access's own pages are split and
// extended), `check` passes, and a duplicate of a unique key is refused.
#include "jet/checker.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/index_ddl.h"
#include "jet/index_store.h"
#include "jet/index_tree.h"

#include <gtest/gtest.h>
#include "fixtures.h"

#include <algorithm>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;
using namespace jet;

namespace {

fs::path fixture(const std::string& rel) { return fixtures::path(rel); }

Value randomValue(const ColumnDef& c, std::mt19937& rng)
{
    if (c.isAutoNumber())
        return Value::null();
    switch (c.type) {
    case ColumnType::Boolean: return Value::boolean(rng() % 2);
    case ColumnType::Byte: return Value::integer(rng() % 256);
    case ColumnType::Integer: return Value::integer(int(rng() % 60000) - 30000);
    case ColumnType::Long: return Value::integer(std::int64_t(rng() % 2000000000) - 1000000000);
    case ColumnType::Currency: return Value::decimal(std::to_string(int(rng() % 2000000) - 1000000) + ".5");
    case ColumnType::Single:
    case ColumnType::Double: return Value::real(double(int(rng() % 2000000) - 1000000) / 64);
    case ColumnType::DateTime: {
        DateTime d;
        d.year = 1950 + int(rng() % 80);
        d.month = 1 + int(rng() % 12);
        d.day = 1 + int(rng() % 28);
        d.hour = int(rng() % 24);
        return Value::date(d);
    }
    case ColumnType::Text:
    case ColumnType::Memo: {
        static const char* parts[] = {"alpha", "Beta", "gamma", "Zeta", "éclair", "straße", "ÆON", "x", " ", "-", "9"};
        std::string s;
        std::size_t limit = c.type == ColumnType::Text ? std::max<std::size_t>(1, c.length / 2) : 60;
        if (limit > 30)
            limit = 30;
        while (s.size() < limit / 2 + 1)
            s += parts[rng() % 11];
        while (s.size() > limit)
            s.pop_back();
        while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0x80)
            s.pop_back();  // never end inside a character
        if (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0xC0)
            s.pop_back();
        return Value::text(s);
    }
    case ColumnType::Binary: {
        std::string b(rng() % std::max<std::size_t>(1, std::min<std::size_t>(c.length, 16)), '\0');
        for (char& ch : b)
            ch = char(rng());
        return Value::bytes(b);
    }
    case ColumnType::Guid: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%04X-%08X%04X}", unsigned(rng()), unsigned(rng() % 65536),
                      unsigned(rng() % 65536), unsigned(rng() % 65536), unsigned(rng()), unsigned(rng() % 65536));
        return Value::guid(buf);
    }
    default: return Value::null();
    }
}

std::vector<IndexEntry> rowsEntries(Database& db, Table& t, const PhysicalIndexDef& idx)
{
    std::vector<IndexEntry> want;
    t.scan([&](const std::vector<Value>& values, std::uint32_t ptr) {
        IndexEntry e;
        e.key = rowIndexKey(db.format(), t.def(), idx, values);
        e.dataPage = ptr >> 8;
        e.dataRow = std::uint8_t(ptr);
        if (!((idx.flags & kIndexIgnoreNulls) && isNullKey(e.key)))
            want.push_back(std::move(e));
        return true;
    });
    std::sort(want.begin(), want.end(), [](auto& a, auto& b) { return compareEntries(a, b) < 0; });
    return want;
}

struct Outcome {
    int appended = 0;
    int refused = 0;
    int indexes = 0;
};

Outcome appendAndVerify(const fs::path& source, int rowsPerTable)
{
    Outcome out;
    char buf[] = "/tmp/idx-append-XXXXXX";
    std::string dir = mkdtemp(buf);
    std::string path = dir + "/" + source.filename().string();
    fs::copy_file(source, path);
    // The fixtures are read-only; their copy is written to (and removed, which
    // Windows refuses for a read-only file).
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
    {
        auto db = Database::open(path);
        std::mt19937 rng(17);
        for (const std::string& name : db->tableNames()) {
            Table& t = db->table(name);
            if (t.def().physicalIndexes.empty())
                continue;
            bool usable = true;
            for (const auto& pi : t.def().physicalIndexes)
                for (const auto& ic : pi.columns)
                    if (const ColumnDef* c = t.def().columnByNumber(ic.columnNumber); !c || !canIndexColumn(db->format(), *c))
                        usable = false;
            if (!usable)
                continue;
            db->begin();
            for (int i = 0; i < rowsPerTable; ++i) {
                std::vector<Value> values;
                for (const ColumnDef& c : t.def().columns)
                    values.push_back(randomValue(c, rng));
                std::uint32_t before = t.rowCount();
                try {
                    t.append(values);
                    ++out.appended;
                } catch (const Error&) {
                    // a random value may repeat a unique key, or break a rule of the table
                    EXPECT_EQ(t.rowCount(), before);
                    ++out.refused;
                }
            }
            db->commit();

            // Every index holds exactly the rows' keys.
            for (const PhysicalIndexDef& idx : t.def().physicalIndexes) {
                ++out.indexes;
                IndexStore store(*db, idx.usageMap);
                IndexTree tree(store, t.def().page, idx.firstPage);
                IndexScan scan = tree.verify();
                std::vector<IndexEntry> want = rowsEntries(*db, t, idx);
                EXPECT_EQ(scan.entries.size(), want.size()) << source << " " << name;
                // A date read back as a Value need not give the stored double
                // to the last bit; `check` below compares those indexes with
                // the row bytes themselves.
                bool hasDate = false;
                for (const auto& ic : idx.columns)
                    if (const ColumnDef* c = t.def().columnByNumber(ic.columnNumber); c && c->type == ColumnType::DateTime)
                        hasDate = true;
                if (hasDate)
                    continue;
                for (std::size_t k = 0; k < std::min(want.size(), scan.entries.size()); ++k) {
                    if (scan.entries[k].key != want[k].key || scan.entries[k].dataPage != want[k].dataPage ||
                        scan.entries[k].dataRow != want[k].dataRow) {
                        auto hex = [](std::span<const std::uint8_t> b) {
                            std::string h;
                            for (auto x : b) {
                                char t[4];
                                std::snprintf(t, sizeof t, "%02X ", x);
                                h += t;
                            }
                            return h;
                        };
                        ADD_FAILURE() << source << " " << name << ": entry " << k << " differs\n tree "
                                      << hex(scan.entries[k].key) << scan.entries[k].dataPage << ":"
                                      << int(scan.entries[k].dataRow) << "\n rows " << hex(want[k].key)
                                      << want[k].dataPage << ":" << int(want[k].dataRow);
                        break;
                    }
                }
            }

            // A copy of an existing row breaks every unique index it has.
            for (const PhysicalIndexDef& idx : t.def().physicalIndexes) {
                if (!(idx.flags & kIndexUnique))
                    continue;
                std::vector<Value> existing;
                t.scan([&](const std::vector<Value>& values, std::uint32_t) {
                    existing = values;
                    return !isNullKey(rowIndexKey(db->format(), t.def(), idx, values));
                });
                if (existing.empty() || isNullKey(rowIndexKey(db->format(), t.def(), idx, existing)))
                    continue;
                std::uint32_t before = t.rowCount();
                EXPECT_THROW(t.append(existing), Error) << source << " " << name;
                db->statementDone();
                EXPECT_EQ(t.rowCount(), before);
                break;
            }
        }
    }
    CheckReport r = checkDatabase(path);
    for (const auto& p : r.problems)
        ADD_FAILURE() << source.filename() << ": " << p;
    fs::remove_all(dir);
    return out;
}

}  // namespace

TEST(IndexAppendFixtures, AccessMadeIndexesStayExact)
{
    FERROWANE_REQUIRE_FIXTURES();
    Outcome total;
    for (const char* f : {"jet4/bigIndexTestV2000.mdb", "jet4/compIndexTestV2000.mdb", "jet4/indexTestV2000.mdb",
                          "jet4/indexCursorTestV2000.mdb", "jet4/testIndexPropertiesV2000.mdb",
                          "jet3/compIndexTestV1997.mdb", "jet3/indexTestV1997.mdb", "jet3/testIndexCodesV1997.mdb"}) {
        Outcome o = appendAndVerify(fixture(f), 1500);
        total.appended += o.appended;
        total.refused += o.refused;
        total.indexes += o.indexes;
    }
    std::cout << total.appended << " rows appended, " << total.refused << " refused, " << total.indexes
              << " indexes verified\n";
    EXPECT_GT(total.appended, 10000);
    EXPECT_GT(total.indexes, 20);
}
