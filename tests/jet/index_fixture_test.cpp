// Every index of every Access-made fixture: the tree must pass our checks,
// and the entries recomputed from the rows' values must equal, byte for
// byte, what Access wrote.
//
// The file is read directly (table definitions, data pages, rows) so that
// this ground truth does not depend on the row code under test elsewhere.
#include "jet/index_check.h"
#include "jet/index_key.h"
#include "jet/index_tree.h"

#include <gtest/gtest.h>
#include "fixtures.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

using namespace jet;
namespace fs = std::filesystem;

namespace {

fs::path fixturesDir() { return fixtures::dir(); }

std::uint32_t le16(const std::uint8_t* p) { return p[0] | p[1] << 8; }
std::uint32_t le32(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24; }

std::string hex(std::span<const std::uint8_t> b)
{
    static const char* d = "0123456789ABCDEF";
    std::string s;
    for (std::uint8_t x : b) {
        s += d[x >> 4];
        s += d[x & 15];
        s += ' ';
    }
    return s;
}

// A whole file in memory, read-only for the tree.
class FilePages : public IndexPageStore {
public:
    explicit FilePages(const fs::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
        format = bytes.size() > 0x14 && bytes[0x14] >= 1 ? Version::Jet4 : Version::Jet3;
        pageSize = indexPageSize(format);
    }
    Version version() const override { return format; }
    void readPage(std::uint32_t page, std::span<std::uint8_t> out) override
    {
        if ((page + 1) * std::size_t(pageSize) > bytes.size())
            throw IndexError("page past the end of the file");
        std::memcpy(out.data(), page_(page), pageSize);
    }
    void writePage(std::uint32_t, std::span<const std::uint8_t>) override { throw IndexError("read only"); }
    std::uint32_t allocatePage() override { throw IndexError("read only"); }
    void freePage(std::uint32_t) override { throw IndexError("read only"); }

    const std::uint8_t* page_(std::uint32_t p) const { return bytes.data() + std::size_t(p) * pageSize; }
    std::uint32_t pageCount() const { return std::uint32_t(bytes.size() / pageSize); }
    bool jet4() const { return format == Version::Jet4; }

