#include "engine/value_convert.h"
#include "engine/mysql_source.h"
#include "test_mysql_env.h"

#include "jet/value.h"

#include <gtest/gtest.h>

#include <QDate>

using namespace ferrowane;

namespace {
TargetColumn col(TargetKind k, int size = 0, int precision = 0, int scale = 0)
{
    TargetColumn t;
    t.kind = k;
    t.size = size;
    t.precision = precision;
    t.scale = scale;
    return t;
}
Converted conv(const QVariant& v, const TargetColumn& t, SourceKind s = SourceKind::Number, int bits = 0)
{
    return convertValue(s, v, t, bits);
}
}  // namespace

TEST(ValueConvert, NullStaysNull)
{
    for (TargetKind k : {TargetKind::Long, TargetKind::Text, TargetKind::Date, TargetKind::Decimal}) {
        const Converted c = conv(QVariant(), col(k, 10, 10, 2));
        EXPECT_TRUE(c.value.isNull());
        EXPECT_TRUE(c.loss.isEmpty());
    }
}

TEST(ValueConvert, WholeNumbers)
{
    EXPECT_EQ(conv(QVariant(qlonglong(-2147483648LL)), col(TargetKind::Long)).value, QVariant(qint32(-2147483647 - 1)));
    const Converted big = conv(QVariant(qlonglong(2147483648LL)), col(TargetKind::Long));
    EXPECT_TRUE(big.value.isNull());
    EXPECT_EQ(big.loss, QStringLiteral("2147483648 is out of range"));
    EXPECT_TRUE(conv(QVariant(qulonglong(18446744073709551615ULL)), col(TargetKind::Long)).value.isNull());
    // From text (a Long column met under Merge).
    EXPECT_EQ(conv(QVariant(QStringLiteral("42")), col(TargetKind::Long)).value, QVariant(qint32(42)));
    const Converted frac = conv(QVariant(QStringLiteral("2.5")), col(TargetKind::Long));
    EXPECT_EQ(frac.value, QVariant(qint32(3)));
    EXPECT_FALSE(frac.loss.isEmpty());
    EXPECT_EQ(conv(QVariant(QStringLiteral("abc")), col(TargetKind::Long)).loss, QStringLiteral("abc is not a number"));
}

TEST(ValueConvert, DoublesCountWhatTheyCannotGiveBack)
{
    // Unsigned int: every value is exact.
    EXPECT_EQ(conv(QVariant(qlonglong(4294967295LL)), col(TargetKind::Double)).value.toDouble(), 4294967295.0);
    // Jet 3 bigint: beyond 2^53 not every value survives.
    EXPECT_TRUE(conv(QVariant(qlonglong(9007199254740992LL)), col(TargetKind::Double)).loss.isEmpty());
    EXPECT_EQ(conv(QVariant(qlonglong(9007199254740993LL)), col(TargetKind::Double)).loss,
              QStringLiteral("9007199254740993 is not exact as a double"));
    EXPECT_FALSE(conv(QVariant(qulonglong(18446744073709551615ULL)), col(TargetKind::Double)).loss.isEmpty());
    EXPECT_FALSE(conv(QVariant(qlonglong(9223372036854775807LL)), col(TargetKind::Double)).loss.isEmpty());
    // Decimals: judged at their own scale.
    EXPECT_TRUE(conv(QVariant(QStringLiteral("12345.67")), col(TargetKind::Double)).loss.isEmpty());
    EXPECT_TRUE(conv(QVariant(QStringLiteral("-0.10")), col(TargetKind::Double)).loss.isEmpty());
    const Converted wide = conv(QVariant(QStringLiteral("12345678901234567890.12")), col(TargetKind::Double));
    EXPECT_EQ(wide.loss, QStringLiteral("12345678901234567890.12 is not exact as a double"));
    EXPECT_NEAR(wide.value.toDouble(), 1.2345678901234567e19, 1e4);
}

