// The shortcuts that read common values straight from the server's bytes must
// give exactly what the general path gives (convertValue, then the row set's
// field), or step aside. Each case runs both ways on a real Jet table and
// compares the values and the encoded bytes.
#include "engine/access_provider.h"
#include "engine/field_encoder.h"
#include "engine/value_convert.h"

#include "jet/database.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <mysql.h>

using namespace ferrowane;

namespace {

struct Case {
    const char* column;   // the target column
    SourceKind kind;
    int mysqlType;
    QByteArray raw;       // what the server sent; a null array for NULL
    bool expectFast;      // whether the shortcut should take it
};

// The value as the client library's result gives it to the general path.
QVariant variantOf(const Case& c)
{
    if (c.raw.isNull())
        return QVariant();
    switch (c.mysqlType) {
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_LONGLONG:
        return QVariant(c.raw.toLongLong());
    case MYSQL_TYPE_DOUBLE:
    case MYSQL_TYPE_FLOAT:
        return QVariant(c.raw.toDouble());
    default:
        return QVariant(QString::fromUtf8(c.raw));
    }
}

class FastPath : public ::testing::TestWithParam<jet::Version> {
protected:
    void SetUp() override
    {
        jet4 = GetParam() == jet::Version::Jet4;
        path = dir.filePath("fast.mdb");
        jet::Database::create(path.toStdString(), GetParam());
        connection.setConnectionString(AccessConnection::connectionStringFor(path));
        connection.open();
        connection.execute(
            QStringLiteral("Create table [T] ([l] int , [d] double , [s] single , [t5] text(5) , [m] Memo , "
                           "[dt] Date , [c] currency%1)")
                .arg(jet4 ? " , [d102] decimal(10,2) , [d280] decimal(28,0) , [d2828] decimal(28,28)" : ""));
        dataset = std::make_unique<AccessDataset>(connection);
        dataset->setCommandText("select * from [T] where 1=0");
        dataset->open();
        encoder = FieldEncoder(*dataset);
    }

    void check(const Case& c)
    {
        SCOPED_TRACE(std::string(c.column) + " <- " + (c.raw.isNull() ? "NULL" : c.raw.toStdString()));
        const int field = dataset->fieldIndex(QString::fromLatin1(c.column));
        ASSERT_GE(field, 0);
        const int pos = dataset->fields().at(field).position;
        RawSource source;
        source.kind = c.kind;
        source.mysqlType = c.mysqlType;
        source.utf8Text = true;
        source.asciiText = true;
        PreparedRow fast, general;
        encoder.clear(fast);
        encoder.clear(general);
        const bool tookFast =
            encoder.setRaw(fast, field, source, c.raw.isNull() ? QByteArrayView() : QByteArrayView(c.raw));
        EXPECT_EQ(tookFast, c.expectFast);

        const Converted converted = convertValue(c.kind, variantOf(c), encoder.column(field));
        QString error;
        try {
            encoder.set(general, field, converted.value);
        } catch (const AccessError& e) {
            error = e.message();
        }
        if (!tookFast) {
            EXPECT_TRUE(fast.values[size_t(pos)].isNull());
            EXPECT_TRUE(fast.fields[size_t(pos)].null);
            return;
        }
        // Taken only when nothing is lost, and then the same value and bytes.
        EXPECT_TRUE(converted.loss.isEmpty()) << converted.loss.toStdString();
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        EXPECT_EQ(fast.values[size_t(pos)], general.values[size_t(pos)]);
        EXPECT_EQ(fast.fields[size_t(pos)].null, general.fields[size_t(pos)].null);
        EXPECT_EQ(fast.fields[size_t(pos)].bytes, general.fields[size_t(pos)].bytes);
    }

