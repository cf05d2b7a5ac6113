// Values at the edges, from a real server into both formats, read back by
// mdb-reader and mdb-export: four-byte characters and text sizes, TIME
// values (as dates and as text), zero and last dates, the utf8 character
// set, and the caption that ends a run that did not all go through.
#include "run_fixture.h"

#include "readers.h"

#include <map>

using namespace ferrowane;
using ferrowane::testing::RunFixture;

namespace {

const QString kEmoji = QStringLiteral("\U0001F600");

QString repeated(const QString& s, int n)
{
    QString out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

// mdb-reader's values of a table, by column name, row by row.
std::vector<std::map<std::string, std::string>> readBack(const QString& file, const std::string& table)
{
    std::vector<std::map<std::string, std::string>> rows;
    const readers::ReaderResult read = readers::mdbReader(file.toStdString(), {table});
    const readers::ReaderTable* t = read.find(table);
    if (!t)
        return rows;
    for (const readers::Row& r : t->rows) {
        std::map<std::string, std::string> byName;
        for (size_t k = 0; k < t->columns.size(); ++k)
            byName[t->columns[k].name] = r[k] ? *r[k] : "<null>";
        rows.push_back(byName);
    }
    return rows;
}

// mdb-export's values, the same way.
std::vector<std::map<std::string, std::string>> exported(const QString& file, const std::string& table)
{
    std::vector<std::map<std::string, std::string>> rows;
    const readers::ExportedTable e = readers::mdbExport(file.toStdString(), table);
    for (const readers::Row& r : e.rows) {
        std::map<std::string, std::string> byName;
        for (size_t k = 0; k < e.columns.size(); ++k)
            byName[e.columns[k].name] = r[k] ? *r[k] : "<null>";
        rows.push_back(byName);
    }
    return rows;
}

std::map<std::string, std::string> schemaTypes(const QString& file, const std::string& table)
{
    std::map<std::string, std::string> types;
    for (const readers::SchemaTable& t : readers::mdbSchema(file.toStdString(), table))
        for (const readers::SchemaColumn& c : t.columns)
            types[c.name] = c.type;
    return types;
}

std::string utf8(const QString& s)
{
    return s.toStdString();
}

class ValueFidelity : public ::testing::TestWithParam<int> {
protected:
    bool jet4() const { return GetParam() == 1; }
    static bool readersAvailable() { return readers::mdbReaderAvailable() && readers::mdbtoolsAvailable(); }
};

}  // namespace

// Four-byte characters: sizes that hold them in Jet 4, "?" before measuring
// in Jet 3, Text up to 255 characters in both formats (indexable), and a
// loss line that counts characters.
TEST_P(ValueFidelity, FourByteCharactersAndTextSizes)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, QStringLiteral("fid_texts_%1").arg(GetParam()), GetParam());
    f.settings.skipindex = false;
    f.db.exec("create table t (id int primary key, v1 varchar(1), v120 varchar(120), v255 varchar(255), "
              "l200 varchar(200) character set latin1, v300 varchar(300), key k255 (v255))");
    const QString e130 = repeated(kEmoji, 130);
    f.db.exec(("insert into t values (1, '" + kEmoji + "', '" + repeated(kEmoji, 120) + "', '" + e130 + "', '"
               + QString(200, QLatin1Char('x')) + "', 'a" + kEmoji + "'), (2, 'b', 'c', 'd', 'e', 'f')")
                  .toUtf8());
    const RunResult r = f.run({"t"});

    QStringList lines = {"Create table t...Done", "", "Insert table t 2 Rows ...Done"};
    if (jet4()) {
        lines << "Column v255: 1 value not stored as it was (first: a text of 130 characters (260 UTF-16 units) "
                 "was cut to 127 characters (254 units))";
    } else {
        for (const char* c : {"v1", "v120", "v255", "v300"})
            lines << QStringLiteral("Column %1: 1 value not stored as it was (first: characters that code page "
                                    "1252 lacks became \"?\")")
                         .arg(c);
    }
    lines << "" << "Create keys of table t: PRIMARYt1, idx_k255t...Done" << ""
          << "Conversion finished with " + QString(jet4() ? "1 value" : "4 values")
                       + " changed: see the lines above"
          << "Click 'Finish' to exit the wizard.";
    EXPECT_EQ(f.log.lines(), lines);
    EXPECT_EQ(r.valuesChanged, jet4() ? 1 : 4);
    EXPECT_EQ(r.keysNotCreated, 0);

    if (!readersAvailable())
        GTEST_SKIP() << "the independent readers are not installed";
    const QString file = f.settings.accessfilename;
    const auto types = schemaTypes(file, "t");
    EXPECT_EQ(types.at("v1"), jet4() ? "Text (2)" : "Text (1)");
    EXPECT_EQ(types.at("v255"), "Text (255)");
    EXPECT_EQ(types.at("l200"), "Text (200)");
    // mdbtools reads Jet 4 text as UCS-2: a character beyond U+FFFF shows as
    // two "?", one per UTF-16 unit stored.
    auto emoji = [&](int n) { return utf8(repeated(kEmoji, n)); };
    auto units = [&](int n) { return std::string(size_t(2 * n), '?'); };
    const auto byReader = readBack(file, "t");
    const auto byExport = exported(file, "t");
    for (const auto* rows : {&byReader, &byExport}) {
        const bool reader = rows == &byReader;
        ASSERT_EQ(rows->size(), 2u);
        const auto& row = rows->at(0);
        EXPECT_EQ(row.at("v1"), !jet4() ? "?" : reader ? emoji(1) : units(1));
        EXPECT_EQ(row.at("v120"), !jet4() ? std::string(120, '?') : reader ? emoji(120) : units(120));
        EXPECT_EQ(row.at("v255"), !jet4() ? std::string(130, '?') : reader ? emoji(127) : units(127));
        EXPECT_EQ(row.at("l200"), std::string(200, 'x'));
        EXPECT_EQ(row.at("v300"), "a" + (!jet4() ? "?" : reader ? emoji(1) : units(1)));
        EXPECT_EQ(rows->at(1).at("v255"), "d");
    }
    // The index on the Text(255) column was made.
    auto db = f.openTarget();
    bool indexed = false;
    for (const auto& li : db->table("t").def().logicalIndexes)
        indexed = indexed || li.name == "idx_k255t";
    EXPECT_TRUE(indexed);
}