    std::vector<std::uint8_t> bytes;
    Version format;
    std::size_t pageSize;
};

struct Column {
    std::string name;
    ColumnType type;
    std::uint16_t number, varIndex, fixedOffset, length;
    bool fixed;
};

struct PhysIndex {
    std::vector<std::pair<std::uint16_t, bool>> columns;  // number, ascending
    std::uint32_t firstPage = 0;
    std::uint8_t flags = 0;
    std::uint32_t distinct = 0;
};

struct Table {
    std::uint32_t page = 0;
    std::vector<Column> columns;
    std::vector<PhysIndex> indexes;
    std::vector<std::string> indexNames;  // logical names, for messages
};

std::u16string fromCp1252(const std::uint8_t* p, std::size_t n)
{
    static const char16_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::u16string s;
    for (std::size_t i = 0; i < n; ++i)
        s += p[i] >= 0x80 && p[i] < 0xA0 ? high[p[i] - 0x80] : char16_t(p[i]);
    return s;
}

std::u16string jet4Text(const std::uint8_t* p, std::size_t n)
{
    std::u16string s;
    if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        bool compressed = true;
        for (std::size_t i = 2; i < n;) {
            if (p[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                s += char16_t(p[i++]);
            } else {
                if (i + 1 >= n)
                    break;
                s += char16_t(p[i] | p[i + 1] << 8);
                i += 2;
            }
        }
        return s;
    }
    for (std::size_t i = 0; i + 1 < n; i += 2)
        s += char16_t(p[i] | p[i + 1] << 8);
    return s;
}

// The table definition: first page plus continuation pages.
Table readTable(const FilePages& f, std::uint32_t page)
{
    const bool j4 = f.jet4();
    std::vector<std::uint8_t> d(f.page_(page), f.page_(page) + f.pageSize);
    for (std::uint32_t next = le32(f.page_(page) + 4), guard = 0; next && guard < 100; ++guard) {
        const std::uint8_t* np = f.page_(next);
        d.insert(d.end(), np + 8, np + f.pageSize);
        next = le32(np + 4);
    }
    d.resize(d.size() + 4096, 0);  // reads past a damaged definition stay in bounds
    Table t;
    t.page = page;
    if (le32(&d[8]) > 64 * f.pageSize)
        throw std::runtime_error("not a first definition page");
    std::size_t ncols = le16(&d[j4 ? 45 : 25]);
    std::size_t nlogical = le32(&d[j4 ? 47 : 27]);
    std::size_t nphys = le32(&d[j4 ? 51 : 31]);
    if (ncols > 255 || nlogical > 64 || nphys > 64)
        throw std::runtime_error("not a first definition page");
    std::size_t pos = j4 ? 63 : 43;
    std::vector<std::uint32_t> distinct;
    for (std::size_t i = 0; i < nphys; ++i) {
        distinct.push_back(le32(&d[pos + 4]));
        pos += j4 ? 12 : 8;
    }
    for (std::size_t i = 0; i < ncols; ++i) {
        const std::uint8_t* c = &d[pos];
        Column col;
        col.type = ColumnType(c[0]);
        col.number = std::uint16_t(le16(c + (j4 ? 5 : 1)));
        col.varIndex = std::uint16_t(le16(c + (j4 ? 7 : 3)));
        col.fixed = (c[j4 ? 15 : 13] & 0x01) != 0;
        col.fixedOffset = std::uint16_t(le16(c + (j4 ? 21 : 14)));
        col.length = std::uint16_t(le16(c + (j4 ? 23 : 16)));
        t.columns.push_back(col);
        pos += j4 ? 25 : 18;
    }
    for (Column& col : t.columns) {
        std::size_t len = j4 ? le16(&d[pos]) : d[pos];
        pos += j4 ? 2 : 1;
        std::u16string n = j4 ? jet4Text(&d[pos], len) : fromCp1252(&d[pos], len);
        col.name.assign(n.begin(), n.end());  // names are ASCII in the fixtures' messages
        pos += len;
        if (pos > d.size() - 4096)
            throw std::runtime_error("definition runs past its pages");
    }
    for (std::size_t i = 0; i < nphys; ++i) {
        const std::uint8_t* x = &d[pos + (j4 ? 4 : 0)];
        PhysIndex ix;
        for (int k = 0; k < 10; ++k) {
            std::uint16_t cn = std::uint16_t(le16(x + k * 3));
            if (cn != 0xFFFF)
                ix.columns.emplace_back(cn, x[k * 3 + 2] == 0x01);
        }
        ix.firstPage = le32(x + 34);
        ix.flags = x[j4 ? 42 : 38];  // Jet 4 has 4 more bytes before the flags
        ix.distinct = distinct[i];
        t.indexes.push_back(ix);
        pos += j4 ? 52 : 39;
    }
    std::vector<std::uint32_t> logicalPhys;
    for (std::size_t i = 0; i < nlogical; ++i) {
        const std::uint8_t* x = &d[pos + (j4 ? 4 : 0)];
        logicalPhys.push_back(le32(x + 4));
        pos += j4 ? 28 : 20;
    }
    t.indexNames.assign(nphys, "");
    for (std::size_t i = 0; i < nlogical; ++i) {
        std::size_t len = j4 ? le16(&d[pos]) : d[pos];
        pos += j4 ? 2 : 1;
        std::u16string n = j4 ? jet4Text(&d[pos], len) : fromCp1252(&d[pos], len);
        pos += len;
        if (logicalPhys[i] < nphys) {
            std::string& s = t.indexNames[logicalPhys[i]];
            s += (s.empty() ? "" : "/") + std::string(n.begin(), n.end());
        }
    }
    return t;
}

struct Row {
    std::uint32_t page;
    std::uint8_t row;
    std::vector<std::uint8_t> bytes;
};

// Live rows of a table, each at the place its pointer names (rows moved
// elsewhere are read from there but keep their original pointer).
std::vector<Row> readRows(const FilePages& f, const Table& t)
{
    const bool j4 = f.jet4();
    const std::size_t countAt = j4 ? 12 : 8;
    auto rowBytes = [&](std::uint32_t page, std::uint32_t row, std::vector<std::uint8_t>& out) -> bool {
        for (int hop = 0; hop < 4; ++hop) {
            if (page == 0 || page >= f.pageCount())
                return false;
            const std::uint8_t* pg = f.page_(page);
            if (pg[0] != 0x01 || row >= le16(pg + countAt))
                return false;
            std::uint32_t off = le16(pg + countAt + 2 + 2 * row);
            // The target of a moved row carries the deleted flag in
            // Access's files; only the pointer to it is a live row.
            if ((off & 0x8000) && hop == 0)
                return false;
            std::uint32_t end = row == 0 ? std::uint32_t(f.pageSize) : (le16(pg + countAt + 2 * row) & 0x1FFF);
            std::uint32_t start = off & 0x1FFF;
            if (off & 0x4000) {
                row = pg[start];
                page = pg[start + 1] | pg[start + 2] << 8 | pg[start + 3] << 16;
                continue;
            }
            out.assign(pg + start, pg + end);
            return true;
        }
        return false;
    };
    std::vector<Row> rows;
    std::set<std::pair<std::uint32_t, std::uint32_t>> movedTargets;
    for (std::uint32_t p = 1; p < f.pageCount(); ++p) {
        const std::uint8_t* pg = f.page_(p);
        if (pg[0] != 0x01 || le32(pg + 4) != t.page)
            continue;
        std::uint32_t n = le16(pg + countAt);
        for (std::uint32_t r = 0; r < n; ++r) {
            std::uint32_t off = le16(pg + countAt + 2 + 2 * r);
            if (off & 0x8000)
                continue;
            if (off & 0x4000) {
                const std::uint8_t* q = pg + (off & 0x1FFF);
                movedTargets.insert({q[1] | q[2] << 8 | q[3] << 16, q[0]});
            }
            Row row{p, std::uint8_t(r), {}};
            if (!rowBytes(p, r, row.bytes))
                continue;
            rows.push_back(std::move(row));
        }
    }
    // A moved row is indexed under its original place only.
    std::erase_if(rows, [&](const Row& r) { return movedTargets.count({r.page, r.row}) > 0; });
    return rows;
}

struct Field {
    bool null = true;
    bool bit = false;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

std::vector<Field> crackRow(const FilePages& f, const Table& t, const std::vector<std::uint8_t>& r)
{
    const bool j4 = f.jet4();
    const std::size_t n = r.size();
    std::vector<Field> out(t.columns.size());
    if (n < 3)
        return out;
    std::size_t cols = j4 ? le16(&r[0]) : r[0];
    std::size_t maskSize = (cols + 7) / 8;
    const std::uint8_t* mask = &r[n - maskSize];
    std::size_t varCount = 0;
    std::vector<std::size_t> varOff;
    bool hasVar = std::any_of(t.columns.begin(), t.columns.end(), [](const Column& c) { return !c.fixed; });
    if (hasVar) {
        if (j4) {
            varCount = le16(&r[n - maskSize - 2]);
            for (std::size_t i = 0; i <= varCount; ++i)
                varOff.push_back(le16(&r[n - maskSize - 4 - 2 * i]));
        } else {
            varCount = r[n - maskSize - 1];
            std::size_t jumps = (n - 1) / 256;
            std::size_t colPtr = n - 1 - maskSize - jumps - 1;
            // A last jump entry that points past the data is a dummy;
            // it still takes its byte.
            if ((colPtr - varCount) / 256 < jumps)
                --jumps;
            std::size_t used = 0;
            for (std::size_t i = 0; i <= varCount; ++i) {
                while (used < jumps && i == r[n - 1 - maskSize - used - 1])
                    ++used;
                varOff.push_back(r[colPtr - i] + used * 256);
            }
        }
    }
    std::size_t fixedCount = cols - varCount;
    std::size_t fixedSeen = 0;
    const std::size_t base = j4 ? 2 : 1;
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
        const Column& c = t.columns[i];
        Field& fld = out[i];
        bool present = c.number < cols && (mask[c.number / 8] & (1 << (c.number % 8)));
        if (c.type == ColumnType::Boolean) {
            fld.null = false;
            fld.bit = present;
            continue;
        }
        fld.null = !present;
        if (c.fixed && fixedSeen < fixedCount) {
            ++fixedSeen;
            fld.data = &r[base + c.fixedOffset];
            fld.size = c.length;
        } else if (!c.fixed && c.varIndex < varCount && varOff[c.varIndex] <= varOff[c.varIndex + 1] &&
                   varOff[c.varIndex + 1] <= n) {
            fld.data = &r[varOff[c.varIndex]];
            fld.size = varOff[c.varIndex + 1] - varOff[c.varIndex];
        } else {
            fld.null = true;
        }
    }
    return out;
}

struct FixtureResult {
    int indexes = 0;
    int entries = 0;
    std::vector<std::string> problems;
};

FixtureResult checkFile(const fs::path& path)
{
    FixtureResult res;
    FilePages f(path);
    std::set<std::uint32_t> continuation;
    for (std::uint32_t p = 1; p < f.pageCount(); ++p)
        if (f.page_(p)[0] == 0x02)
            continuation.insert(le32(f.page_(p) + 4));
    for (std::uint32_t p = 1; p < f.pageCount(); ++p) {
        const std::uint8_t* pg = f.page_(p);
        if (pg[0] != 0x02 || continuation.count(p))
            continue;
        Table t;
        try {
            t = readTable(f, p);
        } catch (...) {
            continue;
        }
        if (t.columns.empty())
            continue;
        std::vector<Row> rows = readRows(f, t);
        for (std::size_t ix = 0; ix < t.indexes.size(); ++ix) {
            const PhysIndex& pi = t.indexes[ix];
            std::string label = path.filename().string() + " table page " + std::to_string(p) + " index " +
                                t.indexNames[ix] + " (root " + std::to_string(pi.firstPage) + ")";
            ++res.indexes;
            IndexTree tree(f, p, pi.firstPage, t.indexNames[ix]);
            IndexScan scan;
            try {
                scan = tree.verify();
            } catch (const std::exception& e) {
                res.problems.push_back(label + ": verify: " + e.what());
                continue;
            }
            std::vector<KeyColumn> kcols;
            std::vector<std::size_t> colPos;
            bool supported = true;
            for (auto [num, asc] : pi.columns) {
                auto it = std::find_if(t.columns.begin(), t.columns.end(), [&](const Column& c) { return c.number == num; });
                if (it == t.columns.end()) {
                    supported = false;
                    break;
                }
                kcols.push_back({it->type, asc});
                colPos.push_back(std::size_t(it - t.columns.begin()));
            }
            if (!supported) {
                res.problems.push_back(label + ": index column not found");
                continue;
            }
            std::vector<IndexEntry> expected;
            for (const Row& row : rows) {
                std::vector<Field> fields = crackRow(f, t, row.bytes);
                std::vector<KeyValue> vals;
                std::vector<std::u16string> texts(kcols.size());
                bool allNull = true;
                for (std::size_t k = 0; k < kcols.size(); ++k) {
                    const Field& fl = fields[colPos[k]];
                    const ColumnType ty = kcols[k].type;
                    if (ty == ColumnType::Boolean) {
                        vals.push_back(KeyValue::boolean(fl.bit));
                        allNull = false;
                    } else if (fl.null) {
                        vals.push_back(KeyValue::null());
                    } else if (ty == ColumnType::Text || ty == ColumnType::Memo) {
                        const std::uint8_t* d = fl.data;
                        std::size_t sz = fl.size;
                        if (ty == ColumnType::Memo) {  // inline memo only
                            d += 12;
                            sz = le32(fl.data) & 0x3FFFFFFF;
                        }
                        texts[k] = f.jet4() ? jet4Text(d, sz) : fromCp1252(d, sz);
                        vals.push_back(KeyValue::ofText(texts[k]));
                        allNull = false;
                    } else if (ty == ColumnType::Binary) {
                        vals.push_back(KeyValue::ofBytes({fl.data, fl.size}));
                        allNull = false;
                    } else {
                        vals.push_back(KeyValue::fixed({fl.data, fixedValueSize(ty)}));
                        allNull = false;
                    }
                }
                if (allNull && (pi.flags & 0x02))
                    continue;  // ignore-nulls index
                IndexEntry e;
                e.key = encodeKey(f.format, kcols, vals);
                e.dataPage = row.page;
                e.dataRow = row.row;
                expected.push_back(std::move(e));
            }
            // What `check` reports must agree: nothing.
            IndexCheckInput in;
            in.format = f.format;
            in.tdefPage = p;
            in.rootPage = pi.firstPage;
            in.name = t.indexNames[ix];
            in.expected = expected;
            PageReader reader = [&](std::uint32_t page) -> const std::uint8_t* {
                return page < f.pageCount() ? f.page_(page) : nullptr;
            };
            for (const std::string& s : checkIndex(reader, in))
                res.problems.push_back(label + ": check: " + s);
            std::sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return compareEntries(a, b) < 0; });
            res.entries += int(scan.entries.size());
            // Compare by row pointer, then by order.
            std::map<std::pair<std::uint32_t, int>, const IndexEntry*> byRow;
            for (const IndexEntry& e : scan.entries)
                byRow[{e.dataPage, e.dataRow}] = &e;
            int shown = 0;
            std::size_t matched = 0;
            for (const IndexEntry& e : expected) {
                auto it = byRow.find({e.dataPage, e.dataRow});
                if (it == byRow.end()) {
                    if (shown++ < 5)
                        res.problems.push_back(label + ": no entry for row " + std::to_string(e.dataPage) + ":" +
                                               std::to_string(e.dataRow) + " key " + hex(e.key));
                    continue;
                }
                if (it->second->key != e.key) {
                    if (shown++ < 5)
                        res.problems.push_back(label + ": row " + std::to_string(e.dataPage) + ":" +
                                               std::to_string(e.dataRow) + "\n   access " + hex(it->second->key) +
                                               "\n   ours   " + hex(e.key));
                    continue;
                }
                ++matched;
            }
            if (expected.size() != scan.entries.size() && shown < 5)
                res.problems.push_back(label + ": " + std::to_string(scan.entries.size()) + " entries, " +
                                       std::to_string(expected.size()) + " rows");
            std::set<std::pair<std::uint32_t, int>> rowSet;
            for (const IndexEntry& e : expected)
                rowSet.insert({e.dataPage, e.dataRow});
            for (const IndexEntry& e : scan.entries)
                if (!rowSet.count({e.dataPage, e.dataRow}) && shown++ < 5)
                    res.problems.push_back(label + ": entry for missing row " + std::to_string(e.dataPage) + ":" +
                                           std::to_string(e.dataRow) + " key " + hex(e.key));
        }
    }
    return res;
}

}  // namespace

