// The independent-reader harness, tried on the files that Access made: both
// readers open every fixture, see the known tables and row counts, and agree
// with each other value by value (apart from mdbtools' documented limits).
#include "readers.h"

#include <gtest/gtest.h>
#include "fixtures.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;
using readers::Row;

namespace {

// The Access-made reference files live beside the work tree, outside git.
const std::string kFixtures = fixtures::dir();

std::string fixture(const std::string& name)
{
    return kFixtures + "/" + name;
}

#define REQUIRE_READERS()                                                 \
    do {                                                                  \
        if (!readers::mdbtoolsAvailable())                                \
            GTEST_SKIP() << "mdbtools is not installed";                  \
        if (!readers::mdbReaderAvailable())                               \
            GTEST_SKIP() << "mdb-reader is not installed (scripts/setup.sh)"; \
        FERROWANE_REQUIRE_FIXTURES();                                     \
    } while (0)

// User tables and their row counts, as Access left them.
struct FixtureCounts {
    const char* file;
    std::vector<std::pair<std::string, size_t>> tables;
};

const std::vector<FixtureCounts>& fixtureCounts()
{
    static const std::vector<FixtureCounts> counts = {
        {"jet3/compIndexTestV1997.mdb", {{"Table1", 512}}},
        {"jet3/delColTestV1997.mdb", {{"Table1", 2}}},
        {"jet3/delTestV1997.mdb", {{"Table", 2}}},
        {"jet3/indexTestV1997.mdb", {{"Table1", 4}, {"Table2", 3}, {"Table3", 4}}},
        {"jet3/overflowTestV1997.mdb", {{"Table1", 7}}},
        {"jet3/queryTestV1997.mdb", {{"Table1", 0}, {"Table2", 0}, {"Table3", 0}}},
        {"jet3/test2V1997.mdb", {{"MSP_PROJECTS", 1}}},
        {"jet3/testIndexCodesV1997.mdb",
         {{"Table1", 275},    {"Table1_desc", 275}, {"Table10", 5},          {"Table11", 52},
          {"Table12", 10},    {"Table12_asc_desc", 10}, {"Table12_desc_asc", 10}, {"Table13", 20},
          {"Table13_desc", 20}, {"Table14", 256},   {"Table14_desc", 256},  {"Table15", 52},
          {"Table15_desc", 52}, {"Table2", 9},      {"Table2_desc", 9},     {"Table3", 11},
          {"Table3_desc", 11}, {"Table4", 20},      {"Table4_desc", 20},    {"Table5", 20},
          {"Table5_desc", 20}, {"Table6", 23},      {"Table6_desc", 23},    {"Table8", 20},
          {"Table8_desc", 20}, {"Table9", 11},      {"Table9_desc", 11},    {"Table10_desc", 5},
          {"Table12_desc_desc", 10}}},
        {"jet3/testV1997.mdb", {{"Table1", 2}, {"Table2", 0}, {"Table3", 0}, {"Table4", 0}}},
        {"jet4/adox_jet4.mdb", {}},
        {"jet4/bigIndexTestV2000.mdb", {{"Table1", 0}}},
        {"jet4/compIndexTestV2000.mdb", {{"Table1", 512}}},
        {"jet4/delColTestV2000.mdb", {{"Table1", 2}}},
        {"jet4/delTestV2000.mdb", {{"Table", 2}}},
        {"jet4/empty.mdb", {}},
        {"jet4/emptyJet4.mdb", {}},
        {"jet4/fixedNumericTestV2000.mdb", {{"test", 1}}},
        {"jet4/fixedTextTestV2000.mdb", {{"users", 2}}},
        {"jet4/indexCursorTestV2000.mdb", {{"test", 0}}},
        {"jet4/indexTestV2000.mdb", {{"Table1", 4}, {"Table2", 3}, {"Table3", 4}}},
        {"jet4/overflowTestV2000.mdb", {{"Table1", 7}}},
        {"jet4/queryTestV2000.mdb", {{"Table1", 0}, {"Table2", 0}, {"Table3", 0}}},
        {"jet4/test2V2000.mdb", {{"MSP_PROJECTS", 1}}},
        {"jet4/testIndexPropertiesV2000.mdb",
         {{"TableIgnoreNulls1", 10}, {"TableIgnoreNulls1_temp", 0}, {"TableIgnoreNulls2", 11},
          {"TableIgnoreNulls2_temp", 0}, {"TableUnique1_temp", 10}, {"TableUnique2_temp", 11}}},
        {"jet4/testPromotionV2000.mdb", {{"jobDB1", 0}}},
    };
    return counts;
}

// Compares one value of each reader, allowing for what mdbtools cannot show
// (see the notes on the independent readers): an empty text reads as NULL,
// doubles come with 16 significant digits and singles with 8, dates before
// 1899-12-30 are not shown, a code page byte that has no character.
bool sameValue(const std::string& type, const readers::Value& tools, const readers::Value& reader)
{
    if (!reader)
        return !tools;
    if (!tools)
        return (type == "text" || type == "memo") && reader->empty();
    if (type == "double" || type == "float") {
        double a = std::strtod(tools->c_str(), nullptr), b = std::strtod(reader->c_str(), nullptr);
        double tolerance = (type == "double" ? 1e-15 : 1e-7) * std::max(std::fabs(a), std::fabs(b));
        return std::fabs(a - b) <= tolerance;
    }
    if (type == "datetime") {
        if (reader->size() == 24 && (*reader < "1899-12-30"))
            return true;  // mdbtools cannot show it
        // mdbtools rounds to whole seconds
        std::string iso = readers::isoToTsvDate(reader->substr(0, 19) + ".000Z");
        return *tools == iso;
    }
    if (type == "text" || type == "memo") {
        // A code page byte with no character: mdbtools shows '?', mdb-reader U+FFFD.
        std::string r = *reader;
        for (size_t p; (p = r.find("\xEF\xBF\xBD")) != std::string::npos;)
            r.replace(p, 3, "?");
        return *tools == r;
    }
    return *tools == *reader;
}

}  // namespace

