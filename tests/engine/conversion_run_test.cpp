#include "run_fixture.h"

#include <QFile>

using namespace ferrowane;
using ferrowane::testing::completion;
using ferrowane::testing::RunFixture;

namespace {

class RunModes : public ::testing::TestWithParam<int> {
protected:
    QString dbName(const char* stem) const
    {
        return QStringLiteral("conv_%1_%2").arg(QLatin1String(stem)).arg(GetParam());
    }
};

qsizetype rowsIn(RunFixture& f, const char* table)
{
    auto db = f.openTarget();
    return qsizetype(db->table(table).readAll().size());
}

QStringList plus(QStringList a, const QStringList& b)
{
    a += b;
    return a;
}

}  // namespace

TEST_P(RunModes, NewTablesAreCreatedAndFilled)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, dbName("new"), GetParam());
    f.db.exec("create table t (id int, name varchar(50), notes text)");
    f.db.exec("insert into t values (1,'a','x'),(2,'b',null),(3,null,'z')");
    f.db.exec("create table empty_one (id int)");
    const RunResult r = f.run({"t", "empty_one"});
    EXPECT_FALSE(r.stopped);
    EXPECT_EQ(r.failedTables, 0);
    EXPECT_EQ(f.log.lines(), plus({"Create table t...Done", "", "Insert table t 3 Rows ...Done", "",
                                   "Create table empty_one...Done", "", "Insert table empty_one 0 Rows ...Done", ""},
                                  completion()));
    // The file was made from the template of the chosen format.
    QFile file(f.settings.accessfilename);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.read(24).at(20), char(GetParam() == 1 ? 1 : 0));
    EXPECT_EQ(rowsIn(f, "t"), 3);
}

TEST_P(RunModes, ExistingTableByMode)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, dbName("modes"), GetParam());
    f.db.exec("create table t (id int)");
    f.db.exec("insert into t values (1),(2)");
    f.run({"t"});
    ASSERT_EQ(rowsIn(f, "t"), 2);

    // Overwrite: drop, create, insert.
    qsizetype first = f.log.lines().size();
    f.settings.processtable = 0;
    f.run({"t"});
    EXPECT_EQ(f.linesFrom(first), plus({"Drop table t...Done", "", "Create table t...Done", "",
                                        "Insert table t 2 Rows ...Done", ""}, completion()));
    EXPECT_EQ(rowsIn(f, "t"), 2);

    // Merge: rows added, nothing else.
    first = f.log.lines().size();
    f.settings.processtable = 1;
    f.run({"t"});
    EXPECT_EQ(f.linesFrom(first), plus({"Insert table t 2 Rows ...Done", ""}, completion()));
    EXPECT_EQ(rowsIn(f, "t"), 4);

    // Skip: the two skip lines, nothing sent.
    first = f.log.lines().size();
    f.settings.processtable = 2;
    f.run({"t"});
    EXPECT_EQ(f.linesFrom(first), plus({"Skip table t... ", "", "Skip table t", ""}, completion()));
    EXPECT_EQ(rowsIn(f, "t"), 4);

    // Any other value behaves as Merge.
    first = f.log.lines().size();
    f.settings.processtable = 7;
    f.run({"t"});
    EXPECT_EQ(f.linesFrom(first), plus({"Insert table t 2 Rows ...Done", ""}, completion()));

    // Table definitions only.
    f.settings.tabledefonly = true;
    first = f.log.lines().size();
    f.settings.processtable = 1;
    f.run({"t"});
    EXPECT_EQ(f.linesFrom(first), completion());
    first = f.log.lines().size();
    f.settings.processtable = 2;
    f.run({"t"});
    EXPECT_EQ(f.linesFrom(first), plus({"Skip table t... ", ""}, completion()));
    first = f.log.lines().size();
    f.settings.processtable = 0;
    f.run({"t"});
    EXPECT_EQ(f.linesFrom(first), plus({"Drop table t...Done", "", "Create table t...Done", ""}, completion()));
    EXPECT_EQ(rowsIn(f, "t"), 0);
}

TEST_P(RunModes, ProgressLinesAndCommits)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, dbName("progress"), GetParam());
    f.db.exec("create table r99 (id int)");
    f.db.exec("create table r100 (id int)");
    f.db.exec("create table r5250 (id int, s varchar(20))");
    f.db.exec("insert into r99 select seq from seq_1_to_99");
    f.db.exec("insert into r100 select seq from seq_1_to_100");
    f.db.exec("insert into r5250 select seq, concat('row ', seq) from seq_1_to_5250");
    f.run({"r99"});
    EXPECT_EQ(f.log.progressPoints(), 0);
    EXPECT_EQ(f.log.lastRowTotal(), 99);
    f.run({"r100"});
    EXPECT_EQ(f.log.progressPoints(), 1);
    f.run({"r5250"});
    EXPECT_EQ(f.log.progressPoints(), 1 + 52);
    EXPECT_EQ(f.log.lines().filter("Insert table"),
              (QStringList{"Insert table r99 99 Rows ...Done", "Insert table r100 100 Rows ...Done",
                           "Insert table r5250 5250 Rows ...Done"}));
    auto db = f.openTarget();
    const auto rows = db->table("r5250").readAll();
    ASSERT_EQ(rows.size(), 5250u);
    EXPECT_EQ(rows[5249][1].str(), "row 5250");
}

