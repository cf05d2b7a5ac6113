// Keys made after the rows, judged by the engine's checker, mdbtools and
// mdb-reader: a key that Access's comparison (letter case aside) cannot make
// costs no row and becomes a plain index, unique keys stay unique, index
// names keep up to 64 characters, and a Stop between keys keeps the rows and
// the keys made before it.
#include "run_fixture.h"

#include "readers.h"

#include "jet/checker.h"

#include <algorithm>
#include <set>

using namespace ferrowane;
using ferrowane::testing::RunFixture;

namespace {

class KeysAfterRows : public ::testing::TestWithParam<int> {};

const readers::SchemaIndex* findIndex(const std::vector<readers::SchemaIndex>& list, const std::string& name)
{
    for (const auto& i : list)
        if (i.name == name)
            return &i;
    return nullptr;
}

}  // namespace

TEST_P(KeysAfterRows, KeysAccessCannotMakeCostNoRow)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, QStringLiteral("keys_case_%1").arg(GetParam()), GetParam());
    f.settings.skipindex = false;
    const QString long1 = QStringLiteral("customer_lookup_index_number1");
    const QString long2 = QStringLiteral("customer_lookup_index_number2");
    f.db.exec("create table t (code varchar(10) collate utf8mb4_bin primary key, "
              "mail varchar(40) collate utf8mb4_bin, n int, unique key mail (mail), unique key n (n), "
              "key " + long1 + " (n), key " + long2 + " (mail))");
    // MySQL keeps these apart; Access finds 'abc' and 'ABC', 'é' and 'É' equal.
    const std::set<std::string> codes{"abc", "ABC", "\u00e9", "\u00c9", "x", "y", "z"};
    int n = 0;
    for (const std::string& c : codes) {
        ++n;
        f.db.exec(QStringLiteral("insert into t values ('%1', '%1@mail', %2)").arg(QString::fromStdString(c)).arg(n));
    }
    const RunResult r = f.run({"t"});
    const QStringList lines = f.log.lines();
    const std::string log = lines.join('\n').toStdString();
    EXPECT_EQ(r.keysNotCreated, 2) << log;
    EXPECT_EQ(r.keysMadePlain, 2) << log;
    EXPECT_EQ(r.failedTables, 0) << log;  // every row is there; the keys are counted apart

    // Rows first, then the key line naming every index that exists.
    ASSERT_GE(lines.size(), 8) << log;
    EXPECT_EQ(lines.mid(0, 4), (QStringList{"Create table t...Done", "", "Insert table t 7 Rows ...Done", ""}));
    EXPECT_EQ(lines[4], "Create keys of table t: PRIMARYt1, idx_mailt, idx_nt, idx_" + long1 + "t, idx_" + long2
                            + "t... ");
    // Each refusal names the key and the values Access found equal.
    EXPECT_TRUE(lines[5].startsWith("Key PRIMARYt1 of table t made as a plain index: ")) << log;
    EXPECT_TRUE(lines[5].contains("'abc'") && lines[5].contains("'ABC'")) << log;
    EXPECT_TRUE(lines[6].startsWith("Key idx_mailt of table t made as a plain index: ")) << log;
    EXPECT_TRUE(lines[6].contains("'abc@mail'") && lines[6].contains("'ABC@mail'")) << log;
    EXPECT_EQ(lines[7], QString());

    const std::string file = f.settings.accessfilename.toStdString();
    const jet::CheckReport report = jet::checkDatabase(file);
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? std::string() : report.problems.front());

    if (!readers::mdbtoolsAvailable())
        GTEST_SKIP() << "mdbtools missing";
    const readers::ExportedTable e = readers::mdbExport(file, "t");
    std::set<std::string> exported;
    for (const readers::Row& row : e.rows)
        exported.insert(row.at(0).value_or("NULL"));
    EXPECT_EQ(exported, codes);
    const auto indexes = readers::mdbIndexes(file, "t");
    EXPECT_EQ(indexes.size(), 5u);
    EXPECT_TRUE(std::none_of(indexes.begin(), indexes.end(), [](const auto& i) { return i.primary; }));
    const readers::SchemaIndex* pk = findIndex(indexes, "PRIMARYt1");
    ASSERT_NE(pk, nullptr);
    EXPECT_FALSE(pk->unique);
    EXPECT_EQ(pk->columns, std::vector<std::string>{"code"});
    const readers::SchemaIndex* unique = findIndex(indexes, "idx_nt");
    ASSERT_NE(unique, nullptr);
    EXPECT_TRUE(unique->unique);
    // Equal in their first 30 characters, both kept whole.
    EXPECT_NE(findIndex(indexes, "idx_" + long1.toStdString() + "t"), nullptr);
    EXPECT_NE(findIndex(indexes, "idx_" + long2.toStdString() + "t"), nullptr);

    if (!readers::mdbReaderAvailable())
        GTEST_SKIP() << "mdb-reader missing";
    const readers::ReaderResult read = readers::mdbReader(file, {"t"});
    ASSERT_NE(read.find("t"), nullptr);
    std::set<std::string> fromReader;
    for (const readers::Row& row : read.find("t")->rows)
        fromReader.insert(row.at(0).value_or("NULL"));
    EXPECT_EQ(fromReader, codes);
}