    bool jet4 = false;
    QTemporaryDir dir;
    QString path;
    AccessConnection connection;
    std::unique_ptr<AccessDataset> dataset;
    FieldEncoder encoder;
};

constexpr SourceKind N = SourceKind::Number;

TEST_P(FastPath, WholeNumbers)
{
    for (const Case& c : {Case{"l", N, MYSQL_TYPE_LONG, "2147483647", true},
                          Case{"l", N, MYSQL_TYPE_LONG, "-2147483648", true},
                          Case{"l", N, MYSQL_TYPE_LONGLONG, "2147483648", false},
                          Case{"l", N, MYSQL_TYPE_LONGLONG, "-9223372036854775808", false},
                          Case{"l", N, MYSQL_TYPE_LONG, "0", true},
                          Case{"l", N, MYSQL_TYPE_LONG, QByteArray(), true},
                          Case{"l", N, MYSQL_TYPE_NEWDECIMAL, "12.00", false},
                          Case{"d", N, MYSQL_TYPE_LONGLONG, "9007199254740992", true},
                          Case{"d", N, MYSQL_TYPE_LONGLONG, "-9007199254740992", true},
                          Case{"d", N, MYSQL_TYPE_LONGLONG, "9007199254740993", false}})
        check(c);
}

TEST_P(FastPath, FloatingPoint)
{
    for (const Case& c : {Case{"d", N, MYSQL_TYPE_DOUBLE, "1.7976931348623157e308", true},
                          Case{"d", N, MYSQL_TYPE_DOUBLE, "-0", true},
                          Case{"d", N, MYSQL_TYPE_DOUBLE, "2.2250738585072014e-308", true},
                          Case{"d", N, MYSQL_TYPE_DOUBLE, "0.1", true},
                          Case{"d", N, MYSQL_TYPE_NEWDECIMAL, "0.1", false},
                          Case{"s", N, MYSQL_TYPE_FLOAT, "1.1", true},
                          Case{"s", N, MYSQL_TYPE_FLOAT, "3.40282e38", true},
                          Case{"s", N, MYSQL_TYPE_DOUBLE, "1e300", false},
                          Case{"s", N, MYSQL_TYPE_DOUBLE, "0.1234567890123", true},
                          Case{"s", N, MYSQL_TYPE_DOUBLE, "1e-45", false}})
        check(c);
}

TEST_P(FastPath, DecimalsAtTheirLimits)
{
    std::vector<Case> cases = {
        // Currency: 14 whole digits always fit; more takes the long way.
        Case{"c", N, MYSQL_TYPE_NEWDECIMAL, "99999999999999.9999", true},
        Case{"c", N, MYSQL_TYPE_NEWDECIMAL, "-99999999999999.9999", true},
        Case{"c", N, MYSQL_TYPE_NEWDECIMAL, "922337203685477.5807", false},
        Case{"c", N, MYSQL_TYPE_NEWDECIMAL, "1.23456", false},
        Case{"c", N, MYSQL_TYPE_NEWDECIMAL, "-0.0000", true},
        Case{"c", N, MYSQL_TYPE_LONG, "-7", true},
    };
    if (jet4) {
        const Case more[] = {
            Case{"d102", N, MYSQL_TYPE_NEWDECIMAL, "99999999.99", true},
            Case{"d102", N, MYSQL_TYPE_NEWDECIMAL, "-99999999.99", true},
            Case{"d102", N, MYSQL_TYPE_NEWDECIMAL, "100000000.00", false},
            Case{"d102", N, MYSQL_TYPE_NEWDECIMAL, "-0.00", true},
            Case{"d102", N, MYSQL_TYPE_NEWDECIMAL, "0.05", true},
            Case{"d102", N, MYSQL_TYPE_NEWDECIMAL, "007.1", true},
            Case{"d102", N, MYSQL_TYPE_NEWDECIMAL, "5.", true},
            Case{"d102", N, MYSQL_TYPE_NEWDECIMAL, ".5", true},
            Case{"d102", N, MYSQL_TYPE_NEWDECIMAL, "1.005", false},
            Case{"d102", N, MYSQL_TYPE_NEWDECIMAL, "1.000", false},
            Case{"d102", N, MYSQL_TYPE_NEWDECIMAL, "+1.00", false},
            Case{"d102", N, MYSQL_TYPE_NEWDECIMAL, "-", false},
            Case{"d102", N, MYSQL_TYPE_NEWDECIMAL, "", false},
            Case{"d102", N, MYSQL_TYPE_NEWDECIMAL, "1e3", false},
            Case{"d102", N, MYSQL_TYPE_DOUBLE, "1.5", false},
            Case{"d280", N, MYSQL_TYPE_NEWDECIMAL, "9999999999999999999999999999", true},
            Case{"d280", N, MYSQL_TYPE_NEWDECIMAL, "-9999999999999999999999999999", true},
            Case{"d280", N, MYSQL_TYPE_NEWDECIMAL, "10000000000000000000000000000", false},
            Case{"d280", N, MYSQL_TYPE_LONGLONG, "-9223372036854775808", true},
            Case{"d2828", N, MYSQL_TYPE_NEWDECIMAL, "0.9999999999999999999999999999", true},
            Case{"d2828", N, MYSQL_TYPE_NEWDECIMAL, "-0.0000000000000000000000000001", true},
            Case{"d2828", N, MYSQL_TYPE_NEWDECIMAL, "1.0000000000000000000000000000", false},
        };
        cases.insert(cases.end(), std::begin(more), std::end(more));
    }
    for (const Case& c : cases)
        check(c);
}

TEST_P(FastPath, Dates)
{
    const SourceKind D = SourceKind::Date;
    for (const Case& c : {Case{"dt", D, MYSQL_TYPE_DATETIME, "2020-01-01 12:34:56", true},
                          Case{"dt", D, MYSQL_TYPE_DATETIME, "2020-01-01 12:34:56.500000", true},
                          Case{"dt", D, MYSQL_TYPE_DATE, "1899-12-29", true},
                          Case{"dt", D, MYSQL_TYPE_DATETIME, "1899-12-29 23:59:59", true},
                          Case{"dt", D, MYSQL_TYPE_DATETIME, "1899-12-30 00:00:00", true},
                          Case{"dt", D, MYSQL_TYPE_DATETIME, "0100-01-01 00:00:00", true},
                          Case{"dt", D, MYSQL_TYPE_DATETIME, "9999-12-31 23:59:59", true},
                          Case{"dt", D, MYSQL_TYPE_DATETIME, "0000-00-00 00:00:00", false},  // counted
                          Case{"dt", D, MYSQL_TYPE_DATETIME, "9999-12-31 23:59:59.999999", true},
                          Case{"dt", D, MYSQL_TYPE_DATETIME, "0099-12-31 00:00:00", false},
                          Case{"dt", D, MYSQL_TYPE_DATETIME, "2020-02-30 00:00:00", false},
                          Case{"dt", D, MYSQL_TYPE_DATETIME, "2020-01-01T00:00:00", false},
                          Case{"dt", SourceKind::Time, MYSQL_TYPE_TIME, "12:00:00", false}})
        check(c);
}

TEST_P(FastPath, Texts)
{
    const SourceKind T = SourceKind::Text;
    const int V = MYSQL_TYPE_VAR_STRING;
    for (const Case& c : {Case{"t5", T, V, "hello", true},
                          Case{"t5", T, V, "hello!", false},
                          Case{"t5", T, V, "", true},
                          // Beyond ASCII only Jet 4 takes UTF-8 as it is.
                          Case{"t5", T, V, "h\xC3\xA9llo", jet4},
                          Case{"t5", T, V, "\xF0\x9F\x98\x80" "abc", jet4},
                          Case{"t5", T, V, "\xF0\x9F\x98\x80" "abcd", false},
                          Case{"t5", T, V, QByteArray("a\0b", 3), false},
                          Case{"t5", T, V, "\xEF\xBB\xBF" "ab", false},
                          Case{"t5", T, V, "\xEF\xBF\xBF", false},
                          Case{"t5", T, V, "\xC3", false},
                          Case{"t5", T, V, "\xC0\xAF", false},
                          Case{"t5", T, V, "\xED\xA0\x80", false},
                          Case{"t5", T, V, "\xF4\x90\x80\x80", false},
                          Case{"m", T, MYSQL_TYPE_BLOB, QByteArray(5000, 'x'), true},
                          Case{"m", T, MYSQL_TYPE_BLOB, QByteArray("\xE4\xB8\xAD"), jet4},
                          Case{"t5", SourceKind::Blob, MYSQL_TYPE_BLOB, "abc", false},
                          Case{"l", T, V, "12", false}})
        check(c);
}

INSTANTIATE_TEST_SUITE_P(Formats, FastPath, ::testing::Values(jet::Version::Jet3, jet::Version::Jet4));

TEST(FastPathHelpers, PlainTextLengthCountsUtf16Units)
{
    EXPECT_EQ(plainTextLength("abc", true), 3);
    EXPECT_EQ(plainTextLength("\xC3\xA9", true), -1);
    EXPECT_EQ(plainTextLength("\xC3\xA9", false), 1);
    EXPECT_EQ(plainTextLength("\xE4\xB8\xAD", false), 1);
    EXPECT_EQ(plainTextLength("\xF0\x9F\x98\x80", false), 2);
    EXPECT_EQ(plainTextLength("\xF0\x9F\xBF\xBE", false), -1);  // U+1FFFE
    EXPECT_EQ(plainTextLength("\xEF\xB7\x90", false), -1);      // U+FDD0
    EXPECT_EQ(plainTextLength("\xE0\x80\xAF", false), -1);      // overlong
    EXPECT_EQ(plainTextLength("\xF0\x9F\x98", false), -1);      // cut short
    EXPECT_EQ(plainTextLength("", false), 0);
}

}  // namespace
