#include "jet/index_key.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace jet;

namespace {

std::vector<std::uint8_t> hex(const char* s)
{
    std::vector<std::uint8_t> out;
    unsigned v;
    int n;
    while (std::sscanf(s, " %2x%n", &v, &n) == 1) {
        out.push_back(static_cast<std::uint8_t>(v));
        s += n;
    }
    return out;
}

template <class T> std::vector<std::uint8_t> le(T v)
{
    std::vector<std::uint8_t> b(sizeof(T));
    std::memcpy(b.data(), &v, sizeof(T));
    return b;
}

std::vector<std::uint8_t> key1(Version f, ColumnType t, bool asc, const KeyValue& v)
{
    std::vector<std::uint8_t> out;
    appendKeyColumn(out, f, KeyColumn{t, asc}, v);
    return out;
}

}  // namespace

TEST(IndexKeyText, TablesInBothFormats)
{
    EXPECT_EQ(textKey(Version::Jet3, u"Tables"), hex("77 60 61 6D 66 76 00"));
    EXPECT_EQ(textKey(Version::Jet4, u"Tables"), hex("6D 4A 4C 5E 51 6B 01 00"));
}

TEST(IndexKeyText, TrailingBlanksAndLengthCut)
{
    EXPECT_EQ(textKey(Version::Jet4, u"Tables   "), textKey(Version::Jet4, u"Tables"));
    EXPECT_EQ(textKey(Version::Jet3, u"Tables "), textKey(Version::Jet3, u"Tables"));
    // Leading blanks count.
    EXPECT_NE(textKey(Version::Jet4, u" Tables"), textKey(Version::Jet4, u"Tables"));
    std::u16string longText(300, u'a');
    std::u16string cut(255, u'a');
    EXPECT_EQ(textKey(Version::Jet4, longText), textKey(Version::Jet4, cut));
    EXPECT_NE(textKey(Version::Jet4, cut), textKey(Version::Jet4, std::u16string(254, u'a')));
    // Blanks are removed after the cut: 250 letters then blanks.
    std::u16string blanks = std::u16string(250, u'a') + std::u16string(20, u' ') + u"b";
    EXPECT_EQ(textKey(Version::Jet4, blanks), textKey(Version::Jet4, std::u16string(250, u'a')));
}

TEST(IndexKeyText, EmptyText)
{
    EXPECT_EQ(textKey(Version::Jet4, u""), hex("01 00"));
    EXPECT_EQ(textKey(Version::Jet3, u""), hex("00"));
    EXPECT_EQ(textKey(Version::Jet4, u"", false), hex("FE FF 00"));
    EXPECT_EQ(textKey(Version::Jet3, u"", false), hex("FF"));
}

TEST(IndexKeyText, CaseInsensitive)
{
    EXPECT_EQ(textKey(Version::Jet4, u"TABLES"), textKey(Version::Jet4, u"tables"));
    EXPECT_EQ(textKey(Version::Jet3, u"TABLES"), textKey(Version::Jet3, u"tables"));
}

TEST(IndexKeyNumbers, IntegersAscendingDescending)
{
    EXPECT_EQ(key1(Version::Jet4, ColumnType::Long, true, KeyValue::fixed(le<std::int32_t>(1))),
              hex("7F 80 00 00 01"));
    EXPECT_EQ(key1(Version::Jet4, ColumnType::Long, true, KeyValue::fixed(le<std::int32_t>(-1))),
              hex("7F 7F FF FF FF"));
    EXPECT_EQ(key1(Version::Jet4, ColumnType::Long, false, KeyValue::fixed(le<std::int32_t>(1))),
              hex("80 7F FF FF FE"));
    EXPECT_EQ(key1(Version::Jet3, ColumnType::Integer, true, KeyValue::fixed(le<std::int16_t>(-32768))),
              hex("7F 00 00"));
    EXPECT_EQ(key1(Version::Jet4, ColumnType::Byte, true, KeyValue::fixed(le<std::uint8_t>(200))),
              hex("7F C8"));
    EXPECT_EQ(key1(Version::Jet4, ColumnType::Byte, false, KeyValue::fixed(le<std::uint8_t>(200))),
              hex("80 37"));
    EXPECT_EQ(key1(Version::Jet4, ColumnType::Currency, true, KeyValue::fixed(le<std::int64_t>(10000))),
              hex("7F 80 00 00 00 00 00 27 10"));
}

