#include "engine/charset_codec.h"

#include <QHash>
#include <QStringDecoder>

#include <array>
#include <cerrno>
#include <iconv.h>
#include <stdexcept>
#include <vector>

namespace ferrowane {

namespace {

enum class Kind { Utf8, Binary, SingleByte, MultiByte };

struct Mapping {
    const char* mysql;
    const char* encoding;  // iconv name; ours where glibc has none
    Kind kind;
};

// MySQL's names and the encodings their bytes really are.
constexpr Mapping mappings[] = {
    {"armscii8", "ARMSCII-8", Kind::SingleByte},
    {"ascii", "ASCII", Kind::SingleByte},
    {"big5", "BIG5", Kind::MultiByte},
    {"binary", "binary", Kind::Binary},
    {"cp1250", "CP1250", Kind::SingleByte},
    {"cp1251", "CP1251", Kind::SingleByte},
    {"cp1256", "CP1256", Kind::SingleByte},
    {"cp1257", "CP1257", Kind::SingleByte},
    {"cp850", "CP850", Kind::SingleByte},
    {"cp852", "CP852", Kind::SingleByte},
    {"cp866", "CP866", Kind::SingleByte},
    {"cp932", "CP932", Kind::MultiByte},
    {"dec8", "DEC-MCS", Kind::SingleByte},
    {"eucjpms", "EUC-JP-MS", Kind::MultiByte},
    {"euckr", "EUC-KR", Kind::MultiByte},
    {"gb2312", "GB2312", Kind::MultiByte},
    {"gbk", "GBK", Kind::MultiByte},
    {"geostd8", "GEORGIAN-PS", Kind::SingleByte},
    {"greek", "ISO-8859-7", Kind::SingleByte},
    {"hebrew", "ISO-8859-8", Kind::SingleByte},
    {"hp8", "HP-ROMAN8", Kind::SingleByte},
    {"keybcs2", "KEYBCS2", Kind::SingleByte},
    {"koi8r", "KOI8-R", Kind::SingleByte},
    {"koi8u", "KOI8-U", Kind::SingleByte},
    {"latin1", "CP1252", Kind::SingleByte},
    {"latin2", "ISO-8859-2", Kind::SingleByte},
    {"latin5", "ISO-8859-9", Kind::SingleByte},
    {"latin7", "ISO-8859-13", Kind::SingleByte},
    {"macce", "MAC-CENTRALEUROPE", Kind::SingleByte},
    {"macroman", "MACINTOSH", Kind::SingleByte},
    {"sjis", "SHIFT_JIS", Kind::MultiByte},
    {"swe7", "ISO646-SE2", Kind::SingleByte},
    {"tis620", "TIS-620", Kind::SingleByte},
    {"ucs2", "UCS-2BE", Kind::MultiByte},
    {"ujis", "EUC-JP", Kind::MultiByte},
    {"utf8", "UTF-8", Kind::Utf8},
    {"utf8mb3", "UTF-8", Kind::Utf8},
    {"utf8mb4", "UTF-8", Kind::Utf8},
};

const Mapping* findMapping(const QString& name)
{
    for (const Mapping& m : mappings)
        if (name == QLatin1String(m.mysql))
            return &m;
    return nullptr;
}

constexpr char16_t replacement = 0xFFFD;

// Kamenický 0x80..0xAF; from 0xB0 on it is code page 437.
constexpr char16_t kamenicky[48] = {
    0x010C, 0x00FC, 0x00E9, 0x010F, 0x00E4, 0x010E, 0x0164, 0x010D,
    0x011B, 0x011A, 0x0139, 0x00CD, 0x013E, 0x013A, 0x00C4, 0x00C1,
    0x00C9, 0x017E, 0x017D, 0x00F4, 0x00F6, 0x00D3, 0x016F, 0x00DA,
    0x00FD, 0x00D6, 0x00DC, 0x0160, 0x013D, 0x00DD, 0x0158, 0x0165,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x0148, 0x0147, 0x016E, 0x00D4,
    0x0161, 0x0159, 0x0155, 0x0154, 0x00BC, 0x00A7, 0x00AB, 0x00BB};

// Where the server's own tables differ from the standard ones glibc has, the
// server's win: it made the bytes, and reading them back must give what was stored.
struct Patch {
    const char* mysql;
    unsigned char byte;
    char16_t character;
};
constexpr Patch patches[] = {
    {"armscii8", 0xA1, 0x2741}, {"armscii8", 0xA2, 0x00A7}, {"armscii8", 0xAD, 0x055F},
    {"armscii8", 0xFE, 0x2019}, {"armscii8", 0xFF, 0x0027},
    {"cp866", 0xFC, 0x207F},    {"cp866", 0xFD, 0x00B2},
    {"dec8", 0xA0, 0x00A0},
    {"geostd8", 0x80, 0x20AC},  {"geostd8", 0xFD, 0x2116},
    {"greek", 0xA1, 0x02BD},    {"greek", 0xA2, 0x02BC},
    {"hebrew", 0xAF, 0x203E},
    {"keybcs2", 0xAD, 0x00A1},
    {"koi8u", 0x95, 0x2022},
    {"macroman", 0xC6, 0x2206}, {"macroman", 0xF0, 0xF8FF},
    {"swe7", 0x24, 0x0024},
};

class Iconv {
public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from))
    {
        if (m_cd == reinterpret_cast<iconv_t>(-1))
            throw std::invalid_argument(std::string("no converter from ") + from + " to " + to);
    }
    ~Iconv() { iconv_close(m_cd); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    iconv_t handle() const { return m_cd; }
    void reset() const { iconv(m_cd, nullptr, nullptr, nullptr, nullptr); }

private:
    iconv_t m_cd;
};

// One byte through a converter to UTF-16LE: the character, or U+FFFD.
char16_t decodeByte(const Iconv& cv, unsigned char byte)
{
    cv.reset();
    char in = char(byte);
    char16_t out[4];
    char* inp = &in;
    size_t inLeft = 1;
    char* outp = reinterpret_cast<char*>(out);
    size_t outLeft = sizeof out;
    if (iconv(cv.handle(), &inp, &inLeft, &outp, &outLeft) == size_t(-1) || inLeft != 0
        || outLeft != sizeof out - 2)
        return replacement;
    return out[0];
}

}  // namespace

