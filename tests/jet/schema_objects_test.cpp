// Property blocks, AutoNumbers made after the rows and relationships, in
// both formats, judged by mdbtools (mdb-prop, mdb-schema), mdb-reader and
// `check`: the faults aimed at are a block Access would misread, an
// AutoNumber that restarts, a relationship without its indexes.
#include "jet/auto_number.h"
#include "jet/checker.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/index_ddl.h"
#include "jet/properties.h"
#include "jet/relationships.h"
#include "jet/statement.h"
#include "readers.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace jet;

namespace {

class SchemaObjects : public ::testing::TestWithParam<Version> {
protected:
    void SetUp() override
    {
        char buf[] = "/tmp/schema-objects-XXXXXX";
        dir_ = mkdtemp(buf);
        path_ = dir_ + "/t.mdb";
        Database::create(path_, GetParam());
    }
    void TearDown() override { fs::remove_all(dir_); }
    bool jet4() const { return GetParam() == Version::Jet4; }
    void expectSound()
    {
        CheckReport r = checkDatabase(path_);
        EXPECT_TRUE(r.ok()) << (r.problems.empty() ? "" : r.problems.front());
    }
    std::string dir_, path_;
};

Property text(const char* name, const std::string& v, bool ddl = true)
{
    return Property{name, ColumnType::Memo, Value::text(v), ddl};
}

Property flag(const char* name, bool v)
{
    return Property{name, ColumnType::Boolean, Value::boolean(v), true};
}

std::string run(const std::vector<std::string>& argv)
{
    readers::ProcessResult r = readers::runProcess(argv);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
}

TEST_P(SchemaObjects, PropertyBlocksReadBackByMdbtoolsAndKeepTheCatalogOrder)
{
    if (!readers::mdbtoolsAvailable())
        GTEST_SKIP() << "mdbtools is not installed";
    const std::string accented = "Kunden \xC3\xBC \xE2\x80\x9Cquoted\xE2\x80\x9D";  // in code page 1252 too
    {
        auto db = Database::open(path_);
        execute(*db, "create table [first] ([id] long, [name] text(20), [born] datetime, [note] memo)");
        execute(*db, "create table [second] ([x] long)");
        db->table("first").append({Value::integer(1), Value::text(""), Value::null(), Value::text("n")});
        std::vector<PropertyMap> maps(4);
        maps[0].properties = {text(kPropDescription, accented, false)};
        maps[1].name = "id";
        maps[1].properties = {flag(kPropRequired, true), text(kPropDefaultValue, "0")};
        maps[2].name = "name";
        maps[2].properties = {flag(kPropRequired, true), flag(kPropAllowZeroLength, true),
                              text(kPropDefaultValue, "\"a \"\"b\"\"\""), text(kPropDescription, "the name", false)};
        maps[3].name = "born";
        maps[3].properties = {text(kPropDefaultValue, "Now()")};
        writeTableProperties(*db, {{"first", maps}, {"second", {}}});
        EXPECT_EQ(db->tableNames(), (std::vector<std::string>{"first", "second"}));
        const auto back = readTableProperties(*db, "FIRST");
        ASSERT_EQ(back.size(), 4u);
        EXPECT_EQ(back[2].find(kPropDefaultValue)->value.str(), "\"a \"\"b\"\"\"");
        EXPECT_EQ(back[0].find(kPropDescription)->value.str(), accented);
    }
    auto reopened = Database::open(path_, false);
    EXPECT_EQ(reopened->tableNames(), (std::vector<std::string>{"first", "second"}));
    expectSound();
    // mdbtools reads the block the way Access's own readers do.
    const std::string props = run({"mdb-prop", path_, "first"});
    EXPECT_NE(props.find("Description: " + accented), std::string::npos) << props;
    EXPECT_NE(props.find("DefaultValue: \"a \"\"b\"\"\""), std::string::npos) << props;
    EXPECT_NE(props.find("AllowZeroLength: yes"), std::string::npos) << props;
    const std::string schema =
        run({"mdb-schema", "--not-null", "--default-values", "--comments", "-T", "first", path_, "postgres"});
    EXPECT_NE(schema.find("\"id\"\t\t\tINTEGER NOT NULL DEFAULT 0"), std::string::npos) << schema;
    EXPECT_NE(schema.find("DEFAULT 'a \"\"b\"\"'"), std::string::npos) << schema;
    EXPECT_NE(schema.find("COMMENT ON COLUMN \"first\".\"name\" IS 'the name'"), std::string::npos) << schema;
    EXPECT_EQ(schema.find("\"note\"\t\t\tTEXT NOT NULL"), std::string::npos) << schema;
    const std::string listing = run({std::string(FERROWANE_BINARY_DIR) + "/tools/ferrowane-mdb", "tables", "--schema", path_});
    EXPECT_NE(listing.find("  COLUMN name: Text(20), required, zero length allowed, default \"a \"\"b\"\"\", "
                           "description: the name\n"),
              std::string::npos)
        << listing;
}

TEST_P(SchemaObjects, AutoNumberGoesOnFromTheLargestValueAfterReopening)
{
    {
        auto db = Database::open(path_);
        execute(*db, "create table [t] ([id] long, [v] text(10))");
        for (int id : {5, 41, 3})
            db->table("t").append({Value::integer(id), Value::text("x")});
        makeAutoNumber(*db, "t", "id");
    }
    {
        auto db = Database::open(path_);
        EXPECT_TRUE(db->table("t").def().findColumn("id")->isAutoNumber());
        db->table("t").append({Value::null(), Value::text("next")});
        db->statementDone();
    }
    auto db = Database::open(path_);
    std::vector<int64_t> ids;
    db->table("t").scan([&](const std::vector<Value>& v, uint32_t) {
        ids.push_back(v[0].asInt());
        return true;
    });
    EXPECT_EQ(ids, (std::vector<int64_t>{5, 41, 3, 42}));
    // A column with a value the counter cannot draw is refused, unchanged.
    execute(*db, "create table [z] ([id] long)");
    db->table("z").append({Value::integer(0)});
    EXPECT_THROW(makeAutoNumber(*db, "z", "id"), Error);
    EXPECT_FALSE(db->table("z").def().findColumn("id")->isAutoNumber());
    db.reset();
    expectSound();
    if (readers::mdbReaderAvailable()) {
        const readers::ReaderResult r = readers::mdbReader(path_, {"t"});
        ASSERT_TRUE(r.find("t") && !r.find("t")->columns.empty());
        EXPECT_TRUE(r.find("t")->columns[0].autoLong);
        EXPECT_FALSE(r.find("t")->columns[1].autoLong);
    }
}

TEST_P(SchemaObjects, RelationshipHasItsRowsAndBothIndexesAndGoesWithItsTable)
{
    {
        auto db = Database::open(path_);
        execute(*db, "create table [parent] ([id] long, [name] text(10))");
        execute(*db, "alter table [parent] add constraint [PrimaryKey] primary key ([id])");
        execute(*db, "create table [child] ([id] long, [parent_id] long)");
        for (int i = 1; i <= 3; ++i)
            db->table("parent").append({Value::integer(i), Value::text("p")});
        db->table("child").append({Value::integer(1), Value::integer(2)});
        db->table("child").append({Value::integer(2), Value::null()});
        execute(*db, "create index [byname] on [parent] ([name])");

        Relationship r;
        r.name = relationshipName(*db, "parent", "child");
        EXPECT_EQ(r.name, "parentchild");
        r.referencedTable = "parent";
        r.referencedColumns = {"id"};
        r.referringTable = "child";
        r.referringColumns = {"parent_id"};
        r.cascadeDeletes = true;
        createRelationship(*db, r);

        // A row naming no parent: refused, nothing written.
        execute(*db, "create table [orphan] ([parent_id] long)");
        db->table("orphan").append({Value::integer(99)});
        Relationship bad = r;
        bad.name = "parentorphan";
        bad.referringTable = "orphan";
        EXPECT_THROW(createRelationship(*db, bad), Error);
        EXPECT_TRUE(db->table("orphan").def().logicalIndexes.empty());
        ASSERT_EQ(readRelationships(*db).size(), 1u);
    }
    expectSound();
    {
        // A drop renumbers the parent's indexes: the child's link follows.
        // A foreign-key index goes only with its relationship.
        auto db = Database::open(path_);
        EXPECT_THROW(dropIndex(*db, "child", "parentchild"), Error);
        dropIndex(*db, "parent", "byname");
    }
    expectSound();
    {
        auto db = Database::open(path_, false);
        const auto rels = readRelationships(*db);
        ASSERT_EQ(rels.size(), 1u);
        EXPECT_TRUE(rels[0].enforced && rels[0].cascadeDeletes && !rels[0].cascadeUpdates);
        const auto& fk = db->table("child").def().logicalIndexes;
        ASSERT_EQ(fk.size(), 1u);
        EXPECT_EQ(fk[0].type, kLogicalIndexForeign);
        EXPECT_EQ(fk[0].relatedTablePage, db->table("parent").def().page);
        // The referenced side shares the primary key's pages.
        const TableDef& parent = db->table("parent").def();
        ASSERT_EQ(parent.logicalIndexes.size(), 2u);
        EXPECT_EQ(parent.logicalIndexes[1].name, ".rB");
        EXPECT_EQ(parent.logicalIndexes[1].physicalIndex, parent.logicalIndexes[0].physicalIndex);
    }
    if (readers::mdbtoolsAvailable()) {
        const std::string schema = run({"mdb-schema", "--relations", path_, "mysql"});
        EXPECT_NE(schema.find("ALTER TABLE `child` ADD CONSTRAINT `child_parent_id_fk` FOREIGN KEY (`parent_id`) "
                              "REFERENCES `parent`(`id`) ON DELETE CASCADE;"),
                  std::string::npos)
            << schema;
    }
    const std::string listing = run({std::string(FERROWANE_BINARY_DIR) + "/tools/ferrowane-mdb", "tables", "--schema", path_});
    EXPECT_NE(listing.find("  INDEX parentchild (parent_id): foreign key -> parent\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("RELATIONSHIP parentchild: child (parent_id) -> parent (id), enforced, cascade deletes\n"),
              std::string::npos)
        << listing;
    {
        auto db = Database::open(path_);
        db->dropTable("parent");
        EXPECT_TRUE(readRelationships(*db).empty());
        EXPECT_TRUE(db->table("child").def().logicalIndexes.empty());
    }
    expectSound();
}

INSTANTIATE_TEST_SUITE_P(BothFormats, SchemaObjects, ::testing::Values(Version::Jet3, Version::Jet4),
                         [](const auto& info) { return info.param == Version::Jet3 ? "Jet3" : "Jet4"; });

}  // namespace
