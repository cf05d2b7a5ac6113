#include "engine/charset_codec.h"
#include "engine/conversion_settings.h"
#include "tests/engine/test_mysql_env.h"

#include <gtest/gtest.h>

using namespace ferrowane;
using ferrowane::testing::AdminSession;

namespace {

bool isSingleByte(const QString& name)
{
    static const QStringList multi = {"big5", "binary", "cp932", "eucjpms", "euckr", "gb2312",
                                      "gbk",  "sjis",   "ucs2",  "ujis",    "utf8"};
    return !multi.contains(name);
}

QString codePoints(const QString& text)
{
    QStringList parts;
    for (uint cp : text.toUcs4())
        parts << QString::number(cp, 16).toUpper().rightJustified(4, u'0');
    return parts.join(u' ');
}

}  // namespace

TEST(CharsetCodec, Latin1IsWindows1252AsMySqlDefinesIt)
{
    CharsetCodec c("latin1");
    EXPECT_EQ(c.decode(QByteArray("\x80\x8A\x9F\xE9\xFF")), QString("\u20ac\u0160\u0178\u00e9\u00ff"));
    // The bytes Windows-1252 leaves free are the C1 controls.
    EXPECT_EQ(c.decode(QByteArray("\x81\x8D\x8F\x90\x9D")), QString("\u0081\u008d\u008f\u0090\u009d"));
    EXPECT_EQ(c.encode("\u20ac\u00e9\u0081"), QByteArray("\x80\xE9\x81"));
    EXPECT_EQ(c.encode("\u4e2d!"), QByteArray("?!"));
}

TEST(CharsetCodec, BinaryIsUtf8WhenValidElseEachByteAsLatin1)
{
    CharsetCodec c("binary");
    EXPECT_EQ(c.decode(QByteArray("gr\xC3\xBC\xC3\x9F")), QString("gr\u00fc\u00df"));
    EXPECT_EQ(c.decode(QByteArray("gr\xFC\xDF")), QString("gr\u00fc\u00df"));
    EXPECT_EQ(c.decode(QByteArray("\xC3", 1)), QString("\u00c3"));  // cut UTF-8 is not UTF-8
    EXPECT_EQ(c.decode(QByteArray("a\0b", 3)), QString::fromLatin1("a\0b", 3));
}

TEST(CharsetCodec, BadBytesBecomeReplacementAndDecodingGoesOn)
{
    CharsetCodec gbk("gbk");
    EXPECT_EQ(gbk.decode(QByteArray("\xD6\xD0\xFF" "a\xD6")), QString("\u4e2d\ufffda\ufffd"));
    CharsetCodec ascii("ascii");
    EXPECT_EQ(ascii.decode(QByteArray("a\xE9z")), QString("a\ufffdz"));
    CharsetCodec ucs2("ucs2");
    EXPECT_EQ(ucs2.decode(QByteArray("\x4E\x2D\x00", 3)), QString("\u4e2d\ufffd"));
    CharsetCodec utf8("utf8mb4");
    EXPECT_EQ(utf8.decode(QByteArray("\xF0\x9F\x98\x80")), QString("\U0001F600"));
    EXPECT_EQ(gbk.decode(nullptr, 0), QString());
}

TEST(CharsetCodec, UnknownNamesAreRefused)
{
    EXPECT_THROW(CharsetCodec("Default"), std::invalid_argument);
    EXPECT_THROW(CharsetCodec("klingon"), std::invalid_argument);
    EXPECT_EQ(CharsetCodec::encodingName("latin1"), "CP1252");
    EXPECT_EQ(CharsetCodec::encodingName("ucs2"), "UCS-2BE");
    EXPECT_TRUE(CharsetCodec::encodingName("nope").isEmpty());
}

