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
    const QStringList names = targetColumnNames({long70, "id", long65, QString(60, QLatin1Char('c'))}, Jet4);
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

namespace {

// The statements alone.
QStringList statementsOf(const QList<IndexRow>& rows, const QString& source, const QString& target,
                         const QStringList& cols, AccessFormat format = Jet4)
{
    QStringList out;
    for (const KeyStatement& k : indexStatements(rows, source, target, cols, format))
        out.append(k.statement);
    return out;
}

}  // namespace

TEST(IndexStatements, WorkedExamples)
{
    const QStringList cols = {"id", "a", "b", "customer_id", "placed", "code", "x", "y", "z"};
    EXPECT_EQ(statementsOf({{"orders", "PRIMARY", "1", "id", "0"}}, "orders", "orders", cols),
              QStringList{"alter table [orders]  add constraint [PRIMARYorders1] primary key ([id])"});
    EXPECT_EQ(statementsOf({{"orders", "PRIMARY", "1", "a", "0"}, {"orders", "PRIMARY", "2", "b", "0"}}, "orders",
                           "orders", cols),
              QStringList{"alter table [orders]  add constraint [PRIMARYorders1] primary key ([a],[b])"});
    EXPECT_EQ(statementsOf({{"orders", "cust", "1", "customer_id"}, {"orders", "cust", "2", "placed"}},
                           "orders", "orders", cols),
              QStringList{"create index [idx_custorders] on [orders] ([customer_id],[placed])"});
    const QList<KeyStatement> three = indexStatements({{"orders", "PRIMARY", "1", "id", "0"},
                                                       {"orders", "k1", "1", "x"},
                                                       {"orders", "k2", "1", "y", "0"},
                                                       {"orders", "k2", "2", "z", "0"}},
                                                      "orders", "orders", cols, Jet4);
    ASSERT_EQ(three.size(), 3);
    EXPECT_EQ(three[0].statement, "alter table [orders]  add constraint [PRIMARYorders1] primary key ([id])");
    EXPECT_EQ(three[1].statement, "create index [idx_k1orders] on [orders] ([x])");
    // A unique key stays unique; a plain index of the same name and columns
    // stands by for duplicates that Access's comparison finds.
    EXPECT_EQ(three[2].statement, "create unique index [idx_k2orders] on [orders] ([y],[z])");
    EXPECT_EQ(three[2].plainStatement, "create index [idx_k2orders] on [orders] ([y],[z])");
    EXPECT_EQ(three[0].plainStatement, "create index [PRIMARYorders1] on [orders] ([id])");
    EXPECT_TRUE(three[1].plainStatement.isEmpty());
    EXPECT_EQ(three[2].name, "idx_k2orders");
}

TEST(IndexStatements, NamesUpTo64CharactersNumberedWhenEqual)
{
    EXPECT_EQ(statementsOf({{"order_items", "customer_lookup_index", "1", "c"}}, "order_items", "order_items",
                           {"c"}),
              QStringList{"create index [idx_customer_lookup_indexorder_items] on [order_items] ([c])"});
    // Two long key names equal in their first 64 characters, letter case aside.
    const QString key = QString(70, QLatin1Char('k'));
    EXPECT_EQ(statementsOf({{"t", key + "1", "1", "a"}, {"t", key.toUpper() + "2", "1", "b"}}, "t", "t",
                           {"a", "b"}),
              (QStringList{"create index [idx_" + QString(60, 'k') + "] on [t] ([a])",
                           "create index [idx_" + QString(56, 'K') + "0000] on [t] ([b])"}));
    // A long table: the server's Table value is not an Access name; the target name is.
    const QString source = QString(61, QLatin1Char('t'));
    const QString target = QString(56, QLatin1Char('t')) + "0000";
    EXPECT_EQ(statementsOf({{source, "PRIMARY", "1", "id", "0"}}, source, target, {"id"}),
              QStringList{"alter table [" + target + "]  add constraint [PRIMARY" + QString(57, 't')
                          + "] primary key ([id])"});
    // Upper-cased names: the key name stays as reported, the source name follows.
    EXPECT_EQ(statementsOf({{"orders", "cust", "1", "c"}}, "ORDERS", "ORDERS", {"c"}),
              QStringList{"create index [idx_custORDERS] on [ORDERS] ([c])"});
}

TEST(IndexStatements, ColumnsAndNamesGetTheirLegalForms)
{
    const QString long70 = QString(70, QLatin1Char('n'));
    EXPECT_EQ(statementsOf({{"t", "k", "1", "my col"}, {"t", "k", "2", long70}}, "t", "t", {"my col", long70}),
              QStringList{"create index [idx_kt] on [t] ([my col],[" + QString(60, 'n') + "])"});
    EXPECT_EQ(statementsOf({{"a.b", "x] on [victim", "1", "c!d"}}, "a.b", "a_b", {"c!d"}),
              QStringList{"create index [idx_x_ on _victima_b] on [a_b] ([c_d])"});
    // Jet 3 holds code page 1252 only.
    EXPECT_EQ(statementsOf({{"t", "\u4e2d", "1", "\u00e9\u0436"}}, "t", "t", {"\u00e9\u0436"}, Jet3),
              QStringList{"create index [idx__t] on [t] ([\u00e9_])"});
}

TEST(IndexStatements, EmptyAndOddLists)
{
    EXPECT_TRUE(indexStatements({}, "t", "t", {}, Jet4).isEmpty());
    EXPECT_TRUE(indexStatements({{"t", "k", "True", "c"}, {"t", "k", "1", "c"}}, "t", "t", {"c"}, Jet4).isEmpty());
}

TEST(Names, LegalForms)
{
    EXPECT_EQ(accessLegalName("plain name", Jet3), "plain name");
    EXPECT_EQ(accessLegalName("a.b!c`d[e]f", Jet4), "a_b_c_d_e_f");
    EXPECT_EQ(accessLegalName("  lead", Jet4), "lead");
    EXPECT_EQ(accessLegalName("   ", Jet4), "_");
    EXPECT_EQ(accessLegalName(QStringLiteral("tab\there\x01"), Jet4), "tab_here_");
    EXPECT_EQ(accessLegalName("caf\u00e9 \u20ac \u4e2d", Jet4), "caf\u00e9 \u20ac \u4e2d");
    EXPECT_EQ(accessLegalName("caf\u00e9 \u20ac \u4e2d", Jet3), "caf\u00e9 \u20ac _");
    EXPECT_EQ(accessLegalName(QStringLiteral("x\U0001F600y"), Jet3), "x_y");
    // Legal forms that meet are kept apart, the same way every time.
    EXPECT_EQ(targetColumnNames({"a.b", "a_b", "A!B"}, Jet4), (QStringList{"a_b", "a_b0000", "A_B0001"}));
}

TEST(Names, DistinctNamesByPlace)
{
    const QString long61 = QString(61, QLatin1Char('l'));
    // Names that keep their form come first: "x0000" is a name of the list.
    EXPECT_EQ(distinctNames({"CaseTest", "casetest", "casetest0000", long61}, 60, true),
              (QStringList{"CaseTest", "casetest0001", "casetest0000", QString(56, 'l') + "0000"}));
    EXPECT_EQ(distinctNames({long61}, 60, false), QStringList{QString(60, 'l')});
}

TEST(Names, AsciiUpper)
{
    EXPECT_EQ(asciiUpper(QStringLiteral("ab_z\u00e9\u0131")), QStringLiteral("AB_Z\u00e9\u0131"));
}
