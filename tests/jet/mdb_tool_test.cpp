// ferrowane-mdb: the text form of import and dump, and the tool itself.
#include "tools/ferrowane-mdb/cli.cpp"
#include "tools/ferrowane-mdb/tsv.cpp"
#include "tools/ferrowane-mdb/values.cpp"
#include "tools/ferrowane-mdb/schema_listing.cpp"

#include <gtest/gtest.h>
#include "fixtures.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace mdbtool;

namespace {

std::vector<TsvField> readAll(const std::string& text, std::vector<std::vector<TsvField>>* rows = nullptr)
{
    std::istringstream in(text);
    TsvReader reader(in);
    std::vector<TsvField> fields, last;
    while (reader.next(fields)) {
        if (rows)
            rows->push_back(fields);
        last = fields;
    }
    return last;
}

}  // namespace

TEST(MdbToolTsv, EscapesRoundTripEveryAwkwardText)
{
    const std::vector<std::string> texts = {
        "", "plain", "tab\there", "line\nend", "cr\rlf\r\n", "back\\slash", "\\N", "\\", "\\t literal",
        "trailing\\", std::string("nul\0byte", 8), "\xF0\x9F\x98\x80 outside the basic plane", "  blanks  "};
    std::vector<TsvField> fields(texts.begin(), texts.end());
    fields.push_back(std::nullopt);
    std::string line = formatLine(fields);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line.find('\r'), std::string::npos);
    EXPECT_EQ(parseLine(line), fields);

    EXPECT_EQ(escapeText("a\tb\\c\nd\re"), "a\\tb\\\\c\\nd\\re");
    EXPECT_EQ(formatLine({std::string("x"), std::nullopt, std::string("")}), "x\t\\N\t");
}

TEST(MdbToolTsv, NullIsOnlyABareBackslashN)
{
    EXPECT_EQ(parseLine("\\N"), (std::vector<TsvField>{std::nullopt}));
    EXPECT_EQ(parseLine("\\\\N"), (std::vector<TsvField>{std::string("\\N")}));
    EXPECT_EQ(parseLine(""), (std::vector<TsvField>{std::string()}));
    EXPECT_EQ(parseLine("\t"), (std::vector<TsvField>{std::string(), std::string()}));
    EXPECT_THROW(parseLine("a\\N"), TsvError);
    EXPECT_THROW(parseLine("\\Nb"), TsvError);
}

TEST(MdbToolTsv, BadEscapesAreErrorsThatNameTheField)
{
    try {
        parseLine("ok\tbad\\x");
        FAIL() << "no error";
    } catch (const TsvError& e) {
        EXPECT_NE(std::string(e.what()).find("field 2"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("\\x"), std::string::npos) << e.what();
    }
    EXPECT_THROW(parseLine("ends in\\"), TsvError);
    try {
        readAll("a\tb\nc\\q\n");
        FAIL() << "no error";
    } catch (const TsvError& e) {
        EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
    }
}

TEST(MdbToolTsv, ReaderTakesWindowsLineEndsAndAMissingLastLineEnd)
{
    std::vector<std::vector<TsvField>> rows;
    readAll("a\tb\r\nc\td\ne\tf", &rows);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (std::vector<TsvField>{std::string("a"), std::string("b")}));
    EXPECT_EQ(rows[2], (std::vector<TsvField>{std::string("e"), std::string("f")}));

    rows.clear();
    readAll("", &rows);
    EXPECT_TRUE(rows.empty());

    // An escaped CR is data, a raw one before the line end is not.
    rows.clear();
    readAll("x\\r\r\n", &rows);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], std::string("x\r"));
}

TEST(MdbToolTsv, HexBytes)
{
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    EXPECT_EQ(fromHex(toHex(all)), all);
    EXPECT_EQ(toHex(std::string("\x00\xff\x10", 3)), "00FF10");
    EXPECT_EQ(fromHex("00ff10"), std::string("\x00\xff\x10", 3));
    EXPECT_EQ(fromHex(""), "");
    EXPECT_THROW(fromHex("ABC"), TsvError);
    EXPECT_THROW(fromHex("0G"), TsvError);
    EXPECT_THROW(fromHex("0x00"), TsvError);
}

TEST(MdbToolTsv, IntegersWithinTheColumnsRange)
{
    EXPECT_EQ(parseInteger("-2147483648", INT32_MIN, INT32_MAX), INT32_MIN);
    EXPECT_EQ(parseInteger("+17", 0, 255), 17);
    EXPECT_EQ(parseInteger("007", 0, 255), 7);
    EXPECT_THROW(parseInteger("2147483648", INT32_MIN, INT32_MAX), TsvError);
    EXPECT_THROW(parseInteger("256", 0, 255), TsvError);
    EXPECT_THROW(parseInteger("-1", 0, 255), TsvError);
    EXPECT_THROW(parseInteger("99999999999999999999999", INT64_MIN, INT64_MAX), TsvError);
    for (const char* bad : {"", "-", "1.0", "1e3", " 1", "1 ", "0x10", "abc"})
        EXPECT_THROW(parseInteger(bad, INT32_MIN, INT32_MAX), TsvError) << bad;
}