TEST_P(KeysAfterRows, KeysThatFitAreMadeAsTheSourceHasThem)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, QStringLiteral("keys_fit_%1").arg(GetParam()), GetParam());
    f.settings.skipindex = false;
    f.db.exec("create table users (id char(36) primary key, surname varchar(50), email varchar(100), "
              "key surname (surname), unique key email (email))");
    f.db.exec("insert into users select md5(seq), concat('Name', seq % 3), concat(seq, '@example.com') "
              "from seq_1_to_250");
    const RunResult r = f.run({"users"});
    EXPECT_EQ(r.failedTables, 0);
    EXPECT_EQ(r.keysNotCreated, 0);
    EXPECT_EQ(f.log.lines().mid(0, 6),
              (QStringList{"Create table users...Done", "", "Insert table users 250 Rows ...Done", "",
                           "Create keys of table users: PRIMARYusers1, idx_emailusers, idx_surnameusers...Done", ""}));
    const std::string file = f.settings.accessfilename.toStdString();
    const jet::CheckReport report = jet::checkDatabase(file);
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? std::string() : report.problems.front());
    if (!readers::mdbtoolsAvailable())
        GTEST_SKIP() << "mdbtools missing";
    const auto indexes = readers::mdbIndexes(file, "users");
    ASSERT_EQ(indexes.size(), 3u);
    EXPECT_TRUE(std::any_of(indexes.begin(), indexes.end(),
                            [](const auto& i) { return i.primary && i.columns == std::vector<std::string>{"id"}; }));
    const readers::SchemaIndex* email = findIndex(indexes, "idx_emailusers");
    ASSERT_NE(email, nullptr);
    EXPECT_TRUE(email->unique);
    const readers::SchemaIndex* surname = findIndex(indexes, "idx_surnameusers");
    ASSERT_NE(surname, nullptr);
    EXPECT_FALSE(surname->unique);
    EXPECT_EQ(readers::mdbExport(file, "users").rows.size(), 250u);
}

TEST_P(KeysAfterRows, AStopBetweenKeysKeepsRowsAndKeysMade)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, QStringLiteral("keys_stop_%1").arg(GetParam()), GetParam());
    f.settings.skipindex = false;
    f.db.exec("create table s (a int primary key, b int, key kb (b))");
    f.db.exec("insert into s values (1, 10), (2, 20), (3, 30)");
    f.db.exec("create table later (a int)");
    // The first progress point is the one between the two keys.
    f.log.stopAtPoint = 1;
    const RunResult r = f.run({"s", "later"});
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(r.keysNotCreated, 1);
    EXPECT_EQ(f.log.lines(), (QStringList{"Create table s...Done", "", "Insert table s 3 Rows ...Done", "",
                                          "Create keys of table s: PRIMARYs1... ", "Operation aborted", "",
                                          "Conversion was stopped, with 1 key not created: see the lines above"}));
    const std::string file = f.settings.accessfilename.toStdString();
    EXPECT_TRUE(jet::checkDatabase(file).ok());
    if (!readers::mdbtoolsAvailable())
        GTEST_SKIP() << "mdbtools missing";
    const auto indexes = readers::mdbIndexes(file, "s");
    ASSERT_EQ(indexes.size(), 1u);
    EXPECT_TRUE(indexes[0].primary);
    EXPECT_EQ(readers::mdbExport(file, "s").rows.size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Formats, KeysAfterRows, ::testing::Values(0, 1));
