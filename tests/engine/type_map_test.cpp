#include "engine/type_map.h"

#include <gtest/gtest.h>

using namespace ferrowane;

namespace {
constexpr auto Jet3 = AccessFormat::Jet3;
constexpr auto Jet4 = AccessFormat::Jet4;
}  // namespace

TEST(CreateStatement, LinesSeparatorsAndClosing)
{
    const QList<SourceField> fields = {{"id", "int(11) unsigned"}, {"name", "varchar(50)"}, {"notes", "text"}};
    EXPECT_EQ(createTableStatement("t", fields, false, Jet4),
              QStringLiteral("Create table [t] (\r\n[id] double , \r\n[name] text(50) , \r\n[notes] Memo\r\n ) "));
    EXPECT_EQ(createTableStatement("one", {{"a", "int(11)"}}, false, Jet3),
              QStringLiteral("Create table [one] (\r\n[a] int\r\n ) "));
}

TEST(CreateStatement, LongColumnNamesAreCutAndKeptApart)
{
    const QString long70 = QString(70, QLatin1Char('c'));
    const QString long65 = QString(60, QLatin1Char('C')) + QStringLiteral("xxxxx");
    const QStringList names = targetColumnNames({long70, "id", long65, QString(60, QLatin1Char('c'))});
    ASSERT_EQ(names.size(), 4);
    EXPECT_EQ(names[0], QString(60, QLatin1Char('c')));
    EXPECT_EQ(names[1], QStringLiteral("id"));
    // Equal to the first when case is ignored: numbered.
    EXPECT_EQ(names[2], QString(56, QLatin1Char('C')) + QStringLiteral("0000"));
    EXPECT_EQ(names[3], QString(56, QLatin1Char('c')) + QStringLiteral("0001"));
    EXPECT_EQ(createTableStatement("t", {{long70, "int(11)"}}, false, Jet4),
              QStringLiteral("Create table [t] (\r\n[") + QString(60, QLatin1Char('c'))
                  + QStringLiteral("] int\r\n ) "));
}

TEST(IndexStatements, WorkedExamples)
{
    const QStringList cols = {"id", "a", "b", "customer_id", "placed", "code", "x", "y", "z"};
    EXPECT_EQ(indexStatements({{"orders", "PRIMARY", "1", "id"}}, "orders", "orders", cols),
              QStringList{"alter table [orders]  add constraint [PRIMARYorders1] primary key ([id])"});
    EXPECT_EQ(indexStatements({{"orders", "PRIMARY", "1", "a"}, {"orders", "PRIMARY", "2", "b"}}, "orders",
                              "orders", cols),
              QStringList{"alter table [orders]  add constraint [PRIMARYorders1] primary key ([a],[b])"});
    EXPECT_EQ(indexStatements({{"orders", "cust", "1", "customer_id"}, {"orders", "cust", "2", "placed"}},
                              "orders", "orders", cols),
              QStringList{"create index [idx_custorders] on [orders] ([customer_id],[placed])"});
    const QStringList three = indexStatements({{"orders", "PRIMARY", "1", "id"},
                                               {"orders", "k1", "1", "x"},
                                               {"orders", "k2", "1", "y"},
                                               {"orders", "k2", "2", "z"}},
                                              "orders", "orders", cols);
    EXPECT_EQ(three, (QStringList{"alter table [orders]  add constraint [PRIMARYorders1] primary key ([id])",
                                  "create index [idx_k1orders] on [orders] ([x])",
                                  "create index [idx_k2orders] on [orders] ([y],[z])"}));
}

TEST(IndexStatements, NamesAreCutAndTheTargetNameIsUsed)
{
    EXPECT_EQ(indexStatements({{"order_items", "customer_lookup_index", "1", "c"}}, "order_items",
                              "order_items", {"c"}),
              QStringList{"create index [idx_customer_lookup_indexorder] on [order_items] ([c])"});
    // A long table: the server's Table value is not an Access name; the target name is.
    const QString source = QString(61, QLatin1Char('t'));
    const QString target = QString(56, QLatin1Char('t')) + "0000";
    const QStringList s = indexStatements({{source, "PRIMARY", "1", "id"}}, source, target, {"id"});
    EXPECT_EQ(s, QStringList{"alter table [" + target + "]  add constraint [PRIMARY" + QString(23, 't')
                             + "] primary key ([id])"});
    // Upper-cased names: the key name stays as reported, the source name follows.
    EXPECT_EQ(indexStatements({{"orders", "cust", "1", "c"}}, "ORDERS", "ORDERS", {"c"}),
              QStringList{"create index [idx_custORDERS] on [ORDERS] ([c])"});
}

TEST(IndexStatements, ColumnsGetTheirTargetNames)
{
    const QString long70 = QString(70, QLatin1Char('n'));
    const QStringList s = indexStatements({{"t", "k", "1", "my col"}, {"t", "k", "2", long70}}, "t", "t",
                                          {"my col", long70});
    EXPECT_EQ(s, QStringList{"create index [idx_kt] on [t] ([my col],[" + QString(60, 'n') + "])"});
}

TEST(IndexStatements, EmptyAndOddLists)
{
    EXPECT_TRUE(indexStatements({}, "t", "t", {}).isEmpty());
    EXPECT_TRUE(indexStatements({{"t", "k", "True", "c"}, {"t", "k", "1", "c"}}, "t", "t", {"c"}).isEmpty());
}

TEST(Names, AsciiUpper)
{
    EXPECT_EQ(asciiUpper(QStringLiteral("ab_z\u00e9\u0131")), QStringLiteral("AB_Z\u00e9\u0131"));
}