TEST(MdbToolTsv, DecimalsStayExact)
{
    EXPECT_EQ(normalizeDecimal("-0012.5000"), "-12.5");
    EXPECT_EQ(normalizeDecimal("+.5"), "0.5");
    EXPECT_EQ(normalizeDecimal("5."), "5");
    EXPECT_EQ(normalizeDecimal("-0.000"), "0");
    EXPECT_EQ(normalizeDecimal("922337203685477.5807"), "922337203685477.5807");
    EXPECT_EQ(normalizeDecimal("12345678901234567890123456789"), "12345678901234567890123456789");
    for (const char* bad : {"", ".", "-", "1.2.3", "1e5", "1,5", " 1", "NaN"})
        EXPECT_THROW(normalizeDecimal(bad), TsvError) << bad;

    EXPECT_EQ(decimalWithScale("3.5", 4), "3.5000");
    EXPECT_EQ(decimalWithScale("-7", 2), "-7.00");
    EXPECT_EQ(decimalWithScale("42", 0), "42");
    EXPECT_EQ(decimalWithScale("1.10", 1), "1.1");
    EXPECT_THROW(decimalWithScale("1.23", 1), TsvError);
}

TEST(MdbToolTsv, FloatingNumbersInShortestPlainDecimal)
{
    EXPECT_EQ(formatDouble(0.1), "0.1");
    EXPECT_EQ(formatDouble(-2), "-2");
    EXPECT_EQ(formatDouble(444.555), "444.555");
    EXPECT_EQ(formatDouble(1e21), "1000000000000000000000");
    EXPECT_EQ(formatDouble(1e300), "1" + std::string(300, '0'));
    EXPECT_EQ(formatDouble(-1.5e-7), "-0.00000015");
    EXPECT_EQ(formatDouble(0), "0");
    EXPECT_EQ(formatDouble(-0.0), "-0");
    EXPECT_EQ(formatDouble(123.456), "123.456");
    EXPECT_EQ(formatSingle(3.4e38f), "340000000000000000000000000000000000000");
    EXPECT_EQ(formatDouble(std::numeric_limits<double>::quiet_NaN()), "NaN");
    EXPECT_EQ(formatDouble(-std::numeric_limits<double>::infinity()), "-Infinity");
    EXPECT_EQ(formatSingle(0.1f), "0.1");

    // Every extreme reads back to the same bits.
    for (double d : {std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
                     std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min(), 1.0 / 3, -0.0,
                     123456789.123456789, 5e-324}) {
        std::string text = formatDouble(d);
        EXPECT_EQ(text.find_first_of("eE"), std::string::npos) << text;
        double back = parseDouble(text);
        EXPECT_EQ(std::signbit(back), std::signbit(d));
        EXPECT_EQ(back, d) << text;
    }
    for (float f : {std::numeric_limits<float>::max(), std::numeric_limits<float>::denorm_min(), 1.0f / 3, -1.5f}) {
        std::string text = formatSingle(f);
        EXPECT_EQ(parseSingle(text), f) << text;
    }
    EXPECT_TRUE(std::isnan(parseDouble("NaN")));
    EXPECT_EQ(parseDouble("Infinity"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parseDouble("1.5e3"), 1500.0);
    EXPECT_EQ(parseDouble("+2"), 2.0);
    for (const char* bad : {"", "inf", "nan", "1,5", "abc", "1.5x", "e5", "--1", "0x1p3"})
        EXPECT_THROW(parseDouble(bad), TsvError) << bad;
    EXPECT_THROW(parseDouble("1e400"), TsvError);
    EXPECT_THROW(parseSingle("1e39"), TsvError);
}

TEST(MdbToolTsv, DatesAsAccessAllowsThem)
{
    EXPECT_EQ(parseDateTime("1899-12-30 00:00:00"), (TsvDateTime{1899, 12, 30, 0, 0, 0}));
    EXPECT_EQ(parseDateTime("2024-02-29 23:59:59"), (TsvDateTime{2024, 2, 29, 23, 59, 59}));
    EXPECT_EQ(parseDateTime("0100-01-01"), (TsvDateTime{100, 1, 1, 0, 0, 0}));
    EXPECT_EQ(formatDateTime({9999, 12, 31, 23, 59, 59}), "9999-12-31 23:59:59");
    EXPECT_EQ(formatDateTime({100, 1, 1, 0, 0, 0}), "0100-01-01 00:00:00");
    EXPECT_EQ(formatDateTime(parseDateTime("1800-06-15 12:30:45")), "1800-06-15 12:30:45");
    for (const char* bad : {"", "2023-02-29 00:00:00", "1900-02-29", "2024-13-01 00:00:00", "2024-00-10",
                            "2024-01-32", "2024-01-01 24:00:00", "2024-01-01 00:60:00", "2024-01-01 00:00:60",
                            "0099-12-31 00:00:00", "2024-1-1", "2024/01/01", "2024-01-01T00:00:00",
                            "2024-01-01 00:00:00.5", "10000-01-01 00:00:00", "+024-01-01"})
        EXPECT_THROW(parseDateTime(bad), TsvError) << bad;
}

TEST(MdbToolTsv, YesNoAndGuids)
{
    EXPECT_TRUE(parseBool("1"));
    EXPECT_FALSE(parseBool("0"));
    for (const char* bad : {"", "-1", "true", "yes", "2", "01"})
        EXPECT_THROW(parseBool(bad), TsvError) << bad;

    EXPECT_EQ(normalizeGuid("{8e39276a-bca8-4ac4-891e-49911d8438dd}"), "{8E39276A-BCA8-4AC4-891E-49911D8438DD}");
    EXPECT_EQ(normalizeGuid("8E39276A-BCA8-4AC4-891E-49911D8438DD"), "{8E39276A-BCA8-4AC4-891E-49911D8438DD}");
    for (const char* bad : {"", "{}", "{8E39276A-BCA8-4AC4-891E49911D8438DD}", "{8E39276A-BCA8-4AC4-891E-49911D8438DG}",
                            "{8E39276A-BCA8-4AC4-891E-49911D8438DD", "8E39276ABCA84AC4891E49911D8438DD0000"})
        EXPECT_THROW(normalizeGuid(bad), TsvError) << bad;
}

// ---- the command line ---------------------------------------------------------

namespace {

struct ToolRun {
    int code = -1;
    std::string out, err;
};

ToolRun tool(const std::vector<std::string>& args, const std::string& input = {})
{
    std::istringstream in(input);
    std::ostringstream out, err;
    ToolRun r;
    r.code = run(args, in, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

std::string fixturePath(const std::string& name)
{
    return fixtures::path(name);
}

}  // namespace

TEST(MdbToolCli, ParsesEveryCommand)
{
    Command c = parseCommand({"create", "a.mdb", "--format", "97"});
    EXPECT_EQ(c.kind, Command::Kind::Create);
    EXPECT_EQ(c.file, "a.mdb");
    EXPECT_EQ(c.format, 97);
    EXPECT_EQ(parseCommand({"create", "--format=2000", "b.mdb"}).format, 2000);

    c = parseCommand({"exec", "a.mdb", "Create table [T] (a int)"});
    EXPECT_EQ(c.kind, Command::Kind::Exec);
    EXPECT_EQ(c.statement, "Create table [T] (a int)");

    c = parseCommand({"import", "a.mdb", "T"});
    EXPECT_EQ(c.kind, Command::Kind::Import);
    EXPECT_EQ(c.table, "T");
    EXPECT_FALSE(c.tsvPath);
    EXPECT_FALSE(parseCommand({"import", "a.mdb", "T", "-"}).tsvPath);
    EXPECT_EQ(parseCommand({"import", "a.mdb", "T", "rows.tsv"}).tsvPath, "rows.tsv");

    EXPECT_EQ(parseCommand({"tables", "a.mdb"}).kind, Command::Kind::Tables);
    c = parseCommand({"dump", "a.mdb", "T"});
    EXPECT_EQ(c.kind, Command::Kind::Dump);
    EXPECT_EQ(c.table, "T");
    EXPECT_EQ(parseCommand({"check", "a.mdb"}).kind, Command::Kind::Check);
    // A file or table whose name starts with a dash, after "--".
    EXPECT_EQ(parseCommand({"dump", "--", "-odd.mdb", "-T"}).table, "-T");
}

TEST(MdbToolCli, UsageErrorsExitWithTwo)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate", "a.mdb"},
        {"create", "a.mdb"},
        {"create", "a.mdb", "--format", "95"},
        {"create", "a.mdb", "--format"},
        {"create", "a.mdb", "--format", "97", "--format", "97"},
        {"create", "--format", "97"},
        {"exec", "a.mdb"},
        {"exec", "a.mdb", "drop table [T]", "extra"},
        {"import", "a.mdb"},
        {"import", "a.mdb", "T", "x.tsv", "y.tsv"},
        {"tables"},
        {"dump", "a.mdb"},
        {"check", "a.mdb", "b.mdb"},
        {"check", "a.mdb", "--verbose"},
        {"tables", "a.mdb", "--format", "97"},
    };
    for (const auto& args : bad) {
        ToolRun r = tool(args);
        std::string shown;
        for (const auto& a : args)
            shown += a + " ";
        EXPECT_EQ(r.code, kExitUsage) << shown;
        EXPECT_NE(r.err.find("usage: ferrowane-mdb"), std::string::npos) << shown;
        EXPECT_TRUE(r.out.empty()) << shown;
    }
    ToolRun help = tool({"--help"});
    EXPECT_EQ(help.code, kExitOk);
    EXPECT_NE(help.out.find("check FILE"), std::string::npos);
    ToolRun version = tool({"--version"});
    EXPECT_EQ(version.code, kExitOk);
    EXPECT_EQ(version.out, "ferrowane-mdb " FERROWANE_VERSION "\n");
}

TEST(MdbToolCli, CheckAndTablesOnAccessMadeFiles)
{
    const std::string file = fixturePath("jet3/testV1997.mdb");
    FERROWANE_REQUIRE_FIXTURES();
    ToolRun check = tool({"check", file});
    EXPECT_EQ(check.code, kExitOk) << check.err;
    EXPECT_NE(check.out.find(": ok ("), std::string::npos) << check.out;
    EXPECT_TRUE(check.err.empty());

    ToolRun tables = tool({"tables", file});
    EXPECT_EQ(tables.code, kExitOk) << tables.err;
    EXPECT_EQ(tables.out, "Table1\nTable2\nTable3\nTable4\n");

    ToolRun none = tool({"tables", fixturePath("jet4/emptyJet4.mdb")});
    EXPECT_EQ(none.code, kExitOk);
    EXPECT_EQ(none.out, "");
}

TEST(MdbToolCli, CheckFailsWithTheProblemsOnStderr)
{
    const std::string source = fixturePath("jet4/compIndexTestV2000.mdb");
    FERROWANE_REQUIRE_FIXTURES();
    const std::string copy =
        (std::filesystem::temp_directory_path() / ("mdb_tool_test_" + std::to_string(getpid()) + ".mdb")).string();
    std::filesystem::copy_file(source, copy, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    uint32_t tdef = 0;
    for (const auto& t : jet::catalogTables(copy))
        if (t.name == "Table1")
            tdef = t.definitionPage;
    ASSERT_NE(tdef, 0u);
    {
        // Jet 4: the row count sits at byte 16 of the definition page.
        std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(std::streamoff(tdef) * 4096 + 16);
        const char zero[4] = {0, 0, 0, 0};
        f.write(zero, 4);
    }
    ToolRun r = tool({"check", copy});
    EXPECT_EQ(r.code, kExitFailure);
    EXPECT_NE(r.err.find("table Table1: its row count says 0 but its pages hold 512 rows"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("1 problem found"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
    std::filesystem::remove(copy);

    ToolRun missing = tool({"check", "/nonexistent/file.mdb"});
    EXPECT_EQ(missing.code, kExitFailure);
    EXPECT_NE(missing.err.find("/nonexistent/file.mdb"), std::string::npos) << missing.err;
}

// ---- round trips through the engine ------------------------------------------------

#include "readers.h"

namespace {

class TempDir {
public:
    TempDir()
    {
        static int n = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("mdb_tool_" + std::to_string(getpid()) + "_" + std::to_string(n++));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::string tsvText(const std::vector<std::vector<TsvField>>& rows)
{
    std::string s;
    for (const auto& r : rows)
        s += formatLine(r) + "\n";
    return s;
}

std::string bytesOf(size_t n, unsigned seed)
{
    std::string b(n, '\0');
    for (size_t i = 0; i < n; ++i)
        b[i] = char((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
    return b;
}

std::string textOf(size_t n, const std::string& unit)
{
    std::string s;
    while (s.size() < n)
        s += unit;
    s.resize(n);
    return s;
}

// One table with every type; columns in this order.
const char* kEveryTypeJet4 =
    "Create table [Every] (id counter, n int, s short, b byte, y bit, f single, d double, c currency, "
    "m decimal(28,6), dt date, t text(255), me memo, o oleobject, bi binary(16), g guid)";
const char* kEveryTypeJet3 =
    "Create table [Every] (id counter, n int, s short, b byte, y bit, f single, d double, c currency, "
    "dt date, t text(255), me memo, o oleobject, bi binary(16), g guid)";

struct Edge {
    std::vector<std::vector<TsvField>> input;     // what import reads
    std::vector<std::vector<TsvField>> expected;  // what dump must give back
};

Edge everyTypeRows(bool jet4)
{
    const TsvField N = std::nullopt;
    auto S = [](std::string s) { return TsvField(std::move(s)); };
    const std::string awkward = std::string("tab\there\nnew line\r\\ back \\N ") + (jet4 ? "\xC3\xA9\xE2\x82\xAC" : "\xC3\xA9\xE2\x82\xAC");
    const std::string wide = jet4 ? "\xF0\x9F\x98\x80 outside the basic plane \xE4\xB8\xAD" : "plain";
    Edge e;
    // id, n, s, b, y, f, d, c, [m], dt, t, me, o, bi, g
    std::vector<std::vector<TsvField>> rows = {
        {S("1"), S("-2147483648"), S("-32768"), S("0"), S("1"), S("0.1"), S("444.555"), S("-922337203685477.5808"),
         S("-9999999999999999999999.999999"), S("1899-12-29 18:00:00"), S(awkward), S(""), S(""), S("00"),
         S("{8E39276A-BCA8-4AC4-891E-49911D8438DD}")},
        {N, N, N, N, S("0"), N, N, N, N, N, N, N, N, N, N},
        {S("10"), S("2147483647"), S("32767"), S("255"), S("1"), S("340000000000000000000000000000000000000"),
         S(formatDouble(-std::numeric_limits<double>::denorm_min())),
         S("922337203685477.5807"), S("9999999999999999999999.999999"), S("9999-12-31 23:59:59"), S(textOf(255, "x")),
         S(textOf(60, "m")), S(bytesOf(60, 1)), S(bytesOf(16, 2)), S("{00000000-0000-0000-0000-000000000000}")},
        {N, S("0"), S("0"), S("1"), S("0"), S("-1.5"), S("1" + std::string(300, '0')), S("0.0001"), S("0.000001"),
         S("0100-01-01 00:00:00"), S(wide), S(textOf(5000, jet4 ? "\xE2\x82\xAC-" : "ab\xC3\xA9")),
         S(bytesOf(5 * 1024, 3)), S(""), S("{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}")},
        {N, S("7"), N, N, S("1"), S("0"), S("-0"), S("0.0000"), S("0.000000"), S("1800-06-15 12:30:45"),
         S(" trailing blanks  "), S(textOf(70000, "long memo ")), S(bytesOf(2 * 1024 * 1024, 4)), N, N},
    };
    for (auto& r : rows) {
        if (!jet4)
            r.erase(r.begin() + 8);  // no decimal column in Jet 3
        std::vector<TsvField> in = r, out = r;
        // Binary and OLE travel as hex; the rows above hold raw bytes there.
        const size_t o = jet4 ? 12 : 11, bi = o + 1;
        for (size_t k : {o, bi})
            if (r[k]) {
                in[k] = toHex(*r[k]);
                out[k] = in[k];
            }
        e.input.push_back(in);
        e.expected.push_back(out);
    }
    // Counters: \N draws the next number after the highest so far.
    e.expected[1][0] = "2";
    e.expected[3][0] = "11";
    e.expected[4][0] = "12";
    return e;
}

void expectSameThroughReaders(const std::string& file, const Edge& e, bool jet4)
{
    if (!readers::mdbtoolsAvailable() || !readers::mdbReaderAvailable()) {
        ADD_FAILURE() << "the independent readers are not installed (scripts/setup.sh)";
        return;
    }
    const size_t dt = jet4 ? 9 : 8, t = dt + 1, me = dt + 2, o = dt + 3, bi = dt + 4, f = 5, d = 6;
    auto r = readers::mdbReader(file, {"Every"});
    ASSERT_EQ(r.data.size(), 1u);
    const auto& rt = r.data[0];
    auto x = readers::mdbExport(file, "Every");
    ASSERT_EQ(rt.rows.size(), e.expected.size());
    ASSERT_EQ(x.rows.size(), e.expected.size());
    EXPECT_EQ(rt.rowCount, long(e.expected.size()));
    for (size_t i = 0; i < e.expected.size(); ++i) {
        const auto& wantRow = e.expected[i];
        ASSERT_EQ(rt.rows[i].size(), wantRow.size());
        ASSERT_EQ(x.rows[i].size(), wantRow.size());
        for (size_t c = 0; c < wantRow.size(); ++c) {
            const TsvField& want = wantRow[c];
            SCOPED_TRACE("row " + std::to_string(i) + " column " + rt.columns[c].name);
            const auto& a = rt.rows[i][c];  // mdb-reader
            const auto& b = x.rows[i][c];   // mdbtools
            if (!want) {
                EXPECT_FALSE(a) << *a;
                EXPECT_FALSE(b) << *b;
                continue;
            }
            ASSERT_TRUE(a);
            if (c == f) {
                float w = parseSingle(*want);
                EXPECT_EQ(float(std::strtod(a->c_str(), nullptr)), w) << *a;
                ASSERT_TRUE(b);
                EXPECT_EQ(std::strtof(b->c_str(), nullptr), w) << *b;  // %.8g is enough for a single
            } else if (c == d) {
                double w = parseDouble(*want);
                EXPECT_EQ(std::strtod(a->c_str(), nullptr), w) << *a;
                ASSERT_TRUE(b);
                // mdbtools prints 16 significant digits.
                EXPECT_NEAR(std::strtod(b->c_str(), nullptr), w, std::fabs(w) * 1e-15) << *b;
            } else if (c == dt) {
                // mdb-reader misreads dates before 1899-12-30 that have a time
                // part; mdbtools shows none before that day.
                bool early = *want < "1899-12-30";
                bool timed = want->substr(11) != "00:00:00";
                if (!(early && timed)) {
                    EXPECT_EQ(readers::isoToTsvDate(*a), *want);
                }
                // ... nor after about the year 4600.
                if (!early && *want < "4000") {
                    EXPECT_EQ(b, want);
                }
            } else if (jet4 && c == 8) {
                EXPECT_EQ(normalizeDecimal(*a), normalizeDecimal(*want));
                ASSERT_TRUE(b);
                EXPECT_EQ(normalizeDecimal(*b), normalizeDecimal(*want));
            } else {
                EXPECT_EQ(*a, *want);
                // mdbtools: an empty text reads as NULL (an empty OLE value as
                // empty), characters outside
                // the basic plane as '?', memos stop at 199,999 bytes.
                if (want->empty())
                    EXPECT_TRUE(!b || b->empty()) << *b;
                else if (c == t && want->find('\xF0') != std::string::npos)
                    EXPECT_TRUE(b);
                else if (c == me && want->size() >= 199999)
                    EXPECT_TRUE(b && want->compare(0, 1000, *b, 0, 1000) == 0);
                else
                    EXPECT_EQ(b, want);
            }
            (void)o;
            (void)bi;
        }
    }
}

}  // namespace

TEST(MdbToolRoundTrip, EveryTypeAndEdgeValueInBothFormats)
{
    for (bool jet4 : {true, false}) {
        SCOPED_TRACE(jet4 ? "Jet 4" : "Jet 3");
        TempDir dir;
        const std::string db = dir.file("every.mdb");
        ToolRun created = tool({"create", db, "--format", jet4 ? "2000" : "97"});
        ASSERT_EQ(created.code, kExitOk) << created.err;
        ToolRun made = tool({"exec", db, jet4 ? kEveryTypeJet4 : kEveryTypeJet3});
        ASSERT_EQ(made.code, kExitOk) << made.err;

        Edge e = everyTypeRows(jet4);
        const std::string tsv = dir.file("rows.tsv");
        {
            std::ofstream out(tsv, std::ios::binary);
            out << tsvText(e.input);
        }
        ToolRun imported = tool({"import", db, "Every", tsv});
        ASSERT_EQ(imported.code, kExitOk) << imported.err;

        ToolRun dumped = tool({"dump", db, "Every"});
        ASSERT_EQ(dumped.code, kExitOk) << dumped.err;
        std::vector<std::vector<TsvField>> back;
        readAll(dumped.out, &back);
        ASSERT_EQ(back.size(), e.expected.size());
        for (size_t i = 0; i < back.size(); ++i)
            for (size_t c = 0; c < back[i].size(); ++c)
                EXPECT_EQ(back[i][c], e.expected[i][c]) << "row " << i << " column " << c;
        EXPECT_EQ(dumped.out, tsvText(e.expected));

        ToolRun check = tool({"check", db});
        EXPECT_EQ(check.code, kExitOk) << check.err;

        expectSameThroughReaders(db, e, jet4);

        // What dump wrote imports again, from standard input, unchanged.
        ToolRun again = tool({"import", db, "Every"}, dumped.out);
        EXPECT_EQ(again.code, kExitOk) << again.err;
        ToolRun twice = tool({"dump", db, "Every"});
        EXPECT_EQ(twice.out, dumped.out + dumped.out);
        EXPECT_EQ(tool({"check", db}).code, kExitOk);
    }
}

TEST(MdbToolImport, ABadLineLeavesTheTableAsItWas)
{
    TempDir dir;
    const std::string db = dir.file("bad.mdb");
    ASSERT_EQ(tool({"create", db, "--format", "2000"}).code, kExitOk);
    ASSERT_EQ(tool({"exec", db, "Create table [T] (id counter, n int, t text(5))"}).code, kExitOk);
    ASSERT_EQ(tool({"import", db, "T"}, "1\t10\tone\n2\t20\ttwo\n").code, kExitOk);
    const std::string before = tool({"dump", db, "T"}).out;
    ASSERT_EQ(before, "1\t10\tone\n2\t20\ttwo\n");

    struct Case {
        std::string input, message;
    };
    const std::vector<Case> cases = {
        {"\\N\t1\ta\n\\N\t2\tb\n\\N\tabc\tc\n", "line 3, column 'n': not a whole number"},
        {"\\N\t1\ta\n\\N\t2147483648\tb\n", "line 2, column 'n'"},
        {"\\N\t1\tsix ch\n", "line 1: "},
        {"\\N\t1\n", "line 1: 2 fields, but table 'T' has 3 columns"},
        {"\\N\t1\ta\tb\n", "line 1: 4 fields"},
        {"\\N\t1\ta\\q\n", "line 1: field 3: unknown escape"},
        {"\\N\t1\ta\n1\t1\tdup\n", ""},  // counters are no key: this one is fine
    };
    for (const auto& c : cases) {
        ToolRun r = tool({"import", db, "T"}, c.input);
        if (c.message.empty()) {
            EXPECT_EQ(r.code, kExitOk) << r.err;
            continue;
        }
        EXPECT_EQ(r.code, kExitFailure) << c.input;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(tool({"dump", db, "T"}).out, before) << c.input;
    }
    EXPECT_EQ(tool({"check", db}).code, kExitOk);

    ToolRun noTable = tool({"import", db, "Missing"}, "1\n");
    EXPECT_EQ(noTable.code, kExitFailure);
    EXPECT_NE(noTable.err.find("Missing"), std::string::npos) << noTable.err;
    ToolRun noFile = tool({"import", db, "T", dir.file("absent.tsv")});
    EXPECT_EQ(noFile.code, kExitFailure);
    EXPECT_NE(noFile.err.find("absent.tsv"), std::string::npos) << noFile.err;
    ToolRun noDump = tool({"dump", db, "Missing"});
    EXPECT_EQ(noDump.code, kExitFailure);
    ToolRun exists = tool({"create", db, "--format", "97"});
    EXPECT_EQ(exists.code, kExitFailure);
    EXPECT_EQ(tool({"dump", db, "T"}).out.substr(0, before.size()), before);
}

// An import larger than the page cache (which then keeps pages in the
// journal's tail), killed before it ends: the file, read as it lies by the
// readers that know nothing of the journal, is the old file byte for byte.
TEST(MdbToolImport, AKilledImportShowsReadersTheOldFile)
{
    const std::string exe = std::string(FERROWANE_BINARY_DIR) + "/tools/ferrowane-mdb";
    if (!std::filesystem::exists(exe))
        GTEST_SKIP() << "ferrowane-mdb is not built";
    TempDir dir;
    const std::string db = dir.file("big.mdb");
    ASSERT_EQ(tool({"create", db, "--format", "97"}).code, kExitOk);
    ASSERT_EQ(tool({"exec", db, "Create table [T] (id int, m memo)"}).code, kExitOk);
    ASSERT_EQ(tool({"import", db, "T"}, "1\tkept\n2\talso kept\n").code, kExitOk);
    auto bytes = [](const std::string& path) {
        std::ostringstream t;
        t << std::ifstream(path, std::ios::binary).rdbuf();
        return t.str();
    };
    const std::string before = bytes(db);

    int in[2];
    ASSERT_EQ(::pipe(in), 0);
    pid_t pid = fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::close(in[0]);
        ::close(in[1]);
        ::execl(exe.c_str(), exe.c_str(), "import", db.c_str(), "T", (char*)nullptr);
        _exit(127);
    }
    ::close(in[0]);
    // 12 MB of rows, three times the 2,048 pages of 2 KB the cache's
    // transaction may hold; standard input stays open, so the import waits.
    const std::string memo(4000, 'm');
    for (int i = 3; i < 3000; ++i) {
        const std::string line = std::to_string(i) + "\t" + memo + "\n";
        ASSERT_EQ(::write(in[1], line.data(), line.size()), ssize_t(line.size()));
    }
    const std::string journal = std::filesystem::canonical(db).string() + "-journal";
    for (int wait = 0; wait < 6000; ++wait) {
        std::error_code ec;
        if (std::filesystem::file_size(journal, ec) > (4u << 20))
            break;
        ::usleep(10000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ::close(in[1]);
    ASSERT_GT(std::filesystem::file_size(journal), 8u << 20) << "the import never outgrew the page cache";

    EXPECT_TRUE(bytes(db) == before);
    if (readers::mdbtoolsAvailable()) {
        EXPECT_EQ(readers::mdbExport(db, "T").rows.size(), 2u);
    }
    if (readers::mdbReaderAvailable()) {
        EXPECT_EQ(readers::mdbReader(db, {"T"}).find("T")->rows.size(), 2u);
    }
    EXPECT_EQ(tool({"check", db}).code, kExitOk);
    EXPECT_EQ(tool({"dump", db, "T"}).out, "1\tkept\n2\talso kept\n");
}

TEST(MdbToolImport, Jet3RefusesCharactersItsCodePageCannotHold)
{
    TempDir dir;
    const std::string db = dir.file("cp.mdb");
    ASSERT_EQ(tool({"create", db, "--format", "97"}).code, kExitOk);
    ASSERT_EQ(tool({"exec", db, "Create table [T] (t text(50), m memo)"}).code, kExitOk);
    ToolRun ok = tool({"import", db, "T"}, "caf\xC3\xA9 \xE2\x82\xAC\t\xC5\x93uvre\n");
    EXPECT_EQ(ok.code, kExitOk) << ok.err;
    ToolRun bad = tool({"import", db, "T"}, "fine\tfine\n\xE4\xB8\xAD\tx\n");
    EXPECT_EQ(bad.code, kExitFailure);
    EXPECT_NE(bad.err.find("line 2"), std::string::npos) << bad.err;
    EXPECT_EQ(tool({"dump", db, "T"}).out, "caf\xC3\xA9 \xE2\x82\xAC\t\xC5\x93uvre\n");
}

TEST(MdbToolImport, CountersTakeTheGivenValueAndGoOnAfterTheHighest)
{
    TempDir dir;
    const std::string db = dir.file("counter.mdb");
    ASSERT_EQ(tool({"create", db, "--format", "97"}).code, kExitOk);
    ASSERT_EQ(tool({"exec", db, "Create table [C] (id counter, t text(10))"}).code, kExitOk);
    ASSERT_EQ(tool({"import", db, "C"}, "\\N\ta\n5\tb\n\\N\tc\n3\td\n\\N\te\n").code, kExitOk);
    EXPECT_EQ(tool({"dump", db, "C"}).out, "1\ta\n5\tb\n6\tc\n3\td\n7\te\n");
    // A later import goes on from there.
    ASSERT_EQ(tool({"import", db, "C"}, "\\N\tf\n").code, kExitOk);
    EXPECT_EQ(tool({"dump", db, "C"}).out.substr(20), "8\tf\n");
}

TEST(MdbToolExec, StatementsAndProbes)
{
    TempDir dir;
    const std::string db = dir.file("exec.mdb");
    ASSERT_EQ(tool({"create", db, "--format", "2000"}).code, kExitOk);
    ASSERT_EQ(tool({"exec", db, "Create table [A b] (x int, [y z] text(3))"}).code, kExitOk);
    ToolRun probe = tool({"exec", db, "select * from [A b] where 1=0"});
    EXPECT_EQ(probe.code, kExitOk) << probe.err;
    EXPECT_EQ(probe.out, "x\ty z\n");
    ToolRun missing = tool({"exec", db, "Select 1 from [nope] where 1=0"});
    EXPECT_EQ(missing.code, kExitFailure);
    ToolRun syntax = tool({"exec", db, "Create tabel [X] (a int)"});
    EXPECT_EQ(syntax.code, kExitFailure);
    EXPECT_FALSE(syntax.err.empty());
    EXPECT_EQ(tool({"tables", db}).out, "A b\n");
    ASSERT_EQ(tool({"exec", db, "drop table [A b]"}).code, kExitOk);
    EXPECT_EQ(tool({"tables", db}).out, "");
    EXPECT_EQ(tool({"check", db}).code, kExitOk);
}

TEST(MdbToolProgram, ExitCodesAndStandardInput)
{
    const std::string exe = std::string(FERROWANE_BINARY_DIR) + "/tools/ferrowane-mdb";
    if (!std::filesystem::exists(exe))
        GTEST_SKIP() << "ferrowane-mdb is not built";
    TempDir dir;
    const std::string db = dir.file("p.mdb");
    EXPECT_EQ(readers::runProcess({exe}).exitCode, kExitUsage);
    EXPECT_EQ(readers::runProcess({exe, "create", db, "--format", "2000"}).exitCode, kExitOk);
    EXPECT_EQ(readers::runProcess({exe, "exec", db, "Create table [T] (a int, b memo)"}).exitCode, kExitOk);
    auto imported = readers::runProcess({exe, "import", db, "T"}, "1\tone\\ttab\n\\N\t\\N\n");
    EXPECT_EQ(imported.exitCode, kExitOk) << imported.err;
    auto dumped = readers::runProcess({exe, "dump", db, "T"});
    EXPECT_EQ(dumped.exitCode, kExitOk);
    EXPECT_EQ(dumped.out, "1\tone\\ttab\n\\N\t\\N\n");
    auto missing = readers::runProcess({exe, "check", dir.file("none.mdb")});
    EXPECT_EQ(missing.exitCode, kExitFailure);
    EXPECT_NE(missing.err.find("none.mdb"), std::string::npos);
}
