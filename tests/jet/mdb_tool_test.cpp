// ferrowane-mdb: the text form of import and dump, and the tool itself.
#include "tools/ferrowane-mdb/cli.cpp"
#include "tools/ferrowane-mdb/tsv.cpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
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
    const char* d = std::getenv("FERROWANE_FIXTURES_DIR");
    return (d ? std::string(d) : std::string(FERROWANE_SOURCE_DIR) + "/../shared/fixtures") + "/" + name;
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
}

TEST(MdbToolCli, CheckAndTablesOnAccessMadeFiles)
{
    const std::string file = fixturePath("jet3/testV1997.mdb");
    if (!std::filesystem::exists(file))
        GTEST_SKIP() << "no fixtures";
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
    if (!std::filesystem::exists(source))
        GTEST_SKIP() << "no fixtures";
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
