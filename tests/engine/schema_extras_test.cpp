// The schema step at the end of a run, against the real server in both
// formats: AUTO_INCREMENT as an AutoNumber that goes on counting, NOT NULL
// as Required, defaults and comments in the property blocks as mdbtools reads
// them, foreign keys as enforced relationships; what Access cannot express is
// logged, and a job without the options writes none of it.
#include "run_fixture.h"

#include "jet/checker.h"
#include "jet/properties.h"
#include "jet/relationships.h"
#include "readers.h"

using namespace ferrowane;
using namespace ferrowane::testing;

namespace {

class SchemaExtras : public ::testing::TestWithParam<int> {};

bool logHas(const RunFixture& f, const QString& text)
{
    for (const QString& line : f.log.lines())
        if (line.contains(text))
            return true;
    return false;
}

void createShop(RunFixture& f)
{
    f.db.exec("CREATE TABLE parent (id INT NOT NULL AUTO_INCREMENT PRIMARY KEY, "
              "name VARCHAR(20) NOT NULL DEFAULT 'it''s \"x\"' COMMENT 'the name', code VARCHAR(5) NOT NULL, "
              "created DATETIME NOT NULL DEFAULT CURRENT_TIMESTAMP, price DECIMAL(8,2) DEFAULT 1.50, "
              "uid CHAR(36) DEFAULT (uuid())) COMMENT='the parents'");
    f.db.exec("CREATE TABLE child (id BIGINT NOT NULL AUTO_INCREMENT PRIMARY KEY, parent_id INT NULL, "
              "CONSTRAINT fk1 FOREIGN KEY (parent_id) REFERENCES parent (id) ON DELETE SET NULL ON UPDATE CASCADE)");
    f.db.exec("INSERT INTO parent (id, name, code) VALUES (3, 'a', ''), (7, 'b', 'c')");
    f.db.exec("INSERT INTO child VALUES (1, 3), (2, NULL)");
}

TEST_P(SchemaExtras, EveryOptionReachesTheFileAsAccessStoresIt)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, QStringLiteral("schema_all_%1").arg(GetParam()), GetParam());
    f.settings.skipindex = false;
    createShop(f);
    const RunResult r = f.run({"child", "parent"});
    const std::string log = f.log.lines().join("\n").toStdString();
    EXPECT_EQ(r.failedTables, 0) << log;
    EXPECT_EQ(r.schemaFailures, 0) << log;
    EXPECT_TRUE(logHas(f, "child.id: AUTO_INCREMENT bigint")) << log;
    EXPECT_TRUE(logHas(f, "ON DELETE SET NULL has no Access equivalent; enforced without it")) << log;
    EXPECT_TRUE(logHas(f, "parent.uid: the default uuid() is an expression; not carried over")) << log;
    EXPECT_TRUE(logHas(f, "Create relationship parentchild...Done")) << log;
    const std::string file = f.settings.accessfilename.toStdString();
    const jet::CheckReport report = jet::checkDatabase(file);
    EXPECT_TRUE(report.ok()) << (report.problems.empty() ? std::string() : report.problems.front());

    {
        // Appended to by our engine: the counter goes on from the largest id.
        auto db = jet::Database::open(file);
        jet::Table& parent = db->table("parent");
        EXPECT_TRUE(parent.def().columns[size_t(parent.def().findColumn("id") - parent.def().columns.data())].isAutoNumber());
        std::vector<jet::Value> row(parent.def().columns.size());
        for (size_t i = 0; i < row.size(); ++i)
            if (parent.def().columns[i].name == "name" || parent.def().columns[i].name == "code")
                row[i] = jet::Value::text("n");
            else if (parent.def().columns[i].name == "created")
                row[i] = jet::Value::date(jet::DateTime{2024, 1, 1});
        parent.append(row);
        db->statementDone();
        const auto rels = jet::readRelationships(*db);
        ASSERT_EQ(rels.size(), 1u);
        EXPECT_TRUE(rels[0].enforced && rels[0].cascadeUpdates && !rels[0].cascadeDeletes);
    }
    const readers::ExportedTable parents = readers::mdbExport(file, "parent");
    ASSERT_EQ(parents.rows.size(), 3u);
    EXPECT_EQ(parents.rows[2][0], std::optional<std::string>("8"));

    if (!readers::mdbtoolsAvailable())
        GTEST_SKIP() << "mdbtools missing";
    const std::string props = readers::runProcess({"mdb-prop", file, "parent"}).out;
    EXPECT_NE(props.find("Description: the parents"), std::string::npos) << props;
    EXPECT_NE(props.find("DefaultValue: \"it's \"\"x\"\"\""), std::string::npos) << props;
    EXPECT_NE(props.find("DefaultValue: Now()"), std::string::npos) << props;
    EXPECT_NE(props.find("DefaultValue: 1.50"), std::string::npos) << props;
    const std::string schema = readers::runProcess({"mdb-schema", "--not-null", "--comments", "--relations", "--no-indexes",
                                                    file, "mysql"})
                                   .out;
    // Jet 4 gives utf8mb4 columns twice their characters in UTF-16 units.
    const bool jet4 = GetParam() == 1;
    EXPECT_NE(schema.find(jet4 ? "`name`\t\t\tvarchar (40) NOT NULL" : "`name`\t\t\tvarchar (20) NOT NULL"),
              std::string::npos) << schema;
    EXPECT_NE(schema.find(jet4 ? "`code`\t\t\tvarchar (10) NOT NULL" : "`code`\t\t\tvarchar (5) NOT NULL"),
              std::string::npos) << schema;
    EXPECT_NE(schema.find("FOREIGN KEY (`parent_id`) REFERENCES `parent`(`id`) ON UPDATE CASCADE;"), std::string::npos)
        << schema;
    const std::string comments = readers::runProcess({"mdb-schema", "--comments", "-T", "parent", file, "postgres"}).out;
    EXPECT_NE(comments.find("COMMENT ON COLUMN \"parent\".\"name\" IS 'the name';"), std::string::npos) << comments;
    EXPECT_NE(comments.find("COMMENT ON TABLE \"parent\" IS 'the parents';"), std::string::npos) << comments;
    // "code" holds an empty text: zero length stays allowed; "name" holds none.
    auto db = jet::Database::open(file, false);
    const auto maps = jet::readTableProperties(*db, "parent");
    for (const auto& m : maps)
        if (m.name == "code" || m.name == "name") {
            EXPECT_EQ(m.find(jet::kPropAllowZeroLength)->value.asBool(), m.name == "code");
        }
}