TEST(ValueConvert, Singles)
{
    const Converted f = conv(QVariant(1.1), col(TargetKind::Single));
    EXPECT_EQ(f.value.typeId(), QMetaType::Float);
    EXPECT_EQ(f.value.toFloat(), 1.1f);
    EXPECT_TRUE(f.loss.isEmpty());
    EXPECT_TRUE(conv(QVariant(1e300), col(TargetKind::Single)).value.isNull());
}

TEST(ValueConvert, DecimalsAndCurrency)
{
    EXPECT_EQ(conv(QVariant(QStringLiteral("-12.50")), col(TargetKind::Decimal, 0, 10, 2)).value,
              QVariant(QStringLiteral("-12.50")));
    EXPECT_EQ(conv(QVariant(QStringLiteral("7")), col(TargetKind::Decimal, 0, 10, 2)).value,
              QVariant(QStringLiteral("7.00")));
    EXPECT_EQ(conv(QVariant(qulonglong(18446744073709551615ULL)), col(TargetKind::Decimal, 0, 20, 0)).value,
              QVariant(QStringLiteral("18446744073709551615")));
    EXPECT_EQ(conv(QVariant(qlonglong(-9223372036854775807LL - 1)), col(TargetKind::Decimal, 0, 20, 0)).value,
              QVariant(QStringLiteral("-9223372036854775808")));
    // More decimals than the column: rounded and counted.
    const Converted r = conv(QVariant(QStringLiteral("0.125")), col(TargetKind::Decimal, 0, 10, 2));
    EXPECT_EQ(r.value, QVariant(QStringLiteral("0.13")));
    EXPECT_EQ(r.loss, QStringLiteral("0.125 was rounded to 2 decimals"));
    EXPECT_EQ(conv(QVariant(QStringLiteral("9.995")), col(TargetKind::Decimal, 0, 4, 2)).value,
              QVariant(QStringLiteral("10.00")));
    EXPECT_TRUE(conv(QVariant(QStringLiteral("999.995")), col(TargetKind::Decimal, 0, 5, 2)).value.isNull());
    // Currency: four decimals, 64-bit range.
    EXPECT_EQ(conv(QVariant(QStringLiteral("12.5")), col(TargetKind::Currency)).value,
              QVariant(QStringLiteral("12.5000")));
    EXPECT_EQ(conv(QVariant(QStringLiteral("922337203685477.5807")), col(TargetKind::Currency)).value,
              QVariant(QStringLiteral("922337203685477.5807")));
    EXPECT_TRUE(conv(QVariant(QStringLiteral("922337203685477.5808")), col(TargetKind::Currency)).value.isNull());
    EXPECT_EQ(conv(QVariant(QStringLiteral("-0.0000")), col(TargetKind::Currency)).value,
              QVariant(QStringLiteral("0.0000")));
}