// TIME as Date/Time: a time of day as it is, fractions cut (never the next
// day), other times counted with what they became; as text with the option.
TEST_P(ValueFidelity, TimeValues)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    for (const bool asText : {false, true}) {
        SCOPED_TRACE(asText ? "as text" : "as date");
        RunFixture f(env, QStringLiteral("fid_time_%1_%2").arg(GetParam()).arg(asText), GetParam());
        f.settings.timetotext = asText;
        f.db.exec("create table tm (id int, t time, t6 time(6))");
        f.db.exec("insert into tm values (1, '12:30:00', '23:59:59.999999'), (2, '-01:00:00', '838:59:59.000000'), "
                  "(3, '838:59:59', '-838:59:59.500000'), (4, null, '00:00:00.000001')");
        const RunResult r = f.run({"tm"});
        if (asText) {
            EXPECT_EQ(f.log.lines().mid(3, 3), QStringList({"", "Conversion is Completed",
                                                            "Wizard has migrated your MySQL database to Access "
                                                            "successfully."}));
            EXPECT_EQ(r.valuesChanged, 0);
        } else {
            EXPECT_EQ(f.log.lines().mid(3, 2),
                      QStringList({"Column t: 2 values not stored as they were (first: -01:00:00 is a negative "
                                   "time: stored as NULL)",
                                   "Column t6: 2 values not stored as they were (first: 838:59:59.000000 is 24 "
                                   "hours or more: stored as 1900-02-02 22:59:59)"}));
            EXPECT_EQ(r.valuesChanged, 4);
        }
        if (!readersAvailable())
            GTEST_SKIP() << "the independent readers are not installed";
        const QString file = f.settings.accessfilename;
        const auto types = schemaTypes(file, "tm");
        EXPECT_EQ(types.at("t"), asText ? "Text (10)" : "DateTime");
        EXPECT_EQ(types.at("t6"), asText ? "Text (17)" : "DateTime");
        const auto rows = readBack(file, "tm");
        ASSERT_EQ(rows.size(), 4u);
        if (asText) {
            const std::vector<std::pair<std::string, std::string>> want = {
                {"12:30:00", "23:59:59.999999"}, {"-01:00:00", "838:59:59.000000"},
                {"838:59:59", "-838:59:59.500000"}, {"<null>", "00:00:00.000001"}};
            for (size_t i = 0; i < want.size(); ++i) {
                EXPECT_EQ(rows[i].at("t"), want[i].first);
                EXPECT_EQ(rows[i].at("t6"), want[i].second);
            }
            const auto e = exported(file, "tm");
            ASSERT_EQ(e.size(), 4u);
            EXPECT_EQ(e[2].at("t6"), "-838:59:59.500000");
        } else {
            EXPECT_EQ(rows[0].at("t"), "1899-12-30T12:30:00.000Z");
            EXPECT_EQ(rows[0].at("t6"), "1899-12-30T23:59:59.999Z");
            EXPECT_EQ(rows[1].at("t"), "<null>");
            EXPECT_EQ(rows[1].at("t6"), "1900-02-02T22:59:59.000Z");
            EXPECT_EQ(rows[2].at("t"), "1900-02-02T22:59:59.000Z");
            EXPECT_EQ(rows[2].at("t6"), "<null>");
            EXPECT_EQ(rows[3].at("t6"), "1899-12-30T00:00:00.000Z");
            const auto e = exported(file, "tm");
            ASSERT_EQ(e.size(), 4u);
            EXPECT_EQ(e[0].at("t"), "1899-12-30 12:30:00");
            EXPECT_EQ(e[1].at("t6"), "1900-02-02 22:59:59");
        }
    }
}