TEST(IndexFixtures, EveryIndexMatchesWhatAccessWrote)
{
    FERROWANE_REQUIRE_FIXTURES();
    int files = 0, indexes = 0, entries = 0;
    for (const char* sub : {"jet3", "jet4"}) {
        std::vector<fs::path> paths;
        for (const auto& e : fs::directory_iterator(fixturesDir() / sub))
            if (e.path().extension() == ".mdb")
                paths.push_back(e.path());
        std::sort(paths.begin(), paths.end());
        for (const fs::path& p : paths) {
            FixtureResult r = checkFile(p);
            ++files;
            indexes += r.indexes;
            entries += r.entries;
            for (const std::string& s : r.problems)
                ADD_FAILURE() << s;
        }
    }
    std::cout << files << " files, " << indexes << " indexes, " << entries << " entries checked\n";
    EXPECT_GT(entries, 5000);
}

TEST(IndexCheck, ReportsMissingWrongAndExtraEntries)
{
    FERROWANE_REQUIRE_FIXTURES();
    FilePages f(fixturesDir() / "jet4" / "indexTestV2000.mdb");
    if (f.bytes.empty())
        GTEST_SKIP() << "fixture missing";
    // The catalog's "Id" index.
    Table t = readTable(f, 2);
    const PhysIndex* id = nullptr;
    for (std::size_t i = 0; i < t.indexes.size(); ++i)
        if (t.indexNames[i] == "Id")
            id = &t.indexes[i];
    ASSERT_NE(id, nullptr);
    IndexTree tree(f, 2, id->firstPage);
    std::vector<IndexEntry> good = tree.entries();
    ASSERT_GT(good.size(), 3u);
    PageReader reader = [&](std::uint32_t page) -> const std::uint8_t* {
        return page < f.pageCount() ? f.page_(page) : nullptr;
    };
    IndexCheckInput in;
    in.format = f.format;
    in.tdefPage = 2;
    in.rootPage = id->firstPage;
    in.name = "Id";
    in.expected = good;
    EXPECT_TRUE(checkIndex(reader, in).empty());

    in.expected.pop_back();                 // an entry no row gives
    in.expected[0].key.back() ^= 1;         // a wrong key
    IndexEntry extra = good[1];
    extra.dataRow = 200;                    // a row with no entry
    in.expected.push_back(extra);
    std::vector<std::string> problems = checkIndex(reader, in);
    EXPECT_EQ(problems.size(), 4u);  // wrong key: missing + extra
    std::set<std::uint32_t> noPages;
    in.expected = good;
    in.mapPages = &noPages;
    problems = checkIndex(reader, in);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("usage map"), std::string::npos);
    in.tdefPage = 3;
    problems = checkIndex(reader, in);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("table definition"), std::string::npos);
}
