#include "engine/access_provider.h"

#include "jet/database.h"
#include "jet/table.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fstream>

using namespace ferrowane;

namespace {

QString newDatabase(const QTemporaryDir& dir, jet::Version v, const char* name = "t.mdb")
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    jet::Database::create(path.toStdString(), v);
    return path;
}

QString errorOf(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const AccessError& e) {
        return e.message();
    }
    return QString();
}

}  // namespace

// The provider hands every statement to the engine's parser: the forms the
// conversion sends are read as meant, malformed ones refused with a message.
TEST(AccessStatements, Parse)
{
    QTemporaryDir dir;
    AccessConnection c;
    c.setConnectionString(AccessConnection::connectionStringFor(newDatabase(dir, jet::Version::Jet4)));
    c.open();
    c.execute("Create table [my t] (\r\n[a] int , \r\n[b c] text(50) , \r\n[d] decimal(20,0)\r\n ) ");
    const jet::TableDef& def = c.database().table("my t").def();
    ASSERT_EQ(def.columns.size(), 3u);
    EXPECT_EQ(def.columns[1].name, "b c");
    EXPECT_EQ(def.columns[1].type, jet::ColumnType::Text);
    EXPECT_EQ(def.columns[1].length, 100);  // 50 characters of two bytes
    EXPECT_EQ(def.columns[2].precision, 20);
    EXPECT_EQ(def.columns[2].scale, 0);

    c.execute("alter table [my t]  add constraint [PRIMARYo1] primary key ([a],[b c])");
    c.execute("create index idx_k on [my t] (d,a)");
    EXPECT_EQ(c.database().table("my t").def().logicalIndexes.size(), 2u);

    AccessDataset ds(c);
    ds.setCommandText("Select 1 from [my t] where 1=0");
    ds.open();
    EXPECT_TRUE(ds.isOpen());
    EXPECT_TRUE(ds.fields().isEmpty());
    ds.setCommandText("select * from [MY T] where 1=0");
    ds.open();
    EXPECT_EQ(ds.fields().size(), 3);
    ds.close();
    c.execute("Create table [a-b] (\r\n[x] int\r\n ) ");
    c.execute("drop table [a-b]");
    EXPECT_FALSE(c.hasTable("a-b"));
}

TEST(AccessStatements, SyntaxErrors)
{
    QTemporaryDir dir;
    AccessConnection c;
    c.setConnectionString(AccessConnection::connectionStringFor(newDatabase(dir, jet::Version::Jet4)));
    c.open();
    EXPECT_FALSE(errorOf([&] { c.execute("Create table [t] (\r\n[a]\r\n ) "); }).isEmpty());
    EXPECT_FALSE(c.hasTable("t"));
    EXPECT_FALSE(errorOf([&] { c.execute("drop table [t"); }).isEmpty());
    c.execute("Create table [t] (\r\n[a] int\r\n ) ");
    AccessDataset ds(c);
    for (const char* query : {"select 1 from t where 1=0 extra", "update t set a=1", ""}) {
        ds.setCommandText(QString::fromLatin1(query));
        EXPECT_FALSE(errorOf([&] { ds.open(); }).isEmpty()) << query;
        EXPECT_FALSE(ds.isOpen());
    }
    EXPECT_FALSE(errorOf([&] { c.execute("update t set a=1"); }).isEmpty());
}

