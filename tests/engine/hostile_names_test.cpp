// MySQL tables and columns with hostile names converted end to end: each
// table either arrives with its names intact (read back by the engine and by
// mdb-reader) or fails with a message in the log, nothing else in the file
// changes, and the run goes on with the next table.
#include "run_fixture.h"

#include "readers.h"

#include "jet/checker.h"

#include <QSet>

using namespace ferrowane;
using ferrowane::testing::RunFixture;

namespace {

struct HostileName {
    QString table;
    QString column;
    bool accessAllows;  // no character Access forbids in a name
    bool jet3Allows;    // also representable in code page 1252
};

QByteArray quoted(const QString& name)
{
    QByteArray u = name.toUtf8();
    u.replace("`", "``");
    return "`" + u + "`";
}

const QList<HostileName>& hostileNames()
{
    static const QList<HostileName> names = {
        {QStringLiteral("q'\"x"), QStringLiteral("it's \"quoted\""), true, true},
        {QStringLiteral("semi;colon"), QStringLiteral("a;b"), true, true},
        {QStringLiteral("dash--dash"), QStringLiteral("--c"), true, true},
        {QStringLiteral("with blank"), QStringLiteral("two  words"), true, true},
        {QStringLiteral("select"), QStringLiteral("from"), true, true},
        {QStringLiteral("drop table victim"), QStringLiteral("delete from victim"), true, true},
        {QStringLiteral("x'); drop table victim; --"), QStringLiteral("'||(select 1)||'"), true, true},
        {QStringLiteral("caf\u00e9 \u20ac"), QStringLiteral("\u00fcml\u00e4ut"), true, true},
        {QStringLiteral("\u4e2d\u6587"), QStringLiteral("\u0436\u0443\u043a"), true, false},
        // Characters Access never allows in a name.
        {QStringLiteral("a`b"), QStringLiteral("c`d"), false, false},
        {QStringLiteral("[br]"), QStringLiteral("[col]"), false, false},
        {QStringLiteral("x]; drop table [victim]; --"), QStringLiteral("y"), false, false},
        {QStringLiteral("dot.ted"), QStringLiteral("x"), false, false},
        {QStringLiteral("bang!"), QStringLiteral("x"), false, false},
        {QStringLiteral("cols"), QStringLiteral("x.y"), false, false},
        {QStringLiteral("cols2"), QStringLiteral("wow!"), false, false},
        {QStringLiteral("cols3"), QStringLiteral("y]) ; drop table [victim]; --"), false, false},
        {QStringLiteral("cols4"), QStringLiteral(" lead"), false, false},
        // Would be a valid statement of another shape if pasted into one.
        {QStringLiteral("inject"), QStringLiteral("a] text(40), [b"), false, false},
        {QStringLiteral("inject2] (x int)"), QStringLiteral("c"), false, false},
    };
    return names;
}

const QString kValue = QStringLiteral("'; drop table victim; --]`");

class HostileNames : public ::testing::TestWithParam<int> {};

// The index of `line` in `lines` from `from` on, or -1.
qsizetype find(const QStringList& lines, const QString& line, qsizetype from = 0)
{
    for (qsizetype i = from; i < lines.size(); ++i)
        if (lines[i] == line)
            return i;
    return -1;
}

}  // namespace

