// The column type map: every MySQL type text to its Access declaration and source kind.
#include "engine/column_plan.h"

#include <gtest/gtest.h>

using namespace ferrowane;

namespace {
QString decl(const char* type, AccessFormat f = AccessFormat::Jet4, bool blobtotext = false)
{
    return mapColumnType(QString::fromLatin1(type), blobtotext, f).declaration;
}
constexpr auto Jet3 = AccessFormat::Jet3;
constexpr auto Jet4 = AccessFormat::Jet4;
}  // namespace

TEST(TypeMap, ParseTypeSize)
{
    EXPECT_EQ(ParseTypeSize("varchar(255)"), 255);
    EXPECT_EQ(ParseTypeSize("  char(10)\t"), 10);
    EXPECT_EQ(ParseTypeSize("decimal(10,2)"), 10);
    EXPECT_EQ(ParseTypeSize("int(10) unsigned"), 10);
    EXPECT_EQ(ParseTypeSize("text"), 0);
    EXPECT_EQ(ParseTypeSize("(12)"), 0);  // "(" first: no size
    EXPECT_EQ(ParseTypeSize("varchar(x)"), 0);
    EXPECT_EQ(ParseTypeSize("varchar(99999999999999)"), 1000000000);
}

TEST(TypeMap, SizedTextType)
{
    EXPECT_EQ(SizedTextType("varchar(50)", "varchar(", " text("), QStringLiteral(" text(50)"));
    EXPECT_EQ(SizedTextType("bit(1)", "bit(", " text("), QStringLiteral(" text(1)"));
    // Words after the size are not carried into the declaration.
    EXPECT_EQ(SizedTextType("char(10) binary", "char(", " text("), QStringLiteral(" text(10)"));
}

TEST(TypeMap, WholeNumbersKeepEveryValue)
{
    for (const char* t : {"tinyint(4)", "tinyint(1)", "smallint(6) unsigned", "mediumint(8) unsigned",
                          "int(11)", "year(4)", "year"})
        EXPECT_EQ(decl(t), QStringLiteral(" int")) << t;
    EXPECT_EQ(decl("int(10) unsigned"), QStringLiteral(" double"));
    EXPECT_EQ(decl("int(10) unsigned zerofill", Jet3), QStringLiteral(" double"));
    EXPECT_EQ(decl("bigint(20)"), QStringLiteral(" decimal(20,0)"));
    EXPECT_EQ(decl("bigint(20) unsigned"), QStringLiteral(" decimal(20,0)"));
    EXPECT_EQ(decl("bigint(20)", Jet3), QStringLiteral(" double"));
}

TEST(TypeMap, FloatingAndFixedPoint)
{
    EXPECT_EQ(decl("float"), QStringLiteral(" single"));
    EXPECT_EQ(decl("float(7,3) unsigned", Jet3), QStringLiteral(" single"));
    EXPECT_EQ(decl("double"), QStringLiteral(" double"));
    EXPECT_EQ(decl("double(10,2)", Jet3), QStringLiteral(" double"));
    // Jet 4: decimal up to 28 digits.
    EXPECT_EQ(decl("decimal(10,2)"), QStringLiteral(" decimal(10,2)"));
    EXPECT_EQ(decl("decimal(28,28)"), QStringLiteral(" decimal(28,28)"));
    EXPECT_EQ(decl("decimal(29,2)"), QStringLiteral(" double"));
    EXPECT_EQ(decl("decimal(65,30) unsigned"), QStringLiteral(" double"));
    // Jet 3: currency holds 4 decimals and 15 digits before the point.
    EXPECT_EQ(decl("decimal(10,2)", Jet3), QStringLiteral(" currency"));
    EXPECT_EQ(decl("decimal(18,4)", Jet3), QStringLiteral(" currency"));
    EXPECT_EQ(decl("decimal(19,4)", Jet3), QStringLiteral(" double"));
    EXPECT_EQ(decl("decimal(6,5)", Jet3), QStringLiteral(" double"));
    const ColumnType c = mapColumnType("decimal(12,3)", false, Jet3);
    EXPECT_EQ(c.precision, 12);
    EXPECT_EQ(c.scale, 3);
}

