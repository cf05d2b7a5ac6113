// Keys made from the server's "show index" list, and whole converted files
// judged by the engine's checker and by mdbtools.
#include "run_fixture.h"

#include "readers.h"
#include "jet/checker.h"

#include <QFile>

using namespace ferrowane;
using ferrowane::testing::completion;
using ferrowane::testing::RunFixture;

namespace {

class Keys : public ::testing::TestWithParam<int> {};

struct IndexInfo {
    std::string name;
    bool primary = false;
    bool unique = false;
    std::vector<std::string> columns;
};

std::vector<IndexInfo> indexesOf(jet::Table& t)
{
    std::vector<IndexInfo> out;
    const jet::TableDef& d = t.def();
    for (const auto& li : d.logicalIndexes) {
        IndexInfo info;
        info.name = li.name;
        info.primary = li.type == jet::kLogicalIndexPrimary;
        const auto& pi = d.physicalIndexes.at(li.physicalIndex);
        info.unique = (pi.flags & jet::kIndexUnique) != 0;
        for (const auto& c : pi.columns)
            info.columns.push_back(d.columnByNumber(c.columnNumber)->name);
        out.push_back(info);
    }
    return out;
}

const IndexInfo* find(const std::vector<IndexInfo>& list, const std::string& name)
{
    for (const auto& i : list)
        if (i.name == name)
            return &i;
    return nullptr;
}

}  // namespace

TEST_P(Keys, PrimaryKeyAndIndexesWithTargetNames)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, QStringLiteral("conv_keys_%1").arg(GetParam()), GetParam());
    f.settings.skipindex = false;
    const QString longCol = QString(64, QLatin1Char('k'));
    f.db.exec("create table orders (id int primary key, customer_id int, placed date, code char(5), `" + longCol
              + "` int, key cust (customer_id, placed), unique key code (code), key lng (`" + longCol + "`))");
    f.db.exec("insert into orders values (1, 7, '2024-01-01', 'A', 1), (2, 7, '2024-01-02', 'B', 2)");
    const QString longTable = QString(62, QLatin1Char('t'));
    f.db.exec("create table `" + longTable + "` (a int, `b c` int, primary key (a, `b c`))");
    f.db.exec("insert into `" + longTable + "` values (1, 2)");
    const RunResult r = f.run({"orders", longTable});
    const QString target = QString(56, QLatin1Char('t')) + "0000";
    EXPECT_EQ(r.failedTables, 0);
    // Keys come after the rows; the server lists unique keys before others.
    EXPECT_EQ(f.log.lines(),
              QStringList({"Create table orders...Done", "", "Insert table orders 2 Rows ...Done", "",
                           "Create keys of table orders: PRIMARYorders1, idx_codeorders, idx_custorders, "
                           "idx_lngorders...Done",
                           "", "Create table " + target + "...Done", "",
                           "Insert table " + longTable + " 1 Rows ...Done", "",
                           "Create keys of table " + target + ": PRIMARY" + QString(57, 't') + "...Done", ""})
                  + completion());

    auto db = f.openTarget();
    const auto idx = indexesOf(db->table("orders"));
    ASSERT_EQ(idx.size(), 4u);
    const IndexInfo* pk = find(idx, "PRIMARYorders1");
    ASSERT_NE(pk, nullptr);
    EXPECT_TRUE(pk->primary);
    EXPECT_EQ(pk->columns, std::vector<std::string>{"id"});
    const IndexInfo* cust = find(idx, "idx_custorders");
    ASSERT_NE(cust, nullptr);
    EXPECT_EQ(cust->columns, (std::vector<std::string>{"customer_id", "placed"}));
    // Uniqueness is carried over.
    const IndexInfo* code = find(idx, "idx_codeorders");
    ASSERT_NE(code, nullptr);
    EXPECT_TRUE(code->unique);
    EXPECT_FALSE(cust->unique);
    const IndexInfo* lng = find(idx, "idx_lngorders");
    ASSERT_NE(lng, nullptr);
    EXPECT_EQ(lng->columns, std::vector<std::string>{std::string(60, 'k')});

    const auto idx2 = indexesOf(db->table(target.toStdString()));
    ASSERT_EQ(idx2.size(), 1u);
    EXPECT_EQ(idx2[0].name, "PRIMARY" + std::string(57, 't'));
    EXPECT_EQ(idx2[0].columns, (std::vector<std::string>{"a", "b c"}));
}

