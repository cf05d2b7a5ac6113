// Every row of the type map, converted from a real server into both formats
// and read back by our engine and by mdb-reader.
#include "run_fixture.h"

#include "readers.h"

#include <map>

using namespace ferrowane;
using ferrowane::testing::completion;
using ferrowane::testing::RunFixture;

namespace {

struct Case {
    const char* name;
    const char* type;
    const char* value;      // SQL literal of the one row
    const char* jet3;       // declaration in a Jet 3 file
    const char* jet4;
    const char* back3;      // the value read back by our engine (nullptr: NULL)
    const char* back4;
};

// Values read back, written as text: numbers as the engine gives them,
// dates "yyyy-MM-dd HH:mm:ss", bytes as upper-case hex.
const Case kCases[] = {
    {"c_tiny", "tinyint", "-128", " int", " int", "-128", "-128"},
    {"c_utiny", "tinyint unsigned", "255", " int", " int", "255", "255"},
    {"c_small", "smallint", "-32768", " int", " int", "-32768", "-32768"},
    {"c_umedium", "mediumint unsigned", "16777215", " int", " int", "16777215", "16777215"},
    {"c_int", "int", "-2147483648", " int", " int", "-2147483648", "-2147483648"},
    {"c_uint", "int unsigned", "4294967295", " double", " double", "4294967295", "4294967295"},
    {"c_big", "bigint", "-9007199254740993", " double", " decimal(20,0)", "-9007199254740992", "-9007199254740993"},
    {"c_ubig", "bigint unsigned", "18446744073709551615", " double", " decimal(20,0)", "18446744073709552000",
     "18446744073709551615"},
    {"c_float", "float", "1.5", " single", " single", "1.5", "1.5"},
    {"c_double", "double", "3.141592653589793", " double", " double", "3.141592653589793", "3.141592653589793"},
    {"c_dec", "decimal(10,2)", "-12345678.91", " currency", " decimal(10,2)", "-12345678.9100", "-12345678.91"},
    {"c_decwide", "decimal(30,5)", "1234567890123456789012345.12345", " double", " double",
     "1.2345678901234568e+24", "1.2345678901234568e+24"},
    {"c_year", "year", "2024", " int", " int", "2024", "2024"},
    {"c_varchar", "varchar(50)", "'h\xC3\xA9llo'", " text(50)", " text(100)", "h\xC3\xA9llo", "h\xC3\xA9llo"},
    {"c_varchar200", "varchar(200)", "'long'", " text(200)", " text(255)", "long", "long"},
    {"c_char", "char(10)", "'abc'", " text(10)", " text(20)", "abc", "abc"},
    {"c_tinytext", "tinytext", "'tt'", " text(255)", " text(255)", "tt", "tt"},
    {"c_text", "text", "'a\\r\\nb'", " Memo", " Memo", "a\r\nb", "a\r\nb"},
    {"c_blob", "blob", "x'00FF41'", " OleObject", " OleObject", "00FF41", "00FF41"},
    {"c_date", "date", "'2024-02-29'", " Date", " Date", "2024-02-29 00:00:00", "2024-02-29 00:00:00"},
    {"c_datetime", "datetime(6)", "'1999-12-31 23:59:58'", " Date", " Date", "1999-12-31 23:59:58",
     "1999-12-31 23:59:58"},
    {"c_timestamp", "timestamp null", "'2020-01-01 10:00:00'", " Date", " Date", "2020-01-01 10:00:00",
     "2020-01-01 10:00:00"},
    {"c_time", "time(2)", "'12:30:00'", " Date", " Date", "1899-12-30 12:30:00", "1899-12-30 12:30:00"},
    {"c_enum", "enum('a','bc')", "'bc'", " text(8)", " text(8)", "bc", "bc"},
    {"c_set", "set('x','y')", "'x,y'", " text(7)", " text(7)", "x,y", "x,y"},
    {"c_bit", "bit(5)", "b'00101'", " text(5)", " text(5)", "00101", "00101"},
    {"c_binary", "binary(4)", "x'01020304'", " binary(4)", " binary(4)", "01020304", "01020304"},
    {"c_varbinary", "varbinary(300)", "x'AB'", " OleObject", " OleObject", "AB", "AB"},
    {"c_point", "point", "ST_GeomFromText('POINT(1 2.5)')", " Memo", " Memo", "POINT(1 2.5)", "POINT(1 2.5)"},
    {"c_json", "json", "'{\"a\": 1}'", " Memo", " Memo", "{\"a\": 1}", "{\"a\": 1}"},
    {"c_uuid", "uuid", "'123e4567-e89b-12d3-a456-426614174000'", " Memo", " Memo",
     "123e4567-e89b-12d3-a456-426614174000", "123e4567-e89b-12d3-a456-426614174000"},
    {"c_inet6", "inet6", "'::1'", " Memo", " Memo", "::1", "::1"},
    {"c_zerodate", "date", "'0000-00-00'", " Date", " Date", nullptr, nullptr},
    {"c_olddate", "date", "'0050-01-01'", " Date", " Date", nullptr, nullptr},
    {"c_null", "int", "NULL", " int", " int", nullptr, nullptr},
};

std::string hex(const std::string& bytes)
{
    return QByteArray::fromStdString(bytes).toHex().toUpper().toStdString();
}

std::string text(const jet::Value& v)
{
    switch (v.kind()) {
    case jet::Value::Kind::Null:
        return "<null>";
    case jet::Value::Kind::Bool:
        return v.asBool() ? "1" : "0";
    case jet::Value::Kind::Int:
        return std::to_string(v.asInt());
    case jet::Value::Kind::Double:
        return QString::number(v.asDouble(), 'g', QLocale::FloatingPointShortest).toStdString();
    case jet::Value::Kind::Date:
        return jet::formatDateTime(v.asDate());
    case jet::Value::Kind::Bytes:
        return hex(v.str());
    default:
        return v.str();
    }
}

class TypeMapOnServer : public ::testing::TestWithParam<int> {};

}  // namespace

