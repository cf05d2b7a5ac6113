#include "engine/charset_codec.h"
#include "engine/conversion_settings.h"

#include <gtest/gtest.h>

using namespace ferrowane;

TEST(ConversionSettings, DefaultsOfAFirstStart)
{
    const ConversionSettings s;
    EXPECT_EQ(s.accessmode, 0);
    EXPECT_EQ(s.port, "3306");
    EXPECT_EQ(s.character_set, "Default");
    EXPECT_EQ(s.accessformat, 0);
    EXPECT_EQ(s.processtable, 0);
    EXPECT_FALSE(s.tabledefonly);
    EXPECT_FALSE(s.skipindex);
    EXPECT_FALSE(s.blobtotext);
    EXPECT_FALSE(s.nameuppercase);
    EXPECT_TRUE(s.accessfilename.isEmpty());
    EXPECT_TRUE(s.mysqldatabase.isEmpty());
    EXPECT_TRUE(s.tables.isEmpty());
}

TEST(ConversionSettings, FlagIsSetOnlyByExactlyOne)
{
    EXPECT_TRUE(decodeFlag("1"));
    for (const char* text : {"0", "", "true", "True", " 1", "1 ", "01", "yes", "-1", "2"})
        EXPECT_FALSE(decodeFlag(QString::fromLatin1(text))) << '"' << text << '"';
    EXPECT_FALSE(decodeFlag(QString()));
    EXPECT_EQ(encodeFlag(true), "1");
    EXPECT_EQ(encodeFlag(false), "0");
}

TEST(ConversionSettings, ChoiceIsItsDecimalPosition)
{
    EXPECT_EQ(encodeChoice(0), "0");
    EXPECT_EQ(encodeChoice(2), "2");
    EXPECT_EQ(decodeChoice("0"), 0);
    EXPECT_EQ(decodeChoice("2"), 2);
    // Out of range still decodes; the caller decides how to show it.
    EXPECT_EQ(decodeChoice("-3"), -3);
    EXPECT_EQ(decodeChoice("7"), 7);
}

TEST(ConversionSettings, ChoiceThatIsNoDecimalIntegerIsReported)
{
    for (const char* text : {"abc", "", " 1", "1 ", "-", "+", "1.0", "0x1", "1e3", "99999999999"})
        EXPECT_FALSE(decodeChoice(QString::fromLatin1(text)).has_value()) << '"' << text << '"';
    EXPECT_FALSE(decodeChoice(QString()).has_value());
}

TEST(ConversionSettings, CharacterSetList)
{
    const QStringList& names = characterSetNames();
    ASSERT_EQ(names.size(), 38);
    EXPECT_EQ(names.first(), "Default");
    EXPECT_EQ(names[25], "latin1");
    EXPECT_EQ(names[36], "utf8");
    EXPECT_EQ(names.last(), "utf8mb4");  // after the older entries, whose stored positions stay
    EXPECT_EQ(characterSetPosition("utf8"), 36);
    EXPECT_EQ(characterSetPosition("Default"), 0);
    EXPECT_EQ(characterSetPosition("UTF8"), -1);  // names match exactly
    EXPECT_EQ(characterSetPosition("utf8mb4"), 37);
    EXPECT_EQ(characterSetPosition("UTF8MB4"), -1);
    QStringList distinct = names;
    EXPECT_EQ(distinct.removeDuplicates(), 0);
}

TEST(ConversionSettings, EveryListedCharacterSetHasARealEncoding)
{
    const QStringList& names = characterSetNames();
    for (int i = 1; i < names.size(); ++i) {
        EXPECT_TRUE(CharsetCodec::isKnown(names[i])) << names[i].toStdString();
        EXPECT_NO_THROW(CharsetCodec codec(names[i])) << names[i].toStdString();
    }
    EXPECT_FALSE(CharsetCodec::isKnown("Default"));
}