TEST_P(RunModes, StopDuringATableThatIsNotTheLast)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, dbName("stop"), GetParam());
    f.db.exec("create table a (id int)");
    f.db.exec("create table b (id int)");
    f.db.exec("insert into a select seq from seq_1_to_350");
    f.db.exec("insert into b values (1)");
    f.log.stopAtPoint = 2;  // at row 200
    const RunResult r = f.run({"a", "b"});
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(f.log.lines(), (QStringList{"Create table a...Done", "", "Insert table a 200 Rows ",
                                          "Operation aborted", "Operation aborted", "Operation aborted", "",
                                          "Conversion was stopped, with 1 failed table: see the lines above"}));
    // Rows posted before the Stop stay; the flag was cleared by the run.
    EXPECT_EQ(rowsIn(f, "a"), 200);
    EXPECT_FALSE(f.log.stopRequested());
    auto db = f.openTarget();
    EXPECT_FALSE(db->hasTable("b"));
}

TEST_P(RunModes, StopDuringTheLastTableStillCompletes)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, dbName("stoplast"), GetParam());
    f.db.exec("create table a (id int)");
    f.db.exec("insert into a select seq from seq_1_to_150");
    f.log.stopAtPoint = 1;
    const RunResult r = f.run({"a"});
    EXPECT_FALSE(r.stopped);
    EXPECT_TRUE(f.log.stopRequested());  // for the window to see
    // The caption says it was stopped, and no Finish is offered.
    EXPECT_EQ(f.log.lines(), (QStringList{"Create table a...Done", "", "Insert table a 100 Rows ", "Operation aborted",
                                          "Operation aborted", "Operation aborted", "",
                                          "Conversion was stopped, with 1 failed table: see the lines above"}));
    EXPECT_TRUE(r.stopRequested);
    EXPECT_EQ(rowsIn(f, "a"), 100);
}

TEST_P(RunModes, LongAndCollidingNames)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, dbName("names"), GetParam());
    const QString long61 = QString(61, QLatin1Char('l'));
    const QString target0 = QString(56, QLatin1Char('l')) + "0000";
    f.db.exec("create table `" + long61 + "` (id int)");
    f.db.exec("insert into `" + long61 + "` values (1)");
    f.db.exec("create table CaseTest (id int)");
    f.db.exec("create table casetest (id int)");
    f.db.exec("insert into CaseTest values (1),(2)");
    f.db.exec("insert into casetest values (3)");
    f.run({long61, "CaseTest", "casetest"});
    EXPECT_EQ(f.log.lines(),
              plus({"Create table " + target0 + "...Done", "", "Insert table " + long61 + " 1 Rows ...Done", "",
                    "Create table CaseTest...Done", "", "Insert table CaseTest 2 Rows ...Done", "",
                    "Create table casetest0000...Done", "", "Insert table casetest 1 Rows ...Done", ""},
                   completion()));
    EXPECT_EQ(rowsIn(f, "CaseTest"), 2);
    EXPECT_EQ(rowsIn(f, "casetest0000"), 1);

    // Again with Overwrite: the same names, each dropped and made again.
    const qsizetype first = f.log.lines().size();
    f.run({long61, "CaseTest", "casetest"});
    EXPECT_EQ(f.linesFrom(first),
              plus({"Drop table " + target0 + "...Done", "", "Create table " + target0 + "...Done", "",
                    "Insert table " + long61 + " 1 Rows ...Done", "", "Drop table CaseTest...Done", "",
                    "Create table CaseTest...Done", "", "Insert table CaseTest 2 Rows ...Done", "",
                    "Drop table casetest0000...Done", "", "Create table casetest0000...Done", "",
                    "Insert table casetest 1 Rows ...Done", ""},
                   completion()));
    EXPECT_EQ(rowsIn(f, "CaseTest"), 2);
    EXPECT_EQ(rowsIn(f, "casetest0000"), 1);
    auto db = f.openTarget();
    EXPECT_EQ(db->tableNames().size(), 3u);
}

TEST_P(RunModes, LongColumnNamesKeepTheirValues)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, dbName("longcol"), GetParam());
    const QString c64a = QString(60, QLatin1Char('c')) + "_one";
    const QString c64b = QString(60, QLatin1Char('c')) + "_two";
    f.db.exec("create table t (`" + c64a + "` int, `" + c64b + "` varchar(10))");
    f.db.exec("insert into t values (5, 'five')");
    f.run({"t"});
    auto db = f.openTarget();
    jet::Table& t = db->table("t");
    ASSERT_EQ(t.def().columns.size(), 2u);
    EXPECT_EQ(QString::fromStdString(t.def().columns[0].name), QString(60, QLatin1Char('c')));
    EXPECT_EQ(QString::fromStdString(t.def().columns[1].name), QString(56, QLatin1Char('c')) + "0000");
    const auto rows = t.readAll();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].asInt(), 5);
    EXPECT_EQ(rows[0][1].str(), "five");
}