TEST_P(TypeMapOnServer, EveryTypeConvertsAndReadsBack)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    const bool jet4 = GetParam() == 1;
    RunFixture f(env, QStringLiteral("conv_types_%1").arg(GetParam()), GetParam());
    QString create = "create table alltypes (";
    QString values = "insert into alltypes values (";
    QString expected = "Create table [alltypes] (";
    int i = 0;
    for (const Case& c : kCases) {
        create += QString(i ? ", " : "") + c.name + " " + c.type;
        values += QString(i ? ", " : "") + QString::fromUtf8(c.value);
        expected += QString("\r\n[") + c.name + "]" + (jet4 ? c.jet4 : c.jet3) + (i + 1 < int(std::size(kCases)) ? " , " : "");
        ++i;
    }
    expected += "\r\n ) ";
    f.db.exec(create + ")");
    f.db.exec("set session sql_mode = ''");
    f.db.exec(values + ")");

    AccessDataset dataset(f.connection);
    ConversionRun run(f.source, f.connection, dataset, f.log);
    const RunResult r = run.run(f.settings, {"alltypes"});
    dataset.close();
    f.connection.close();
    EXPECT_EQ(run.targetOperations().lastCreateStatement(), expected);

    QStringList lines = {"Create table alltypes...Done", "", "Insert table alltypes 1 Rows ...Done"};
    if (!jet4) {
        lines << "Column c_big: 1 value not stored as it was (first: -9007199254740993 is not exact as a double)"
              << "Column c_ubig: 1 value not stored as it was (first: 18446744073709551615 is not exact as a double)";
    }
    lines << "Column c_decwide: 1 value not stored as it was (first: 1234567890123456789012345.12345 is not exact "
             "as a double)"
          << "Column c_zerodate: 1 value not stored as it was (first: 0000-00-00 is a zero date: stored as NULL)"
          << "Column c_olddate: 1 value not stored as it was (first: 0050-01-01 is before the year 100)"
          << "" << QStringLiteral("Conversion finished with %1 values changed: see the lines above").arg(jet4 ? 3 : 5)
          << completion().last();
    EXPECT_EQ(f.log.lines(), lines);
    EXPECT_EQ(r.failedTables, 0);

    // Our engine.
    auto db = f.openTarget();
    jet::Table& t = db->table("alltypes");
    const auto rows = t.readAll();
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_EQ(rows[0].size(), std::size(kCases));
    for (size_t k = 0; k < std::size(kCases); ++k) {
        const Case& c = kCases[k];
        const char* want = jet4 ? c.back4 : c.back3;
        EXPECT_EQ(text(rows[0][k]), want ? std::string(want) : std::string("<null>")) << c.name;
    }
    db.reset();

    // mdb-reader.
    if (!readers::mdbReaderAvailable())
        GTEST_SKIP() << "mdb-reader is not installed (tests/node)";
    const readers::ReaderResult read = readers::mdbReader(f.settings.accessfilename.toStdString(), {"alltypes"});
    const readers::ReaderTable* rt = read.find("alltypes");
    ASSERT_NE(rt, nullptr);
    ASSERT_EQ(rt->rows.size(), 1u);
    std::map<std::string, std::string> byName;
    for (size_t k = 0; k < rt->columns.size(); ++k)
        byName[rt->columns[k].name] = rt->rows[0][k] ? *rt->rows[0][k] : "<null>";
    // Every column, as mdb-reader writes it.
    for (const Case& c : kCases) {
        const char* want = jet4 ? c.back4 : c.back3;
        std::string got = byName[c.name];
        if (QByteArray(c.jet4) == " Date" && got != "<null>")
            got = readers::isoToTsvDate(got);
        EXPECT_EQ(got, want ? std::string(want) : std::string("<null>")) << c.name;
    }
    EXPECT_EQ(byName["c_int"], "-2147483648");
    EXPECT_EQ(byName["c_uint"], "4294967295");
    EXPECT_EQ(byName["c_big"], jet4 ? "-9007199254740993" : "-9007199254740992");
    EXPECT_EQ(byName["c_dec"], jet4 ? "-12345678.91" : "-12345678.9100");
    EXPECT_EQ(byName["c_varchar"], "h\xC3\xA9llo");
    EXPECT_EQ(byName["c_text"], "a\r\nb");
    EXPECT_EQ(byName["c_blob"], "00FF41");
    EXPECT_EQ(byName["c_binary"], "01020304");
    EXPECT_EQ(byName["c_bit"], "00101");
    EXPECT_EQ(byName["c_point"], "POINT(1 2.5)");
    EXPECT_EQ(readers::isoToTsvDate(byName["c_date"]), "2024-02-29 00:00:00");
    EXPECT_EQ(readers::isoToTsvDate(byName["c_datetime"]), "1999-12-31 23:59:58");
    EXPECT_EQ(byName["c_zerodate"], "<null>");
    EXPECT_EQ(byName["c_olddate"], "<null>");
}