TEST(AccessConnection, ConnectionString)
{
    EXPECT_EQ(AccessConnection::connectionStringFor("/tmp/a;b.mdb"),
              QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/tmp/a;b.mdb;Persist Security Info=False"));
    EXPECT_EQ(AccessConnection::dataSourceOf(AccessConnection::connectionStringFor("/tmp/a;b.mdb")),
              QStringLiteral("/tmp/a;b.mdb"));
}

TEST(AccessConnection, OpenFailures)
{
    QTemporaryDir dir;
    AccessConnection c;
    c.setConnectionString(AccessConnection::connectionStringFor(dir.filePath("missing.mdb")));
    EXPECT_EQ(errorOf([&] { c.open(); }), QStringLiteral("Could not find file '%1'.").arg(dir.filePath("missing.mdb")));
    c.setConnectionString("Provider=Other;Data Source=x");
    EXPECT_FALSE(errorOf([&] { c.open(); }).isEmpty());
    // A file that is not a database.
    QFile f(dir.filePath("junk.mdb"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(5000, 'x'));
    f.close();
    c.setConnectionString(AccessConnection::connectionStringFor(f.fileName()));
    EXPECT_FALSE(errorOf([&] { c.open(); }).isEmpty());
    EXPECT_FALSE(c.isOpen());
}

class ProviderBothFormats : public ::testing::TestWithParam<jet::Version> {};

TEST_P(ProviderBothFormats, CreateProbeAppendDrop)
{
    QTemporaryDir dir;
    const QString path = newDatabase(dir, GetParam());
    const bool jet4 = GetParam() == jet::Version::Jet4;
    AccessConnection c;
    c.setConnectionString(AccessConnection::connectionStringFor(path));
    c.open();
    EXPECT_EQ(c.format(), jet4 ? AccessFormat::Jet4 : AccessFormat::Jet3);

    c.execute(QStringLiteral("Create table [People] (\r\n[id] int , \r\n[name] text(10) , \r\n[score] double , \r\n"
                             "[born] Date , \r\n[photo] OleObject , \r\n[notes] Memo , \r\n[tag] binary(4) , \r\n[f] single"
                             "%1\r\n ) ").arg(jet4 ? " , \r\n[amount] decimal(20,2)" : " , \r\n[amount] currency"));
    EXPECT_TRUE(c.hasTable("people"));
    // The table exists now: a second create is refused with the engine's message.
    EXPECT_EQ(errorOf([&] { c.execute("Create table [PEOPLE] (\r\n[x] int\r\n ) "); }),
              QStringLiteral("The table 'PEOPLE' already exists"));

    AccessDataset ds(c);
    ds.setCommandText("Select 1 from [nothere] where 1=0");
    EXPECT_FALSE(errorOf([&] { ds.open(); }).isEmpty());
    EXPECT_FALSE(ds.isOpen());

    ds.setCommandText("select * from [people] where 1=0");
    ds.open();
    ASSERT_EQ(ds.fields().size(), 9);
    EXPECT_EQ(ds.fieldIndex("NAME"), 1);
    EXPECT_EQ(ds.fieldIndex("nope"), -1);
    EXPECT_EQ(ds.fields()[1].column.kind, TargetKind::Text);
    EXPECT_EQ(ds.fields()[1].column.size, 10);
    EXPECT_EQ(ds.fields()[8].column.kind, jet4 ? TargetKind::Decimal : TargetKind::Currency);

    c.beginTransaction();
    ds.append();
    ds.setField(0, QVariant(qint32(7)));
    ds.setField(1, QVariant(QStringLiteral("Zo\u00eb")));
    ds.setField(2, QVariant(2.5));
    ds.setField(3, QVariant(36526.5));  // 2000-01-01 12:00
    ds.setField(4, QVariant(QByteArray("\x01\x02", 2)));
    ds.setField(5, QVariant(QStringLiteral("long text")));
    ds.setField(6, QVariant(QByteArray("abcd")));
    ds.setField(7, QVariant(1.5f));
    ds.setField(8, QVariant(QStringLiteral("-12.50")));
    // Too long for text(10): refused, the field stays unset, the row goes on.
    EXPECT_FALSE(errorOf([&] { ds.setField(1, QVariant(QStringLiteral("eleven char"))); }).isEmpty());
    ds.post();
    ds.append();
    ds.post();  // every field unset
    c.commitTransaction();
    ds.close();

    jet::Table& t = c.database().table("People");
    const auto rows = t.readAll();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0].asInt(), 7);
    EXPECT_EQ(rows[0][1].str(), std::string("Zo\xC3\xAB"));
    EXPECT_EQ(rows[0][2].asDouble(), 2.5);
    EXPECT_EQ(jet::formatDateTime(rows[0][3].asDate()), "2000-01-01 12:00:00");
    EXPECT_EQ(rows[0][4].str(), std::string("\x01\x02", 2));
    EXPECT_EQ(rows[0][5].str(), "long text");
    EXPECT_EQ(rows[0][6].str(), "abcd");
    EXPECT_EQ(rows[0][7].asDouble(), 1.5);
    EXPECT_EQ(rows[0][8].str(), jet4 ? "-12.50" : "-12.5000");
    for (const auto& v : rows[1])
        EXPECT_TRUE(v.isNull());

    c.execute("drop table [PEOPLE]");
    EXPECT_FALSE(c.hasTable("People"));
    EXPECT_FALSE(errorOf([&] { c.execute("drop table [People]"); }).isEmpty());
    c.close();
}

TEST_P(ProviderBothFormats, Jet3TextKeepsWhatCodePage1252Has)
{
    QTemporaryDir dir;
    const QString path = newDatabase(dir, GetParam());
    AccessConnection c;
    c.setConnectionString(AccessConnection::connectionStringFor(path));
    c.open();
    c.execute("Create table [t] (\r\n[s] text(20)\r\n ) ");
    AccessDataset ds(c);
    ds.setCommandText("select * from [t] where 1=0");
    ds.open();
    ds.append();
    const QString changed = ds.setField(0, QVariant(QStringLiteral("\u20ac \u042f \U0001F600")));
    ds.post();
    const auto rows = c.database().table("t").readAll();
    if (GetParam() == jet::Version::Jet4) {
        EXPECT_TRUE(changed.isEmpty());
        EXPECT_EQ(QString::fromStdString(rows[0][0].str()), QStringLiteral("\u20ac \u042f \U0001F600"));
    } else {
        EXPECT_FALSE(changed.isEmpty());
        EXPECT_EQ(QString::fromStdString(rows[0][0].str()), QStringLiteral("\u20ac ? ?"));
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, ProviderBothFormats, ::testing::Values(jet::Version::Jet3, jet::Version::Jet4));