TEST(IndexKeyNumbers, FloatingPointOrder)
{
    std::vector<double> values = {-1e300, -2.5, -0.0001, 0.0, 1e-10, 3.0, 1e300};
    for (bool asc : {true, false}) {
        std::vector<std::vector<std::uint8_t>> keys;
        for (double d : values)
            keys.push_back(key1(Version::Jet4, ColumnType::Double, asc, KeyValue::fixed(le(d))));
        for (std::size_t i = 1; i < keys.size(); ++i) {
            if (asc)
                EXPECT_LT(keys[i - 1], keys[i]) << i;
            else
                EXPECT_GT(keys[i - 1], keys[i]) << i;
        }
    }
    EXPECT_EQ(key1(Version::Jet4, ColumnType::Single, true, KeyValue::fixed(le(1.0f))),
              hex("7F BF 80 00 00"));
}

TEST(IndexKeyNumbers, IntegerOrderMatchesValueOrder)
{
    std::vector<std::int16_t> values = {-32768, -300, -1, 0, 1, 255, 256, 32767};
    for (bool asc : {true, false}) {
        for (std::size_t i = 1; i < values.size(); ++i) {
            auto a = key1(Version::Jet3, ColumnType::Integer, asc, KeyValue::fixed(le(values[i - 1])));
            auto b = key1(Version::Jet3, ColumnType::Integer, asc, KeyValue::fixed(le(values[i])));
            EXPECT_EQ(a < b, asc) << values[i];
        }
    }
}

TEST(IndexKeyOther, NullsAndBooleans)
{
    EXPECT_EQ(key1(Version::Jet4, ColumnType::Long, true, KeyValue::null()), hex("00"));
    EXPECT_EQ(key1(Version::Jet4, ColumnType::Text, false, KeyValue::null()), hex("FF"));
    EXPECT_EQ(key1(Version::Jet4, ColumnType::Boolean, true, KeyValue::boolean(true)), hex("7F 00"));
    EXPECT_EQ(key1(Version::Jet4, ColumnType::Boolean, true, KeyValue::boolean(false)), hex("7F FF"));
    EXPECT_EQ(key1(Version::Jet4, ColumnType::Boolean, false, KeyValue::boolean(true)), hex("80 FF"));
    EXPECT_EQ(key1(Version::Jet4, ColumnType::Boolean, true, KeyValue::null()), hex("7F FF"));
}

TEST(IndexKeyOther, BinarySegments)
{
    std::vector<std::uint8_t> b = {1, 2, 3};
    EXPECT_EQ(key1(Version::Jet4, ColumnType::Binary, true, KeyValue::ofBytes(b)),
              hex("7F 01 02 03 00 00 00 00 00 03"));
    EXPECT_EQ(key1(Version::Jet4, ColumnType::Binary, false, KeyValue::ofBytes(b)),
              hex("80 FE FD FC FF FF FF FF FF FC"));
    std::vector<std::uint8_t> ten = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(key1(Version::Jet4, ColumnType::Binary, false, KeyValue::ofBytes(ten)),
              hex("80 FE FD FC FB FA F9 F8 F7 09 F6 F5 FF FF FF FF FF FF FD"));
    EXPECT_EQ(key1(Version::Jet4, ColumnType::Binary, true, KeyValue::ofBytes({})), hex("7F"));
}