TEST_P(TypeMapOnServer, BlobToText)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, QStringLiteral("conv_blobtext_%1").arg(GetParam()), GetParam());
    f.db.exec("create table docs (id int, body longblob, note text)");
    f.db.exec("insert into docs values (1, '{\\\\rtf1\\\\ansi Hello {\\\\b World}\\\\par}', 'n1'), (2, 'plain caf\xC3\xA9', "
              "'n2'), (3, '', ''), (4, null, null), (5, x'FFFE4100', 'x')");
    f.settings.blobtotext = true;
    AccessDataset dataset(f.connection);
    ConversionRun run(f.source, f.connection, dataset, f.log);
    run.run(f.settings, {"docs"});
    dataset.close();
    f.connection.close();
    EXPECT_TRUE(run.targetOperations().lastCreateStatement().contains("[body] Memo"));
    auto db = f.openTarget();
    const auto rows = db->table("docs").readAll();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0][1].str(), "Hello World\r\n");
    EXPECT_EQ(rows[1][1].str(), "plain caf\xC3\xA9");
    EXPECT_EQ(text(rows[2][1]), "");
    EXPECT_EQ(text(rows[3][1]), "");  // NULL too gives an empty text
    EXPECT_EQ(text(rows[3][2]), "<null>");
    EXPECT_EQ(rows[4][1].str(), "A");
    EXPECT_EQ(rows[0][2].str(), "n1");
}

TEST_P(TypeMapOnServer, TextsAFileCannotHoldAreCountedNotLost)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    const bool jet4 = GetParam() == 1;
    RunFixture f(env, QStringLiteral("conv_texts_%1").arg(GetParam()), GetParam());
    f.db.exec("create table t (id int, s varchar(10), e enum('short','a much longer value'))");
    f.db.exec("insert into t values (1, '\xD0\x9F\xD1\x80\xD0\xB8', 'short'), (2, 'caf\xC3\xA9', null), "
              "(3, '\xE2\x82\xAC', 'a much longer value')");
    f.run({"t"});
    QStringList lines = {"Create table t...Done", "", "Insert table t 3 Rows ...Done"};
    if (!jet4)
        lines << "Column s: 1 value not stored as it was (first: characters that code page 1252 lacks became \"?\")";
    lines << "";
    if (jet4)
        lines << completion();
    else
        lines << "Conversion finished with 1 value changed: see the lines above" << completion().last();
    EXPECT_EQ(f.log.lines(), lines);
    auto db = f.openTarget();
    const auto rows = db->table("t").readAll();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][1].str(), jet4 ? "\xD0\x9F\xD1\x80\xD0\xB8" : "???");
    EXPECT_EQ(rows[1][1].str(), "caf\xC3\xA9");
    EXPECT_EQ(rows[2][1].str(), "\xE2\x82\xAC");  // the euro sign is in code page 1252
    EXPECT_EQ(rows[2][2].str(), "a much longer value");
}

INSTANTIATE_TEST_SUITE_P(Formats, TypeMapOnServer, ::testing::Values(0, 1));