TEST_P(Keys, AKeyThatCannotBeMadeIsLoggedAfterTheRows)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, QStringLiteral("conv_keyfail_%1").arg(GetParam()), GetParam());
    f.settings.skipindex = false;
    // Access keys take at most 10 columns.
    f.db.exec("create table t (a int, b int, c int, d int, e int, f int, g int, h int, i int, j int, k int, "
              "key wide (a, b, c, d, e, f, g, h, i, j, k), key k3 (c))");
    f.db.exec("insert into t values (1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11)");
    const RunResult r = f.run({"t"});
    EXPECT_EQ(r.failedTables, 0);
    EXPECT_EQ(r.keysNotCreated, 1);
    EXPECT_EQ(r.keysMadePlain, 0);
    const QStringList lines = f.log.lines();
    ASSERT_EQ(lines.size(), 7 + 2);
    EXPECT_EQ(lines.mid(0, 5), (QStringList{"Create table t...Done", "", "Insert table t 1 Rows ...Done", "",
                                            "Create keys of table t: idx_k3t... "}));
    EXPECT_TRUE(lines[5].startsWith("Key idx_widet of table t not made: ")) << lines[5].toStdString();
    EXPECT_EQ(lines[6], QString());
    EXPECT_EQ(lines[7], "Conversion finished with 1 key not created: see the lines above");
    // The key after the failed one was still made.
    auto db = f.openTarget();
    const auto idx = indexesOf(db->table("t"));
    ASSERT_EQ(idx.size(), 1u);
    EXPECT_EQ(idx[0].name, "idx_k3t");
}

TEST_P(Keys, SkipIndexMakesNone)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, QStringLiteral("conv_keyskip_%1").arg(GetParam()), GetParam());
    f.settings.skipindex = true;
    f.db.exec("create table t (a int primary key, b int, key kb (b))");
    f.run({"t"});
    auto db = f.openTarget();
    EXPECT_TRUE(indexesOf(db->table("t")).empty());
}

TEST_P(Keys, MergeIntoAKeyedTableStopsAtADuplicate)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, QStringLiteral("conv_keydup_%1").arg(GetParam()), GetParam());
    f.settings.skipindex = false;
    f.db.exec("create table t (a int primary key)");
    f.db.exec("insert into t values (1), (2)");
    f.run({"t"});
    f.db.exec("insert into t values (0)");  // read first again: the server walks the key
    const qsizetype first = f.log.lines().size();
    f.settings.processtable = 1;
    const RunResult r = f.run({"t"});
    EXPECT_EQ(r.failedTables, 1);
    const QStringList lines = f.linesFrom(int(first));
    ASSERT_GE(lines.size(), 5);
    EXPECT_EQ(lines[0], QStringLiteral("Insert table t... "));
    EXPECT_FALSE(lines[1].isEmpty());
    EXPECT_EQ(lines[1], lines[2]);
    EXPECT_EQ(lines[2], lines[3]);
    EXPECT_EQ(lines[4], QString());
    auto db = f.openTarget();
    // The row before the duplicate stays.
    EXPECT_EQ(db->table("t").readAll().size(), 3u);
}

TEST_P(Keys, TheDemoDatabasePassesTheCheckerAndMdbtools)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, QStringLiteral("conv_demo_%1").arg(GetParam()), GetParam());
    f.settings.skipindex = false;
    QFile sql(QStringLiteral(FERROWANE_SOURCE_DIR "/resources/demo/demo.sql"));
    ASSERT_TRUE(sql.open(QIODevice::ReadOnly));
    QByteArray script = sql.readAll();
    // Load it into this test's own database.
    script.replace("DROP DATABASE IF EXISTS ferrowane_demo;", "");
    script.replace("CREATE DATABASE ferrowane_demo CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci;", "");
    script.replace("USE ferrowane_demo;", "USE " + f.db.name().toUtf8() + ";");
    ASSERT_EQ(ferrowane::testing::runRootClient(env, script), 0);
    const QStringList tables = listTables(f.source);
    ASSERT_FALSE(tables.isEmpty());
    const RunResult r = f.run(tables);
    EXPECT_EQ(r.failedTables, 0) << f.log.lines().join("\n").toStdString();

    const jet::CheckReport report = jet::checkDatabase(f.settings.accessfilename.toStdString());
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? std::string() : report.problems.front());
    if (!readers::mdbtoolsAvailable())
        GTEST_SKIP() << "mdbtools missing";
    const auto names = readers::mdbTables(f.settings.accessfilename.toStdString());
    EXPECT_EQ(names.size(), size_t(tables.size()));
    for (const QString& t : tables) {
        const readers::ExportedTable e = readers::mdbExport(f.settings.accessfilename.toStdString(), t.toStdString());
        const auto count = f.db.session().rows("select count(*) from `" + t.toUtf8() + "`");
        EXPECT_EQ(qsizetype(e.rows.size()), count[0][0].toLongLong()) << t.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, Keys, ::testing::Values(0, 1));
