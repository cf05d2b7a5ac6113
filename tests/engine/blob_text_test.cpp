#include "engine/blob_text.h"
#include "engine/rtf_text.h"

#include <gtest/gtest.h>

using namespace ferrowane;

namespace {
QString rtf(const char* text) { return rtfToText(QByteArray(text)); }
}

TEST(RtfText, PlainParagraphsAndTabs)
{
    EXPECT_EQ(rtf("{\\rtf1\\ansi\\deff0 Hello\\par World\\tab end}"),
              QStringLiteral("Hello\r\nWorld\tend"));
    EXPECT_EQ(rtf("{\\rtf1 a\\line b}"), QStringLiteral("a\r\nb"));
}

TEST(RtfText, TablesAndInfoAreNotText)
{
    const char* doc =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}{\\f1 Courier New;}}"
        "{\\colortbl ;\\red255\\green0\\blue0;}{\\stylesheet{\\s0 Normal;}}"
        "{\\info{\\title Secret title}{\\author Someone}}"
        "{\\*\\generator Msftedit 5.41;}\\viewkind4\\uc1\\pard\\f0\\fs20 Body {\\b bold} text\\par}";
    EXPECT_EQ(rtf(doc), QStringLiteral("Body bold text\r\n"));
}

TEST(RtfText, IgnorableDestinationsAndPictures)
{
    EXPECT_EQ(rtf("{\\rtf1 A{\\*\\unknowndest hidden {nested}}B}"), QStringLiteral("AB"));
    EXPECT_EQ(rtf("{\\rtf1 x{\\pict\\wmetafile8 0123456789abcdef}y}"), QStringLiteral("xy"));
    // A field shows its result, not its instruction.
    EXPECT_EQ(rtf("{\\rtf1 {\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link}} after}"),
              QStringLiteral("link after"));
}

TEST(RtfText, HexEscapesUseTheDocumentCodePage)
{
    EXPECT_EQ(rtf("{\\rtf1\\ansi caf\\'e9 \\'80}"), QStringLiteral("caf\u00e9 \u20ac"));
    // Cyrillic in code page 1251.
    EXPECT_EQ(rtf("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}"), QStringLiteral("\u041f\u0440\u0438"));
    // Double-byte code page: the two bytes of one character come in two escapes.
    EXPECT_EQ(rtf("{\\rtf1\\ansi\\ansicpg932 \\'93\\'fa}"), QStringLiteral("\u65e5"));
}

TEST(RtfText, UnicodeWithFallbackSkipping)
{
    // \uc1 (default): one fallback character after each \u.
    EXPECT_EQ(rtf("{\\rtf1 \\u8364?x}"), QStringLiteral("\u20acx"));
    // Negative values are UTF-16 units above 32767; a fallback given as \'hh counts as one.
    EXPECT_EQ(rtf("{\\rtf1 \\u-3851\\'3f!}"), QString(QChar(char16_t(65536 - 3851))) + "!");
    // \uc2 skips two; \uc0 none.
    EXPECT_EQ(rtf("{\\rtf1\\uc2 \\u1071\\'3f\\'3fA}"), QStringLiteral("\u042fA"));
    EXPECT_EQ(rtf("{\\rtf1\\uc0 \\u1071 A}"), QStringLiteral("\u042fA"));
    // \uc is per group.
    EXPECT_EQ(rtf("{\\rtf1 {\\uc2 \\u1071??}\\u1071?B}"), QStringLiteral("\u042f\u042fB"));
    // A surrogate pair.
    EXPECT_EQ(rtf("{\\rtf1 \\u-10179?\\u-8704?}"), QString::fromUcs4(U"\U0001F600"));
}