TEST(IndexKeyOther, GuidIsBigEndianGroups)
{
    // {01020304-0506-0708-090A-0B0C0D0E0F10} as stored in a row.
    std::vector<std::uint8_t> row = {4, 3, 2, 1, 6, 5, 8, 7, 9, 10, 11, 12, 13, 14, 15, 16};
    EXPECT_EQ(key1(Version::Jet4, ColumnType::Guid, true, KeyValue::fixed(row)),
              hex("7F 01 02 03 04 05 06 07 08 09 09 0A 0B 0C 0D 0E 0F 10 08"));
}

TEST(IndexKeyOther, BadValuesAreRejected)
{
    std::vector<std::uint8_t> three = {1, 2, 3};
    EXPECT_THROW(key1(Version::Jet4, ColumnType::Long, true, KeyValue::fixed(three)), Error);
    EXPECT_THROW(key1(Version::Jet4, ColumnType::Ole, true, KeyValue::ofBytes(three)), Error);
    EXPECT_THROW(key1(Version::Jet4, ColumnType::Text, true, KeyValue::ofBytes(three)), Error);
    std::vector<std::uint8_t> dec(17, 0);
    EXPECT_THROW(key1(Version::Jet3, ColumnType::Numeric, true, KeyValue::fixed(dec)), Error);
}

TEST(IndexKeyOther, CompositeCatalogKey)
{
    // ParentIdName of a catalog row: ParentId 0x0F000000, Name "Tables".
    std::vector<KeyColumn> cols = {{ColumnType::Long, true}, {ColumnType::Text, true}};
    auto pid = le<std::int32_t>(0x0F000000);
    std::vector<KeyValue> vals = {KeyValue::fixed(pid), KeyValue::ofText(u"Tables")};
    EXPECT_EQ(encodeKey(Version::Jet4, cols, vals), hex("7F 8F 00 00 00 7F 6D 4A 4C 5E 51 6B 01 00"));
}

TEST(IndexKeyText, DictionaryOrderInBothFormats)
{
    // Letters first by base letter, accents only break ties, case never.
    const std::vector<std::u16string> ordered = {u"a", u"á", u"ab", u"b", u"e", u"é", u"ez", u"f", u"zz"};
    for (Version f : {Version::Jet3, Version::Jet4}) {
        for (std::size_t i = 1; i < ordered.size(); ++i)
            EXPECT_LT(textKey(f, ordered[i - 1]), textKey(f, ordered[i])) << int(f) << " " << i;
        // Descending keys sort the other way round.
        for (std::size_t i = 1; i < ordered.size(); ++i)
            EXPECT_GT(textKey(f, ordered[i - 1], false), textKey(f, ordered[i], false)) << int(f) << " " << i;
        EXPECT_EQ(textKey(f, u"ÉCLAIR"), textKey(f, u"éclair"));
    }
}

TEST(IndexKeyText, CharactersBeyondLatinAreKept)
{
    // CJK, a character outside the basic plane (a surrogate pair) and a
    // control character all change the key, and keys stay well formed.
    const std::u16string base = u"ab";
    for (const std::u16string& extra : {std::u16string(u"東京"), std::u16string(u"\U0001F600"), std::u16string(u"\u0001")}) {
        auto k = textKey(Version::Jet4, base + extra);
        EXPECT_NE(k, textKey(Version::Jet4, base));
        EXPECT_EQ(k.back(), 0x00);
    }
    // Different characters outside the basic plane give different keys.
    EXPECT_NE(textKey(Version::Jet4, u"\U0001F600"), textKey(Version::Jet4, u"\U0001F601"));
    // Jet 3 keeps only what code page 1252 can hold: the euro sign maps to
    // its code page byte, characters beyond it are ignored.
    EXPECT_NE(textKey(Version::Jet3, u"a€"), textKey(Version::Jet3, u"a"));
    EXPECT_EQ(textKey(Version::Jet3, u"a東"), textKey(Version::Jet3, u"a"));
}
