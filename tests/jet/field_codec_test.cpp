// Decimal and currency fields: the quick reading of plain decimal texts must
// encode exactly as the general parser does, and numbers too large for the
// column are refused, never wrapped.
#include "jet/error.h"
#include "jet/field_codec.h"

#include <gtest/gtest.h>

using namespace jet;

namespace {

ColumnDef numeric(int precision, int scale)
{
    ColumnDef c;
    c.name = "n";
    c.type = ColumnType::Numeric;
    c.precision = uint8_t(precision);
    c.scale = uint8_t(scale);
    c.flags = kColFixed;
    c.length = 17;
    return c;
}

ColumnDef currency()
{
    ColumnDef c;
    c.name = "c";
    c.type = ColumnType::Currency;
    c.flags = kColFixed;
    c.length = 8;
    return c;
}

std::vector<uint8_t> bytesOf(const ColumnDef& c, const Value& v)
{
    return encodeField(jet4Format(), c, v).bytes;
}

}  // namespace

TEST(FieldCodecDecimal, PlainTextsEncodeAsTheGeneralParserDoes)
{
    // A leading blank sends the same number through the general parser.
    for (const ColumnDef& c : {numeric(10, 2), numeric(28, 0), numeric(28, 28), currency()}) {
        for (const char* text : {"0", "-0", "1.5", "-12.25", "0.05", "007.10", "5.", ".5",
                                 "99999999.99", "-0.0000000000000000000000000001", "12345678901234567890123456789",
                                 "9999999999999999999999999999", "922337203685477.5807", "-922337203685477.5808",
                                 "1.23456", "0.99999"}) {
            SCOPED_TRACE(c.name + "(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ") " + text);
            std::vector<uint8_t> plain, general;
            std::string plainError, generalError;
            try {
                plain = bytesOf(c, Value::decimal(text));
            } catch (const Error& e) {
                plainError = e.what();
            }
            try {
                general = bytesOf(c, Value::decimal(std::string(" ") + text));
            } catch (const Error& e) {
                generalError = e.what();
            }
            EXPECT_EQ(plain, general);
            EXPECT_EQ(plainError, generalError);
        }
    }
}

TEST(FieldCodecDecimal, IntegerBeyondAnyPrecisionIsRefused)
{
    // 9.2e18 scaled by 10^28 passes 128 bits; it must not wrap into a small number.
    const ColumnDef c = numeric(28, 28);
    EXPECT_THROW(bytesOf(c, Value::integer(INT64_MAX)), Error);
    EXPECT_THROW(bytesOf(c, Value::integer(INT64_MIN)), Error);
    EXPECT_THROW(bytesOf(c, Value::integer(1)), Error);  // 1 has a whole digit, the column none
    EXPECT_EQ(bytesOf(c, Value::integer(0)), bytesOf(c, Value::decimal("0")));
    const ColumnDef wide = numeric(28, 8);
    EXPECT_EQ(bytesOf(wide, Value::integer(-123)), bytesOf(wide, Value::decimal("-123.00000000")));
}