TEST_P(HostileNames, ConvertIntactOrFailClearly)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    const bool jet4 = GetParam() == 1;
    RunFixture f(env, QStringLiteral("fuzz_hostile_%1").arg(GetParam()), GetParam());
    f.settings.skipindex = false;  // keys and index names carry the names too

    f.db.exec("create table victim (id int primary key, v varchar(40))");
    f.db.exec("insert into victim values (1, 'one'), (2, 'two')");
    QStringList tables{QStringLiteral("victim")};
    for (const HostileName& h : hostileNames()) {
        const QByteArray t = quoted(h.table), c = quoted(h.column);
        f.db.exec("create table " + t + " (id int primary key, " + c + " varchar(40))");
        f.db.exec("create index " + quoted(h.column + QStringLiteral(";ix--")) + " on " + t + " (" + c + ")");
        f.db.exec("insert into " + t + " values (1, '" + kValue.toUtf8().replace("'", "''") + "'), (2, null)");
        tables << h.table;
    }
    // A name outside the basic plane cannot exist on the server; a job may
    // still list it.
    const QString astral = QStringLiteral("emoji \U0001F600");
    tables << astral << QStringLiteral("victim_after");
    f.db.exec("create table victim_after (id int)");
    f.db.exec("insert into victim_after values (7)");

    RunResult r;
    ASSERT_NO_THROW(r = f.run(tables));
    const QStringList lines = f.log.lines();
    const std::string log = lines.join('\n').toStdString();
    EXPECT_FALSE(r.stopped);

    const std::string file = f.settings.accessfilename.toStdString();
    auto db = jet::Database::open(file, false);
    QSet<QString> expected{QStringLiteral("victim"), QStringLiteral("victim_after")};
    int failures = 0;
    for (const HostileName& h : hostileNames()) {
        const bool mustConvert = h.accessAllows && (jet4 || h.jet3Allows);
        const qsizetype create = find(lines, QStringLiteral("Create table ") + h.table + QStringLiteral("...Done"));
        SCOPED_TRACE(h.table.toStdString());
        if (mustConvert) {
            EXPECT_GE(create, 0) << log;
            EXPECT_GE(find(lines, QStringLiteral("Insert table ") + h.table + QStringLiteral(" 2 Rows ...Done")), 0)
                << log;
            expected << h.table;
            ASSERT_TRUE(db->hasTable(h.table.toStdString()));
            jet::Table& t = db->table(h.table.toStdString());
            EXPECT_EQ(t.name(), h.table.toStdString());
            ASSERT_EQ(t.def().columns.size(), 2u);
            EXPECT_EQ(t.def().columns[1].name, h.column.toStdString());
            const auto rows = t.readAll();
            ASSERT_EQ(rows.size(), 2u);
            for (const auto& row : rows) {
                ASSERT_EQ(row.size(), 2u);
                if (row[0].asInt() == 1)
                    EXPECT_EQ(row[1].str(), kValue.toStdString());
                else
                    EXPECT_TRUE(row[1].isNull()) << row[1].str();
            }
        } else {
            ++failures;
            EXPECT_LT(create, 0) << log;
            // "Create table X... " stays and the reason follows it.
            const qsizetype started = find(lines, QStringLiteral("Create table ") + h.table + QStringLiteral("... "));
            ASSERT_GE(started, 0) << log;
            ASSERT_LT(started + 1, lines.size());
            EXPECT_FALSE(lines[started + 1].trimmed().isEmpty()) << log;
            EXPECT_FALSE(db->hasTable(h.table.toStdString()));
        }
    }
    // The listed name that the server does not have: a line, then the next table.
    const qsizetype astralLine = find(lines, QStringLiteral("Create table ") + astral + QStringLiteral("... "));
    EXPECT_GE(astralLine, 0) << log;
    if (astralLine >= 0) {
        ASSERT_LT(astralLine + 1, lines.size());
        EXPECT_FALSE(lines[astralLine + 1].trimmed().isEmpty()) << log;
    }
    EXPECT_EQ(r.failedTables, failures + 1) << log;
    EXPECT_GE(find(lines, QStringLiteral("Insert table victim_after 1 Rows ...Done")), 0) << log;

    // No name changed a statement: exactly the expected tables, the victims whole.
    QSet<QString> present;
    for (const auto& n : db->tableNames())
        present << QString::fromStdString(n);
    EXPECT_EQ(present, expected) << log;
    EXPECT_EQ(db->table("victim").readAll().size(), 2u);
    EXPECT_EQ(db->table("victim_after").readAll().size(), 1u);
    db.reset();

    const jet::CheckReport report = jet::checkDatabase(file);
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? std::string() : report.problems.front());

    if (!readers::mdbReaderAvailable())
        GTEST_SKIP() << "mdb-reader missing";
    const readers::ReaderResult read = readers::mdbReader(file);
    QSet<QString> readNames;
    for (const auto& n : read.tables)
        readNames << QString::fromStdString(n);
    EXPECT_EQ(readNames, expected);
    for (const HostileName& h : hostileNames()) {
        if (!expected.contains(h.table))
            continue;
        SCOPED_TRACE(h.table.toStdString());
        const readers::ReaderTable* t = read.find(h.table.toStdString());
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(t->columns.size(), 2u);
        EXPECT_EQ(t->columns[1].name, h.column.toStdString());
        ASSERT_EQ(t->rows.size(), 2u);
        for (const auto& row : t->rows) {
            ASSERT_EQ(row.size(), 2u);
            if (row[0] == std::optional<std::string>("1"))
                EXPECT_EQ(row[1], std::optional<std::string>(kValue.toStdString()));
            else
                EXPECT_EQ(row[1], std::nullopt);
        }
    }
}

// An index name that would close the bracket and name another table: the key
// fails with a line, the table and its rows arrive, the other table is untouched.
TEST_P(HostileNames, IndexNameCannotReachAnotherTable)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, QStringLiteral("fuzz_hostile_key_%1").arg(GetParam()), GetParam());
    f.settings.skipindex = false;
    f.db.exec("create table victim (id int, v int)");
    f.db.exec("insert into victim values (1, 1), (1, 2)");
    f.db.exec("create table keyed (id int, v int)");
    f.db.exec("create index `x] on [victim] ([id` on keyed (v)");
    f.db.exec("insert into keyed values (1, 5), (2, 6)");
    const RunResult r = f.run({"victim", "keyed"});
    const QStringList lines = f.log.lines();
    const std::string log = lines.join('\n').toStdString();
    EXPECT_EQ(r.failedTables, 0) << log;
    EXPECT_EQ(r.keysNotCreated, 1) << log;
    EXPECT_GE(find(lines, QStringLiteral("Create table keyed...Done")), 0) << log;
    EXPECT_GE(find(lines, QStringLiteral("The index name 'x] on [victim] ([id' is invalid")), 0) << log;
    EXPECT_GE(find(lines, QStringLiteral("Insert table keyed 2 Rows ...Done")), 0) << log;
    auto db = f.openTarget();
    EXPECT_TRUE(db->table("victim").def().physicalIndexes.empty());
    EXPECT_TRUE(db->table("keyed").def().physicalIndexes.empty());
    EXPECT_EQ(db->table("victim").readAll().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Formats, HostileNames, ::testing::Values(0, 1));