TEST(ValueConvert, TextBitsAndBytes)
{
    EXPECT_EQ(conv(QVariant(qulonglong(5)), col(TargetKind::Text, 8), SourceKind::Bits, 8).value,
              QVariant(QStringLiteral("00000101")));
    EXPECT_EQ(conv(QVariant(qulonglong(0)), col(TargetKind::Text, 1), SourceKind::Bits, 1).value,
              QVariant(QStringLiteral("0")));
    const Converted cut = conv(QVariant(QStringLiteral("abcdef")), col(TargetKind::Text, 4), SourceKind::Text);
    EXPECT_EQ(cut.value, QVariant(QStringLiteral("abcd")));
    EXPECT_EQ(cut.loss, QStringLiteral("a text of 6 characters was cut to 4"));
    const Converted pair = conv(QVariant(QStringLiteral("abc\U0001F600")), col(TargetKind::Text, 4), SourceKind::Text);
    EXPECT_EQ(pair.value, QVariant(QStringLiteral("abc")));
    EXPECT_EQ(pair.loss, QStringLiteral("a text of 4 characters (5 UTF-16 units) was cut to 3 characters (3 units)"));
    // Jet 3: replaced first, then measured, so an emoji fits one character.
    TargetColumn jet3 = col(TargetKind::Text, 1);
    jet3.codePage1252 = true;
    const Converted one = conv(QVariant(QStringLiteral("\U0001F600")), jet3, SourceKind::Text);
    EXPECT_EQ(one.value, QVariant(QStringLiteral("?")));
    EXPECT_EQ(one.loss, QStringLiteral("characters that code page 1252 lacks became \"?\""));
    EXPECT_EQ(conv(QVariant(QByteArray("{\\rtf1 Hi}")), col(TargetKind::Memo), SourceKind::Blob).value,
              QVariant(QStringLiteral("Hi")));
    EXPECT_EQ(conv(QVariant(QByteArray("")), col(TargetKind::Memo), SourceKind::Blob).value,
              QVariant(QString()));
    const QByteArray raw("\x00\xff\x10", 3);
    EXPECT_EQ(conv(QVariant(raw), col(TargetKind::OleObject), SourceKind::Blob).value, QVariant(raw));
    EXPECT_EQ(conv(QVariant(raw), col(TargetKind::Binary, 3), SourceKind::Bytes).value, QVariant(raw));
    EXPECT_FALSE(conv(QVariant(raw), col(TargetKind::Binary, 2), SourceKind::Bytes).loss.isEmpty());
}

TEST(ValueConvert, Dates)
{
    auto days = [](const char* t) { return conv(QVariant(QString::fromLatin1(t)), col(TargetKind::Date), SourceKind::Date); };
    EXPECT_EQ(days("1899-12-30").value.toDouble(), 0.0);
    EXPECT_EQ(days("1900-01-01 12:00:00").value.toDouble(), 2.5);
    EXPECT_EQ(days("2024-02-29").value.toDouble(), double(QDate(2024, 2, 29).toJulianDay() - QDate(1899, 12, 30).toJulianDay()));
    // Before 1899-12-30 the time is counted away from zero.
    EXPECT_EQ(days("1899-12-29 06:00:00").value.toDouble(), -1.25);
    EXPECT_NEAR(days("2000-01-01 00:00:00.500000").value.toDouble(), 36526 + 0.5 / 86400, 1e-9);
    // Zero dates, whole or partial: NULL, counted.
    for (const char* z : {"0000-00-00", "0000-00-00 00:00:00", "2020-00-10", "2020-05-00"}) {
        EXPECT_TRUE(days(z).value.isNull());
        EXPECT_EQ(days(z).loss, QString::fromLatin1(z) + " is a zero date: stored as NULL");
    }
    // Digits beyond milliseconds are cut, never rounded into the next day.
    const double last = days("9999-12-31 23:59:59.999999").value.toDouble();
    EXPECT_EQ(jet::formatDateTime(jet::fromJetDate(last)), "9999-12-31 23:59:59");
    EXPECT_EQ(jet::fromJetDate(last).microsecond, 999000);
    EXPECT_EQ(days("0099-12-31").loss, QStringLiteral("0099-12-31 is before the year 100"));
    EXPECT_TRUE(days("0100-01-01").loss.isEmpty());
    EXPECT_TRUE(days("2020-02-30").value.isNull());
}

TEST(ValueConvert, Times)
{
    auto t = [](const char* s) { return conv(QVariant(QString::fromLatin1(s)), col(TargetKind::Date), SourceKind::Time); };
    EXPECT_EQ(t("12:00:00").value.toDouble(), 0.5);
    EXPECT_EQ(t("36:00:00.000").value.toDouble(), 1.5);
    EXPECT_EQ(t("36:00:00.000").loss, QStringLiteral("36:00:00.000 is 24 hours or more: stored as 1899-12-31 12:00:00"));
    EXPECT_EQ(t("-00:00:00").value.toDouble(), 0.0);
    EXPECT_TRUE(t("-01:00:00").value.isNull());
    EXPECT_EQ(t("-01:00:00").loss, QStringLiteral("-01:00:00 is a negative time: stored as NULL"));
    EXPECT_EQ(jet::formatDateTime(jet::fromJetDate(t("23:59:59.999999").value.toDouble())), "1899-12-30 23:59:59");
    EXPECT_TRUE(t("23:59:59.999999").loss.isEmpty());
    EXPECT_FALSE(t("12:61:00").loss.isEmpty());
}