TEST(TypeMap, Text)
{
    // Text up to 255 characters in both formats, Memo beyond.
    for (AccessFormat f : {Jet3, Jet4}) {
        EXPECT_EQ(decl("varchar(120)", f), QStringLiteral(" text(120)"));
        EXPECT_EQ(decl("varchar(121)", f), QStringLiteral(" text(121)"));
        EXPECT_EQ(decl("char(255)", f), QStringLiteral(" text(255)"));
        EXPECT_EQ(decl("varchar(256)", f), QStringLiteral(" Memo"));
    }
    // Four-byte characters take two UTF-16 units of a Jet 4 size.
    auto wide = [](const char* type, AccessFormat f) { return mapColumnType(type, false, f, true).declaration; };
    EXPECT_EQ(wide("varchar(1)", Jet4), QStringLiteral(" text(2)"));
    EXPECT_EQ(wide("varchar(120)", Jet4), QStringLiteral(" text(240)"));
    EXPECT_EQ(wide("varchar(255)", Jet4), QStringLiteral(" text(255)"));
    EXPECT_EQ(wide("varchar(256)", Jet4), QStringLiteral(" Memo"));
    EXPECT_EQ(wide("varchar(200)", Jet3), QStringLiteral(" text(200)"));
    EXPECT_TRUE(collationHasFourByteCharacters("utf8mb4_general_ci"));
    EXPECT_TRUE(collationHasFourByteCharacters("utf16le_bin"));
    EXPECT_FALSE(collationHasFourByteCharacters("utf8mb3_general_ci"));
    EXPECT_FALSE(collationHasFourByteCharacters("latin1_swedish_ci"));
    EXPECT_FALSE(collationHasFourByteCharacters(""));
    EXPECT_EQ(decl("char(10)"), QStringLiteral(" text(10)"));
    EXPECT_EQ(decl("char(0)"), QStringLiteral(" text(1)"));
    EXPECT_EQ(decl("tinytext"), QStringLiteral(" text(255)"));
    for (const char* t : {"text", "mediumtext", "longtext"}) {
        EXPECT_EQ(decl(t, Jet4, false), QStringLiteral(" Memo"));
        EXPECT_EQ(decl(t, Jet3, true), QStringLiteral(" Memo"));
    }
    EXPECT_EQ(decl("enum('a','bc')"), QStringLiteral(" text(8)"));
    EXPECT_EQ(decl("set('x','y')"), QStringLiteral(" text(7)"));
    // A value list of 255 characters still fits a text column; 256 does not.
    const QString list255 = QLatin1Char('\'') + QString(253, QLatin1Char('v')) + QLatin1Char('\'');
    EXPECT_EQ(mapColumnType("enum(" + list255 + ")", false, Jet4).declaration, QStringLiteral(" text(255)"));
    EXPECT_EQ(mapColumnType("enum(" + list255 + "x)", false, Jet4).declaration, QStringLiteral(" Memo"));
    EXPECT_EQ(mapColumnType("set(" + list255 + "x)", false, Jet4).declaration, QStringLiteral(" Memo"));
}

TEST(TypeMap, BlobsAndBytes)
{
    for (const char* t : {"blob", "tinyblob", "mediumblob", "longblob"}) {
        EXPECT_EQ(decl(t), QStringLiteral(" OleObject"));
        EXPECT_EQ(decl(t, Jet3, true), QStringLiteral(" Memo"));
        EXPECT_EQ(mapColumnType(t, true, Jet3).source, SourceKind::Blob);
    }
    EXPECT_EQ(decl("binary(16)"), QStringLiteral(" binary(16)"));
    EXPECT_EQ(decl("varbinary(255)"), QStringLiteral(" binary(255)"));
    EXPECT_EQ(decl("varbinary(256)"), QStringLiteral(" OleObject"));
    EXPECT_EQ(decl("varbinary(1000)", Jet3, true), QStringLiteral(" OleObject"));
    EXPECT_EQ(decl("bit(1)"), QStringLiteral(" text(1)"));
    EXPECT_EQ(decl("bit(64)"), QStringLiteral(" text(64)"));
    EXPECT_EQ(mapColumnType("bit(5)", false, Jet4).source, SourceKind::Bits);
}

TEST(TypeMap, DatesAndTimes)
{
    for (const char* t : {"datetime", "date", "timestamp", "time", "datetime(6)", "timestamp(3)", "time(2)"})
        EXPECT_EQ(decl(t), QStringLiteral(" Date")) << t;
    EXPECT_EQ(mapColumnType("time(2)", false, Jet4).source, SourceKind::Time);
    EXPECT_EQ(mapColumnType("timestamp(2)", false, Jet4).source, SourceKind::Date);
    // As text: "-838:59:59" and the fraction digits.
    EXPECT_EQ(mapColumnType("time", false, Jet3, false, true).declaration, QStringLiteral(" text(10)"));
    EXPECT_EQ(mapColumnType("time(6)", false, Jet4, true, true).declaration, QStringLiteral(" text(17)"));
    EXPECT_EQ(mapColumnType("time(2)", false, Jet4, false, true).source, SourceKind::Time);
}

TEST(TypeMap, SpatialAndUnknownTypesAreMemo)
{
    for (const char* t : {"geometry", "point", "linestring", "polygon", "multipoint", "multilinestring",
                          "multipolygon", "geometrycollection"}) {
        EXPECT_EQ(decl(t), QStringLiteral(" Memo")) << t;
        EXPECT_EQ(mapColumnType(t, false, Jet3).source, SourceKind::Spatial);
    }
    for (const char* t : {"uuid", "inet6", "inet4", "json", "vector(3)", ""}) {
        EXPECT_EQ(decl(t), QStringLiteral(" Memo")) << t;
        EXPECT_EQ(mapColumnType(t, false, Jet3).source, SourceKind::Other);
    }
}

TEST(TypeMap, TheMapIsCaseSensitiveLikeTheServer)
{
    // The server reports lower-case type texts; anything else is unknown.
    EXPECT_EQ(mapColumnType("INT(11)", false, Jet4).source, SourceKind::Other);
}