// Zero dates become NULL and are counted; the last moment Access holds stays
// in its year.
TEST_P(ValueFidelity, DatesAtTheEdges)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, QStringLiteral("fid_dates_%1").arg(GetParam()), GetParam());
    f.db.exec("set session sql_mode = ''");
    f.db.exec("create table d (id int, d date, dt datetime(6))");
    f.db.exec("insert into d values (1, '0000-00-00', '9999-12-31 23:59:59.999999'), "
              "(2, '2024-05-00', '0000-00-00 00:00:00'), (3, '2024-00-00', '2024-02-29 12:00:00.123456')");
    const RunResult r = f.run({"d"});
    EXPECT_EQ(f.log.lines().mid(3, 2),
              QStringList({"Column d: 3 values not stored as they were (first: 0000-00-00 is a zero date: stored as "
                           "NULL)",
                           "Column dt: 1 value not stored as it was (first: 0000-00-00 00:00:00.000000 is a zero "
                           "date: stored as NULL)"}));
    EXPECT_EQ(f.log.lines().at(6), "Conversion finished with 4 values changed: see the lines above");
    EXPECT_EQ(r.valuesChanged, 4);
    if (!readersAvailable())
        GTEST_SKIP() << "the independent readers are not installed";
    const auto rows = readBack(f.settings.accessfilename, "d");
    ASSERT_EQ(rows.size(), 3u);
    for (const auto& row : rows)
        EXPECT_EQ(row.at("d"), "<null>");
    EXPECT_EQ(rows[0].at("dt"), "9999-12-31T23:59:59.999Z");
    EXPECT_EQ(rows[1].at("dt"), "<null>");
    EXPECT_EQ(rows[2].at("dt"), "2024-02-29T12:00:00.123Z");
    // mdb-export shows whole seconds, rounded (it makes 23:59:59.999 of the
    // last day an invalid date of its own, so that row is not compared).
    const auto e = exported(f.settings.accessfilename, "d");
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[1].at("dt"), "<null>");
    EXPECT_EQ(e[2].at("dt"), "2024-02-29 12:00:00");
}

// The server's utf8 is utf8mb3: asking for utf8 asks for utf8mb4, so that
// four-byte characters come across instead of the server's "?".
TEST_P(ValueFidelity, Utf8AsksForUtf8mb4)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, QStringLiteral("fid_utf8_%1").arg(GetParam()), GetParam());
    f.db.exec("create table u (s varchar(10))");
    f.db.exec(("insert into u values ('x" + kEmoji + "')").toUtf8());
    f.source.close();
    f.source.setParams(env.params(f.db.name(), QStringLiteral("utf8")));
    f.source.open();
    EXPECT_EQ(f.source.characterSet(), "utf8mb4");
    f.run({"u"});
    if (!readersAvailable())
        GTEST_SKIP() << "the independent readers are not installed";
    const auto rows = readBack(f.settings.accessfilename, "u");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("s"), jet4() ? utf8("x" + kEmoji) : "x?");
}

// A run that did not all go through says so in its last caption, with the
// counts; a Stop says it was stopped, and offers no Finish.
TEST_P(ValueFidelity, EndCaptionsTellWhatHappened)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, QStringLiteral("fid_end_%1").arg(GetParam()), GetParam());
    f.db.exec("create table a (id int)");
    f.db.exec("insert into a select seq from seq_1_to_250");
    f.db.exec("create table b (id int)");
    f.log.stopAtPoint = 1;
    RunResult r = f.run({"a", "b", "missing"});
    EXPECT_TRUE(r.stopRequested);
    EXPECT_EQ(f.log.lines().last(), "Conversion was stopped, with 1 failed table: see the lines above");

    f.log.stopAtPoint = -1;
    f.log.clear();
    r = f.run({"b", "missing"});
    EXPECT_EQ(r.failedTables, 1);
    EXPECT_EQ(f.log.lines().mid(f.log.lines().size() - 2),
              QStringList({"Conversion finished with 1 failed table: see the lines above",
                           "Click 'Finish' to exit the wizard."}));

    RunResult counts;
    counts.failedTables = 2;
    counts.keysNotCreated = 1;
    counts.valuesChanged = 37;
    EXPECT_EQ(endCaption(counts, RunTexts()),
              "Conversion finished with 2 failed tables, 1 key not created, 37 values changed: see the lines above");
    counts.stopRequested = true;
    counts.failedTables = 0;
    counts.keysNotCreated = 0;
    counts.valuesChanged = 0;
    EXPECT_EQ(endCaption(counts, RunTexts()), "Conversion was stopped: see the lines above");
    EXPECT_EQ(endCaption(RunResult(), RunTexts()), RunTexts().migrated);
}

INSTANTIATE_TEST_SUITE_P(Formats, ValueFidelity, ::testing::Values(0, 1));