TEST(RtfText, EscapedCharactersAndSymbols)
{
    EXPECT_EQ(rtf("{\\rtf1 \\{a\\}\\\\b}"), QStringLiteral("{a}\\b"));
    EXPECT_EQ(rtf("{\\rtf1 a\\~b\\-c \\emdash\\bullet}"), QStringLiteral("a\u00a0bc \u2014\u2022"));
    EXPECT_EQ(rtf("{\\rtf1 \\lquote x\\rquote \\ldblquote y\\rdblquote}"),
              QStringLiteral("\u2018x\u2019\u201cy\u201d"));
}

TEST(RtfText, LineBreaksInSourceAreNotText)
{
    EXPECT_EQ(rtf("{\\rtf1 one\r\ntwo\\par\r\nthree}"), QStringLiteral("onetwo\r\nthree"));
}

TEST(RtfText, BinaryDataIsSkipped)
{
    QByteArray doc("{\\rtf1 a{\\pict\\bin4 ");
    doc.append(QByteArray("\x7b\x7d\\\x00", 4));
    doc.append("}b}");
    EXPECT_EQ(rtfToText(doc), QStringLiteral("ab"));
    // \bin outside a picture is skipped too.
    QByteArray doc2("{\\rtf1 a\\bin3 {}}b}");
    EXPECT_EQ(rtfToText(doc2), QStringLiteral("ab"));
}

TEST(RtfText, BrokenDocumentsGiveWhatWasRead)
{
    EXPECT_EQ(rtf("{\\rtf1 unfinished \\par more"), QStringLiteral("unfinished \r\nmore"));
    EXPECT_EQ(rtf("{\\rtf1 extra}} close}"), QStringLiteral("extra close"));
    EXPECT_EQ(rtf("{\\rtf1 trailing\\"), QStringLiteral("trailing"));
    EXPECT_EQ(rtf("{\\rtf1 bad hex \\'zz}"), QStringLiteral("bad hex zz"));
    EXPECT_EQ(rtf("{\\rtf1 \\u99999999999999999999?x}").size(), 2);
}

TEST(BlobText, EmptyGivesEmptyText)
{
    EXPECT_TRUE(blobToText(QByteArray()).isEmpty());
    EXPECT_TRUE(blobToText(QByteArray("")).isEmpty());
}

TEST(BlobText, RtfIsDecoded)
{
    EXPECT_EQ(blobToText("{\\rtf1\\ansi Hi\\par}"), QStringLiteral("Hi\r\n"));
    // Not RTF unless it starts so.
    EXPECT_EQ(blobToText(" {\\rtf1 x}"), QStringLiteral(" {\\rtf1 x}"));
}

TEST(BlobText, ByteOrderMarks)
{
    EXPECT_EQ(blobToText("\xEF\xBB\xBFh\xC3\xA9"), QStringLiteral("h\u00e9"));
    EXPECT_EQ(blobToText(QByteArray("\xFF\xFEh\x00\xe9\x00", 6)), QStringLiteral("h\u00e9"));
    EXPECT_EQ(blobToText(QByteArray("\xFE\xFF\x00h\x04\x2f", 6)), QStringLiteral("h\u042f"));
}

TEST(BlobText, Utf8ElseWindows1252)
{
    EXPECT_EQ(blobToText("plain ascii"), QStringLiteral("plain ascii"));
    EXPECT_EQ(blobToText("\xE2\x82\xAC 5"), QStringLiteral("\u20ac 5"));
    // Not valid UTF-8: every byte is a Windows-1252 character.
    EXPECT_EQ(blobToText("\x80 caf\xE9"), QStringLiteral("\u20ac caf\u00e9"));
    EXPECT_EQ(blobToText("\x81\x8D\x8F\x90\x9D"), QStringLiteral("\u0081\u008d\u008f\u0090\u009d"));
    // Overlong forms and encoded surrogates are not UTF-8.
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));
    EXPECT_FALSE(isValidUtf8("\xE2\x82"));  // cut short
    EXPECT_TRUE(isValidUtf8("\xF0\x9F\x98\x80"));
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
}