TEST_P(RunModes, UpperCaseNamesGoToTheServerToo)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, dbName("upper"), GetParam());
    f.db.exec("create table ORDERS (id int)");
    f.db.exec("create table orders (id int)");
    f.db.exec("insert into ORDERS values (1),(2)");
    f.settings.nameuppercase = true;
    f.run({"orders"});
    EXPECT_EQ(f.log.lines(), plus({"Create table ORDERS...Done", "", "Insert table ORDERS 2 Rows ...Done", ""},
                                  completion()));
    // A lower-case table the server cannot find as upper case fails; the run goes on.
    f.db.exec("create table lower_only (id int)");
    const qsizetype first = f.log.lines().size();
    const RunResult r = f.run({"lower_only", "orders"});
    EXPECT_EQ(r.failedTables, 1);
    const QStringList lines = f.linesFrom(int(first));
    ASSERT_GE(lines.size(), 5);
    EXPECT_EQ(lines[0], QStringLiteral("Create table LOWER_ONLY... "));
    EXPECT_TRUE(lines[1].contains("LOWER_ONLY")) << lines[1].toStdString();
    EXPECT_EQ(lines.mid(2, 3), (QStringList{"", "Skip table LOWER_ONLY", ""}));
    EXPECT_EQ(lines.mid(5, 4), (QStringList{"Drop table ORDERS...Done", "", "Create table ORDERS...Done", ""}));
}

TEST_P(RunModes, EmptyListAndUnwritableTarget)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, dbName("empty"), GetParam());
    f.run({});
    EXPECT_EQ(f.log.lines(), completion());
    EXPECT_TRUE(QFile::exists(f.settings.accessfilename));
    f.settings.accessfilename = f.dir.filePath("no/such/folder/x.mdb");
    EXPECT_THROW(f.run({}), AccessError);
}

TEST_P(RunModes, MergeIntoATableThatLacksAColumn)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, dbName("merge"), GetParam());
    f.db.exec("create table t (id int, extra varchar(5))");
    f.db.exec("insert into t values (1, 'x'), (2, null), (3, 'y')");
    {
        f.connection.setConnectionString(AccessConnection::connectionStringFor(f.settings.accessfilename));
        TargetOperations target;
        target.PrepareTargetFile(f.settings.accessfilename, f.settings.accessformat);
        f.connection.open();
        f.connection.execute("Create table [t] (\r\n[id] int\r\n ) ");
        f.connection.close();
    }
    f.settings.processtable = 1;
    const RunResult r = f.run({"t"});
    EXPECT_EQ(r.failedTables, 0);
    EXPECT_EQ(f.log.lines(), plus({"Insert table t 3 Rows ...Done",
                                   "Column extra: 2 values not stored as they were (first: the table t has no "
                                   "column for it)",
                                   "", "Conversion finished with 2 values changed: see the lines above"},
                                  {completion().last()}));
    EXPECT_EQ(rowsIn(f, "t"), 3);
}

TEST_P(RunModes, TheEnginesOwnTablesAreNeitherDroppedNorFilled)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, dbName("msys"), GetParam());
    f.db.exec("create table MSysObjects (id int)");
    f.db.exec("insert into MSysObjects values (1)");
    f.run({});
    auto before = f.openTarget();
    const size_t catalogRows = before->table("MSysObjects").readAll().size();
    before.reset();

    // Overwrite: the drop fails, so does the create; no rows.
    f.run({"MSysObjects"});
    QStringList lines = f.log.lines().mid(3);
    ASSERT_EQ(lines.size(), 8 + 2);  // the failure caption and the Finish line
    EXPECT_EQ(lines[0], QStringLiteral("Drop table MSysObjects... "));
    EXPECT_FALSE(lines[1].isEmpty());
    EXPECT_EQ(lines.mid(2, 2), (QStringList{"", "Create table MSysObjects... "}));
    EXPECT_FALSE(lines[4].isEmpty());
    EXPECT_EQ(lines.mid(5, 3), (QStringList{"", "Skip table MSysObjects", ""}));

    // Merge: the rows are refused, the catalog stays as it was.
    const qsizetype first = f.log.lines().size();
    f.settings.processtable = 1;
    const RunResult r = f.run({"MSysObjects"});
    EXPECT_EQ(r.failedTables, 1);
    lines = f.linesFrom(int(first));
    const QString refused = QStringLiteral("Cannot update 'MSysObjects'; database or object is read-only.");
    EXPECT_EQ(lines.mid(0, 5), (QStringList{"Insert table MSysObjects... ", refused, refused, refused, ""}));
    auto after = f.openTarget();
    EXPECT_EQ(after->table("MSysObjects").readAll().size(), catalogRows);
}

INSTANTIATE_TEST_SUITE_P(Formats, RunModes, ::testing::Values(0, 1));