TEST_P(SchemaExtras, AJobWithoutTheOptionsWritesNoneOfIt)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, QStringLiteral("schema_off_%1").arg(GetParam()), GetParam());
    f.settings.skipindex = false;
    f.settings.autonumber = f.settings.required = f.settings.defaults = f.settings.descriptions =
        f.settings.relationships = false;
    createShop(f);
    const RunResult r = f.run({"child", "parent"});
    EXPECT_EQ(r.failedTables, 0);
    auto db = f.openTarget();
    EXPECT_TRUE(jet::readTableProperties(*db, "parent").empty());
    EXPECT_TRUE(jet::readRelationships(*db).empty());
    for (const auto& c : db->table("parent").def().columns)
        EXPECT_FALSE(c.isAutoNumber());
    EXPECT_FALSE(logHas(f, "relationship"));
}

TEST_P(SchemaExtras, ARelationshipThatCannotBeMadeIsLoggedAndCountedAndLosesNoRow)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    RunFixture f(env, QStringLiteral("schema_bad_%1").arg(GetParam()), GetParam());
    f.settings.skipindex = false;
    f.db.exec("CREATE TABLE p (id INT NOT NULL PRIMARY KEY)");
    f.db.exec("CREATE TABLE c (id INT NOT NULL PRIMARY KEY, p_id INT, CONSTRAINT c_p FOREIGN KEY (p_id) REFERENCES p (id))");
    f.db.exec("SET FOREIGN_KEY_CHECKS = 0");
    f.db.exec("INSERT INTO p VALUES (1)");
    f.db.exec("INSERT INTO c VALUES (1, 1), (2, 99)");
    const RunResult r = f.run({"c", "p"});
    EXPECT_EQ(r.failedTables, 0);
    EXPECT_EQ(r.schemaFailures, 1);
    EXPECT_TRUE(logHas(f, "Relationship c_p (c -> p) could not be made: 1 row of 'c' refer to no row of 'p'"))
        << f.log.lines().join("\n").toStdString();
    auto db = f.openTarget();
    EXPECT_EQ(db->table("c").rowCount(), 2u);
    EXPECT_TRUE(jet::readRelationships(*db).empty());
    db.reset();
    EXPECT_TRUE(jet::checkDatabase(f.settings.accessfilename.toStdString()).ok());
}

INSTANTIATE_TEST_SUITE_P(Formats, SchemaExtras, ::testing::Values(0, 1));

}  // namespace