// Every byte of each single-byte set, decoded by the server and by us.
TEST(CharsetCodec, SingleByteSetsAgreeWithTheServer)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    AdminSession admin(env);
    QByteArray all;
    for (int b = 1; b < 256; ++b)
        all.append(char(b));
    const QStringList& names = characterSetNames();
    for (int i = 1; i < names.size(); ++i) {
        const QString& name = names[i];
        if (!isSingleByte(name))
            continue;
        SCOPED_TRACE(name.toStdString());
        const auto rows = admin.rows("select hex(convert(convert(x'" + all.toHex() + "' using " + name.toLatin1()
                                     + ") using utf8mb4))");
        const QString server = QString::fromUtf8(QByteArray::fromHex(rows.at(0).at(0)));
        CharsetCodec codec(name);
        const QString ours = codec.decode(all);
        ASSERT_EQ(server.size(), ours.size()) << codePoints(server).toStdString();
        QStringList differences;
        for (int k = 0; k < ours.size(); ++k) {
            // Where the server knows no character for a byte it gives "?"; we
            // may know one from the encoding's standard.
            const bool serverUnmapped = server[k] == u'?' && k + 1 != '?';
            if (server[k] != ours[k] && !serverUnmapped)
                differences << QString("%1: server %2 ours %3")
                                   .arg(k + 1, 2, 16)
                                   .arg(server[k].unicode(), 4, 16, QChar(u'0'))
                                   .arg(ours[k].unicode(), 4, 16, QChar(u'0'));
        }
        EXPECT_TRUE(differences.isEmpty()) << differences.join(", ").toStdString();
    }
}

// Multi-byte sets: the server's bytes for a sample decode to the sample, and we
// encode the sample to the same bytes.
TEST(CharsetCodec, MultiByteSetsAgreeWithTheServer)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    AdminSession admin(env);
    const QList<QPair<QString, QString>> samples = {
        {"big5", "\u7e41\u9ad4\u4e2d\u6587 abc"},
        {"cp932", "\u65e5\u672c\u8a9e\u2460\uff5e\uff71 x"},
        {"eucjpms", "\u65e5\u672c\u8a9e\u2460 \uff71"},
        {"euckr", "\ud55c\uad6d\uc5b4 \uc548\ub155"},
        {"gb2312", "\u7b80\u4f53\u4e2d\u6587"},
        {"gbk", "\u7b80\u4f53\u4e2d\u6587 \u9ed8\u8ba4 \u7e41\u9ad4"},
        {"sjis", "\u65e5\u672c\u8a9e \uff71"},
        {"ucs2", "\u00dcn\u00efc\u00f8d\u00e9 \u4e2d\u6587 \u20ac"},
        {"ujis", "\u65e5\u672c\u8a9e \uff71"},
        {"utf8", "\u00dcn\u00efc\u00f8d\u00e9 \u4e2d\u6587"},
        {"utf8mb4", "emoji \U0001F600"},
    };
    for (const auto& [name, sample] : samples) {
        SCOPED_TRACE(name.toStdString());
        const auto rows = admin.rows("select hex(convert(convert(x'" + sample.toUtf8().toHex()
                                     + "' using utf8mb4) using " + name.toLatin1() + "))");
        const QByteArray bytes = QByteArray::fromHex(rows.at(0).at(0));
        CharsetCodec codec(name);
        EXPECT_EQ(codePoints(codec.decode(bytes)), codePoints(sample));
        EXPECT_EQ(codec.encode(sample).toHex(), bytes.toHex());
    }
}

TEST(CharsetCodec, EncodeMarksWhatTheSetCannotHold)
{
    EXPECT_EQ(CharsetCodec("gbk").encode("\u4e2d\U0001F600a"), QByteArray("\xD6\xD0?a"));
    EXPECT_EQ(CharsetCodec("ucs2").encode("a\U0001F600"), QByteArray("\0a\0?", 4));
    EXPECT_EQ(CharsetCodec("cp1251").encode("\u0416\u4e2d"), QByteArray("\xC6?"));
    // swe7 keeps the ASCII bytes the server reads statements by.
    EXPECT_EQ(CharsetCodec("swe7").encode("`a`"), QByteArray("`a`"));
}