struct CharsetCodec::Impl {
    Kind kind = Kind::Utf8;
    // Single-byte sets: the 256 characters and the way back.
    std::array<char16_t, 256> table{};
    QHash<char16_t, char> reverse;
    // Multi-byte sets: converters both ways.
    std::unique_ptr<Iconv> toUnicode;
    std::unique_ptr<Iconv> fromUnicode;
};

bool CharsetCodec::isKnown(const QString& mysqlName)
{
    return findMapping(mysqlName) != nullptr;
}

QString CharsetCodec::encodingName(const QString& mysqlName)
{
    const Mapping* m = findMapping(mysqlName);
    return m ? QString::fromLatin1(m->encoding) : QString();
}

CharsetCodec::CharsetCodec(const QString& mysqlName) : m_name(mysqlName), d(std::make_unique<Impl>())
{
    const Mapping* m = findMapping(mysqlName);
    if (!m)
        throw std::invalid_argument("unknown MySQL character set: " + mysqlName.toStdString());
    d->kind = m->kind;

    if (m->kind == Kind::SingleByte) {
        const QByteArray mysql(m->mysql);
        for (int b = 0; b < 0x80; ++b)
            d->table[b] = char16_t(b);
        if (mysql == "keybcs2") {
            for (int b = 0x80; b < 0xB0; ++b)
                d->table[b] = kamenicky[b - 0x80];
            const Iconv cp437("UTF-16LE", "CP437");
            for (int b = 0xB0; b < 0x100; ++b)
                d->table[b] = decodeByte(cp437, (unsigned char)b);
        } else if (mysql == "ascii") {
            for (int b = 0x80; b < 0x100; ++b)
                d->table[b] = replacement;
        } else {
            const Iconv cv("UTF-16LE", m->encoding);
            for (int b = 0; b < 0x100; ++b)
                d->table[b] = decodeByte(cv, (unsigned char)b);
            if (mysql == "latin1") {
                // The bytes Windows-1252 leaves free are the C1 controls in MySQL's latin1.
                for (int b : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
                    d->table[b] = char16_t(b);
            }
        }
        if (mysql == "tis620") {
            // The server passes 0x80..0x9F through as the C1 controls.
            for (int b = 0x80; b < 0xA0; ++b)
                d->table[b] = char16_t(b);
        }
        for (const Patch& p : patches)
            if (mysql == p.mysql)
                d->table[p.byte] = p.character;
        for (int b = 0xFF; b >= 0; --b)
            if (d->table[b] != replacement)
                d->reverse.insert(d->table[b], char(b));
        // The server reads statements byte by byte as ASCII (swe7 has letters
        // where ASCII has ` @ [ \ ] ^ { | } ~): such characters keep their ASCII byte.
        for (int b = 0; b < 0x80; ++b)
            if (!d->reverse.contains(char16_t(b)))
                d->reverse.insert(char16_t(b), char(b));
    } else if (m->kind == Kind::MultiByte) {
        d->toUnicode = std::make_unique<Iconv>("UTF-16LE", m->encoding);
        d->fromUnicode = std::make_unique<Iconv>(m->encoding, "UTF-32LE");
    }
}

CharsetCodec::~CharsetCodec() = default;

QString CharsetCodec::decode(const char* data, qsizetype size) const
{
    if (size <= 0)
        return QString();
    switch (d->kind) {
    case Kind::Utf8:
        return QString::fromUtf8(data, size);
    case Kind::Binary: {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = utf8.decode(QByteArrayView(data, size));
        if (!utf8.hasError())
            return text;
        return QString::fromLatin1(data, size);
    }
    case Kind::SingleByte: {
        QString text(size, Qt::Uninitialized);
        char16_t* out = reinterpret_cast<char16_t*>(text.data());
        for (qsizetype i = 0; i < size; ++i)
            out[i] = d->table[(unsigned char)data[i]];
        return text;
    }
    case Kind::MultiByte:
        break;
    }

    // Through iconv; a byte that starts no valid character becomes U+FFFD and
    // decoding goes on after it.
    const Iconv& cv = *d->toUnicode;
    cv.reset();
    std::vector<char16_t> out(size_t(size) + 16);
    size_t used = 0;
    char* inp = const_cast<char*>(data);
    size_t inLeft = size_t(size);
    while (inLeft > 0) {
        if (out.size() - used < 8)
            out.resize(out.size() * 2);
        char* outp = reinterpret_cast<char*>(out.data() + used);
        size_t outLeft = (out.size() - used) * sizeof(char16_t);
        const size_t before = outLeft;
        const size_t rc = iconv(cv.handle(), &inp, &inLeft, &outp, &outLeft);
        const int error = errno;
        used += (before - outLeft) / sizeof(char16_t);
        if (rc != size_t(-1))
            break;
        if (used + 1 >= out.size())
            out.resize(out.size() * 2);
        if (error == E2BIG) {
            out.resize(out.size() * 2);
        } else if (error == EILSEQ) {
            out[used++] = replacement;
            ++inp;
            --inLeft;
            cv.reset();
        } else {  // EINVAL: the text ends inside a character
            out[used++] = replacement;
            break;
        }
    }
    return QString(reinterpret_cast<const QChar*>(out.data()), qsizetype(used));
}

QByteArray CharsetCodec::encode(const QString& text) const
{
    switch (d->kind) {
    case Kind::Utf8:
    case Kind::Binary:
        return text.toUtf8();
    case Kind::SingleByte: {
        QByteArray bytes;
        bytes.reserve(text.size());
        for (QChar c : text) {
            const auto it = d->reverse.constFind(c.unicode());
            bytes.append(it == d->reverse.constEnd() ? '?' : it.value());
        }
        return bytes;
    }
    case Kind::MultiByte:
        break;
    }

    // One character at a time, so that one the set cannot hold becomes "?"
    // and the rest still comes through.
    const Iconv& cv = *d->fromUnicode;
    cv.reset();
    QByteArray bytes;
    const QList<uint> codePoints = text.toUcs4();
    for (uint cp : codePoints) {
        char32_t in = char32_t(cp);
        char buffer[16];
        char* inp = reinterpret_cast<char*>(&in);
        size_t inLeft = sizeof in;
        char* outp = buffer;
        size_t outLeft = sizeof buffer;
        if (iconv(cv.handle(), &inp, &inLeft, &outp, &outLeft) == size_t(-1)) {
            cv.reset();
            bytes.append(m_name == QLatin1String("ucs2") ? QByteArray("\0?", 2) : QByteArray("?"));
            continue;
        }
        bytes.append(buffer, qsizetype(sizeof buffer - outLeft));
    }
    return bytes;
}

}  // namespace ferrowane