TEST(Readers, EveryFixtureOpensWithBothReadersWhichAgreeOnTablesRowsAndValues)
{
    REQUIRE_READERS();
    size_t compared = 0;
    for (const auto& f : fixtureCounts()) {
        SCOPED_TRACE(f.file);
        const std::string path = fixture(f.file);
        std::vector<std::string> expectedNames;
        for (const auto& [name, rows] : f.tables)
            expectedNames.push_back(name);

        EXPECT_EQ(readers::mdbTables(path), expectedNames);
        auto schema = readers::mdbSchema(path);
        ASSERT_EQ(schema.size(), f.tables.size());

        readers::ReaderResult r = readers::mdbReader(path);
        EXPECT_EQ(r.tables, expectedNames);

        for (size_t i = 0; i < f.tables.size(); ++i) {
            const auto& [name, rows] = f.tables[i];
            SCOPED_TRACE(name);
            EXPECT_EQ(schema[i].name, name);
            readers::ExportedTable exported = readers::mdbExport(path, name);
            EXPECT_EQ(exported.rows.size(), rows);

            const readers::ReaderTable* t = r.find(name);
            ASSERT_NE(t, nullptr);
            EXPECT_EQ(t->rows.size(), rows);
            EXPECT_EQ(static_cast<size_t>(t->rowCount), rows);
            ASSERT_EQ(t->columns.size(), exported.columns.size());
            for (size_t c = 0; c < t->columns.size(); ++c)
                EXPECT_EQ(t->columns[c].name, exported.columns[c].name);

            // Both read the data pages in the same order.
            ASSERT_EQ(exported.rows.size(), t->rows.size());
            for (size_t row = 0; row < t->rows.size(); ++row) {
                ASSERT_EQ(exported.rows[row].size(), t->columns.size());
                ASSERT_EQ(t->rows[row].size(), t->columns.size());
                for (size_t c = 0; c < t->columns.size(); ++c) {
                    const auto& type = t->columns[c].type;
                    const auto& a = exported.rows[row][c];
                    const auto& b = t->rows[row][c];
                    EXPECT_TRUE(sameValue(type, a, b))
                        << "row " << row << " column " << t->columns[c].name << " (" << type << "): mdbtools "
                        << a.value_or("NULL") << ", mdb-reader " << b.value_or("NULL");
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 5000u);
}

TEST(Readers, ValuesOfEveryKindComeOutExactly)
{
    REQUIRE_READERS();
    const std::string path = fixture("jet3/testV1997.mdb");
    auto exported = readers::mdbExport(path, "Table1");
    ASSERT_EQ(exported.rows.size(), 2u);
    EXPECT_EQ(exported.rows[1], (Row{"abcdefg", "hijklmnop", "2", "222", "333333333", "444.555",
                                     "1974-09-21 00:00:00", "3.5000", "1"}));
    std::vector<std::string> types;
    for (const auto& c : exported.columns)
        types.push_back(c.type);
    EXPECT_EQ(types, (std::vector<std::string>{"Text (50)", "Text (100)", "Byte", "Integer", "Long Integer",
                                               "Double", "DateTime", "Currency", "Boolean"}));
    EXPECT_TRUE(exported.columns[8].notNull);
    EXPECT_FALSE(exported.columns[0].notNull);

    auto r = readers::mdbReader(path, {"Table1"});
    ASSERT_EQ(r.data.size(), 1u);
    const auto& t = r.data[0];
    EXPECT_EQ(t.rows[1], (Row{"abcdefg", "hijklmnop", "2", "222", "333333333", "444.555",
                              "1974-09-21T00:00:00.000Z", "3.5000", "1"}));
    EXPECT_EQ(t.columns[0].type, "text");
    EXPECT_EQ(t.columns[0].size, 50);
    EXPECT_EQ(t.columns[7].type, "currency");
    EXPECT_EQ(t.columns[8].type, "boolean");

    // GUIDs read alike through both readers.
    const std::string codes = fixture("jet3/testIndexCodesV1997.mdb");
    auto guids = readers::mdbExport(codes, "Table13");
    auto guidsReader = readers::mdbReader(codes, {"Table13"});
    ASSERT_FALSE(guids.rows.empty());
    ASSERT_EQ(guidsReader.data.size(), 1u);
    ASSERT_EQ(guids.columns.size(), 2u);
    EXPECT_EQ(guids.columns[1].type, "Replication ID");
    EXPECT_EQ(guids.rows[0][1], "{8E39276A-BCA8-4AC4-891E-49911D8438DD}");
    EXPECT_EQ(guidsReader.data[0].rows[0][1], "{8E39276A-BCA8-4AC4-891E-49911D8438DD}");

    // Decimal columns carry their precision and scale.
    auto numeric = readers::mdbReader(fixture("jet4/fixedNumericTestV2000.mdb"), {"test"});
    ASSERT_EQ(numeric.data.size(), 1u);
    const auto& col2 = numeric.data[0].columns[1];
    EXPECT_EQ(col2.type, "numeric");
    EXPECT_EQ(col2.precision, 18);
    EXPECT_EQ(col2.scale, 0);
    EXPECT_EQ(numeric.data[0].rows[0], (Row{"some data", "1", "0", "0", "4", "-1", "1"}));
}

TEST(Readers, TabsLineEndsAndBackslashesInTextSurviveMdbExport)
{
    REQUIRE_READERS();
    // Table14 holds one row per code page character, control characters included.
    const std::string path = fixture("jet3/testIndexCodesV1997.mdb");
    auto exported = readers::mdbExport(path, "Table14");
    bool tab = false, newline = false, cr = false, backslash = false;
    for (const auto& row : exported.rows)
        for (const auto& v : row)
            if (v) {
                tab |= v->find('\t') != std::string::npos;
                newline |= v->find('\n') != std::string::npos;
                cr |= v->find('\r') != std::string::npos;
                backslash |= v->find('\\') != std::string::npos;
            }
    EXPECT_TRUE(tab);
    EXPECT_TRUE(newline);
    EXPECT_TRUE(cr);
    EXPECT_TRUE(backslash);

    // A Windows path in a memo: each backslash once.
    auto project = readers::mdbExport(fixture("jet4/test2V2000.mdb"), "MSP_PROJECTS");
    ASSERT_EQ(project.rows.size(), 1u);
    bool found = false;
    for (const auto& v : project.rows[0])
        found |= v == std::string("Z:\\temp\\Project1.mpd");
    EXPECT_TRUE(found);
}

TEST(Readers, SystemTablesOfAnEngineMadeEmptyDatabase)
{
    REQUIRE_READERS();
    const std::string path = fixture("jet4/emptyJet4.mdb");
    const std::vector<std::string> system{"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"};
    EXPECT_EQ(readers::mdbTables(path, true), system);
    auto r = readers::mdbReader(path, {}, true);
    EXPECT_EQ(r.tables, system);
    const auto* objects = r.find("MSysObjects");
    ASSERT_NE(objects, nullptr);
    EXPECT_EQ(objects->rowCount, 8);
    EXPECT_EQ(objects->rows.size(), 8u);

    auto noRows = readers::mdbReader(path, {"MSysObjects"}, true, false);
    ASSERT_EQ(noRows.data.size(), 1u);
    EXPECT_TRUE(noRows.data[0].rows.empty());
    EXPECT_FALSE(noRows.data[0].columns.empty());
}

TEST(Readers, ReaderFailuresBecomeErrorsWithTheReadersMessage)
{
    REQUIRE_READERS();
    const fs::path notMdb = fs::temp_directory_path() / ("readers_not_mdb_" + std::to_string(getpid()) + ".mdb");
    {
        std::ofstream out(notMdb, std::ios::binary);
        out << std::string(8192, 'x');
    }
    EXPECT_THROW(readers::mdbReader(notMdb.string()), readers::ReaderError);
    EXPECT_THROW(readers::mdbExport(notMdb.string(), "Table1"), readers::ReaderError);
    fs::remove(notMdb);

    try {
        readers::mdbReader(fixture("jet3/testV1997.mdb"), {"NoSuchTable"});
        ADD_FAILURE() << "no error for a missing table";
    } catch (const readers::ReaderError& e) {
        EXPECT_NE(std::string(e.what()).find("NoSuchTable"), std::string::npos) << e.what();
    }
    EXPECT_THROW(readers::mdbExport(fixture("jet3/testV1997.mdb"), "NoSuchTable"), readers::ReaderError);
}

TEST(Readers, RunProcessPassesLargeInputAndOutputWithoutStalling)
{
    std::string input(3 * 1024 * 1024, 'a');
    for (size_t i = 0; i < input.size(); i += 1000)
        input[i] = '\n';
    auto r = readers::runProcess({"cat"}, input);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, input);

    auto both = readers::runProcess({"sh", "-c", "echo out; echo err >&2; exit 3"});
    EXPECT_EQ(both.exitCode, 3);
    EXPECT_EQ(both.out, "out\n");
    EXPECT_EQ(both.err, "err\n");

    auto missing = readers::runProcess({"/nonexistent/program"});
    EXPECT_EQ(missing.exitCode, 127);
    EXPECT_NE(missing.err.find("cannot run"), std::string::npos);

    // A program that ignores its input must not hang or kill us.
    auto ignores = readers::runProcess({"true"}, input);
    EXPECT_EQ(ignores.exitCode, 0);

    auto killed = readers::runProcess({"sh", "-c", "kill -9 $$"});
    EXPECT_EQ(killed.exitCode, 128 + 9);
}

TEST(ReadersJson, ParsesWhatTheNodeScriptPrints)
{
    auto j = readers::Json::parse(
        R"( {"a": [1, -2.5e3, true, false, null], "s": "tab\there \"q\" \\ \u00e9 \ud83d\ude00 \/", "o": {}} )");
    ASSERT_EQ(j.kind, readers::Json::Kind::Object);
    const auto* a = j.get("a");
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->items.size(), 5u);
    EXPECT_EQ(a->items[1].text, "-2.5e3");
    EXPECT_TRUE(a->items[2].boolean);
    EXPECT_EQ(a->items[4].kind, readers::Json::Kind::Null);
    EXPECT_EQ(j.get("s")->text, "tab\there \"q\" \\ \xC3\xA9 \xF0\x9F\x98\x80 /");
    EXPECT_EQ(j.get("o")->kind, readers::Json::Kind::Object);
    EXPECT_EQ(j.get("missing"), nullptr);
    // A lone surrogate stays visible rather than vanishing.
    EXPECT_EQ(readers::Json::parse(R"("\ud800x")").text, "\xED\xA0\x80x");
}

TEST(ReadersJson, RejectsBrokenInput)
{
    for (const char* bad : {"", "{", "[1,]", "{\"a\" 1}", "\"abc", "\"\\q\"", "\"\\u12\"", "[1] 2", "nul",
                            "{1: 2}"})
        EXPECT_THROW(readers::Json::parse(bad), readers::ReaderError) << bad;
    std::string deep(100, '[');
    EXPECT_THROW(readers::Json::parse(deep), readers::ReaderError);
}

TEST(Readers, IsoDatesBecomeTsvDatesOnlyWhenWholeSeconds)
{
    EXPECT_EQ(readers::isoToTsvDate("1981-12-12T00:00:00.000Z"), "1981-12-12 00:00:00");
    EXPECT_EQ(readers::isoToTsvDate("1981-12-12T00:00:00.500Z"), "1981-12-12T00:00:00.500Z");
    EXPECT_EQ(readers::isoToTsvDate("+010000-01-01T00:00:00.000Z"), "+010000-01-01T00:00:00.000Z");
}