TEST(Geometry, NumbersAsTheServerPrintsThem)
{
    EXPECT_EQ(spatialNumber(1.5), QStringLiteral("1.5"));
    EXPECT_EQ(spatialNumber(-2), QStringLiteral("-2"));
    EXPECT_EQ(spatialNumber(1e14), QStringLiteral("100000000000000"));
    EXPECT_EQ(spatialNumber(1e15), QStringLiteral("1e15"));
    EXPECT_EQ(spatialNumber(1.234567e15), QStringLiteral("1.234567e15"));
    EXPECT_EQ(spatialNumber(1e-15), QStringLiteral("0.000000000000001"));
    EXPECT_EQ(spatialNumber(1e-16), QStringLiteral("1e-16"));
    EXPECT_EQ(spatialNumber(123456789.12345679), QStringLiteral("123456789.12345679"));
    EXPECT_EQ(spatialNumber(-0.0), QStringLiteral("0"));
}

TEST(Geometry, BrokenBytesAreRefused)
{
    bool ok = true;
    EXPECT_TRUE(geometryToText(QByteArray("\0\0\0\0\x01\x01\0\0\0", 9), &ok).isEmpty());
    EXPECT_FALSE(ok);
    geometryToText(QByteArray("abc"), &ok);
    EXPECT_FALSE(ok);
    // A huge count with no data behind it.
    geometryToText(QByteArray("\0\0\0\0\x01\x02\0\0\0\xff\xff\xff\x7f", 13), &ok);
    EXPECT_FALSE(ok);
    const Converted c = convertValue(SourceKind::Spatial, QVariant(QByteArray("abc")), col(TargetKind::Memo));
    EXPECT_TRUE(c.value.isNull());
    EXPECT_EQ(c.loss, QStringLiteral("3 bytes are not a geometry"));
}

TEST(Geometry, WellKnownTextEqualsTheServers)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ferrowane::testing::ScratchDatabase db(env, "conv_geometry");
    db.exec("create table g (id int primary key, v geometry)");
    const char* shapes[] = {
        "POINT(1.5 -2)", "POINT(1e20 0.1)", "POINT(123456789.12345679 0.0000001)",
        "LINESTRING(0 0,1 1,2 0.5)", "POLYGON((0 0,1 0,1 1,0 0),(0.1 0.1,0.2 0.1,0.2 0.2,0.1 0.1))",
        "MULTIPOINT(1 1,2 2)", "MULTILINESTRING((0 0,1 1),(2 2,3 3))",
        "MULTIPOLYGON(((0 0,1 0,1 1,0 0)),((5 5,6 5,6 6,5 5)))",
        "GEOMETRYCOLLECTION(POINT(1 1),LINESTRING(0 0,1 1),MULTIPOINT(2 3,4 5))",
        "GEOMETRYCOLLECTION EMPTY"};
    int id = 0;
    for (const char* s : shapes)
        db.exec(QStringLiteral("insert into g values (%1, ST_GeomFromText('%2', 4326))").arg(++id).arg(s));
    const auto rows = db.session().rows("select id, v, ST_AsText(v) from g order by id");
    ASSERT_EQ(rows.size(), id);
    for (const auto& r : rows) {
        ASSERT_FALSE(r[2].isEmpty()) << r[0].constData();
        bool ok = false;
        EXPECT_EQ(geometryToText(r[1], &ok), QString::fromUtf8(r[2])) << r[0].constData();
        EXPECT_TRUE(ok) << r[0].constData() << " " << r[1].toHex().constData();
    }
}
