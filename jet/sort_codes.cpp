#include "jet/sort_codes.h"

#include <array>
#include <cstring>
#include <memory>

namespace jet::sortcodes {
namespace {

constexpr std::uint8_t kEndText = 0x01;
constexpr std::uint8_t kEndExtra = 0x00;
constexpr std::uint8_t kPlaceholder = 0x02;  // a character without extra code
constexpr std::uint8_t kFlagIgnoredAtEnd = 0x03;

CharCode expand(const SortCodeRun& r, unsigned i)
{
    CharCode c;
    c.kind = static_cast<CodeKind>(r.kind);
    c.inlineLen = r.inlineLen;
    c.extraLen = r.extraLen;
    c.aux = r.aux;
    std::uint32_t code = r.inlineCode + i * r.step;
    for (unsigned k = 0; k < r.inlineLen; ++k)
        c.inlineBytes[k] = static_cast<std::uint8_t>(code >> (8 * (r.inlineLen - 1 - k)));
    for (unsigned k = 0; k < r.extraLen; ++k)
        c.extraBytes[k] = static_cast<std::uint8_t>(r.extraCode >> (8 * (r.extraLen - 1 - k)));
    return c;
}

// Surrogate code units have no table lines; their codes follow from the unit.
CharCode surrogateCode(char16_t u)
{
    unsigned v = u;
    unsigned idx;
    if (v < 0xDC00) {
        idx = v - 10238;
    } else {
        unsigned off = (v - 0xDC00) % 1024;
        unsigned sub = off < 8 ? 9992 : off < 262 ? 9990 : off < 516 ? 9988 : off < 770 ? 9986 : 9984;
        idx = v - sub;
    }
    CharCode c;
    c.kind = CodeKind::Surrogate;
    c.inlineLen = 2;
    c.inlineBytes[0] = static_cast<std::uint8_t>(idx >> 8);
    c.inlineBytes[1] = static_cast<std::uint8_t>(idx);
    c.extraLen = 1;
    c.extraBytes[0] = 0x3F;
    return c;
}

struct LegacyTable {
    std::array<CharCode, 65536> codes;
    LegacyTable()
    {
        for (std::size_t i = 0; i < kGeneralLegacyRunsCount; ++i) {
            const SortCodeRun& r = kGeneralLegacyRuns[i];
            for (unsigned k = 0; k < r.count; ++k)
                codes[r.first + k] = expand(r, k);
        }
        for (unsigned u = 0xD800; u <= 0xDFFF; ++u)
            codes[u] = surrogateCode(static_cast<char16_t>(u));
    }
};

struct General97Table {
    std::array<CharCode, 256> codes;
    std::array<std::uint8_t, 65536> mapped{};  // above U+00FF: code page byte, 0 = ignored
    General97Table()
    {
        for (std::size_t i = 0; i < kGeneral97RunsCount; ++i) {
            const SortCodeRun& r = kGeneral97Runs[i];
            for (unsigned k = 0; k < r.count; ++k)
                codes[r.first + k] = expand(r, k);
        }
        for (std::size_t i = 0; i < kGeneral97MappingsCount; ++i)
            mapped[kGeneral97Mappings[i].from] = kGeneral97Mappings[i].to;
    }
};

const LegacyTable& legacy()
{
    static const std::unique_ptr<LegacyTable> t = std::make_unique<LegacyTable>();
    return *t;
}

const General97Table& general97()
{
    static const std::unique_ptr<General97Table> t = std::make_unique<General97Table>();
    return *t;
}

void invert(std::vector<std::uint8_t>& out, std::size_t from)
{
    for (std::size_t i = from; i < out.size(); ++i)
        out[i] = static_cast<std::uint8_t>(~out[i]);
}

}  // namespace

const CharCode& generalLegacyCode(char16_t c) { return legacy().codes[c]; }

const CharCode& general97Code(char16_t c)
{
    const General97Table& t = general97();
    if (c <= 0xFF)
        return t.codes[c];
    return t.codes[t.mapped[c]];  // unmapped characters land on U+0000, which is ignored
}

void appendGeneralLegacy(std::vector<std::uint8_t>& out, std::u16string_view text, bool ascending)
{
    const std::size_t start = out.size();

    // Extra codes: one per character that carries inline codes, 0x02 where a
    // character has none (filled lazily, trimmed at the end).
    std::vector<std::uint8_t> extra;
    std::size_t extraChars = 0;
    std::size_t extraPrefix = 0;  // a modifier that arrived before any extra code
    bool haveExtra = false;
    std::vector<std::uint8_t> unprintable;
    std::vector<std::uint8_t> flags;

    std::size_t inlineChars = 0;
    // Inline codes are at most four bytes: write them through a pointer.
    out.resize(start + 4 * text.size());
    std::uint8_t* w = out.data() + start;
    for (char16_t ch : text) {
        const CharCode& c = generalLegacyCode(ch);
        const std::size_t pos = inlineChars;
        if (c.inlineLen) {
            std::memcpy(w, c.inlineBytes, 4);
            w += c.inlineLen;
            ++inlineChars;
        }
        if (c.kind == CodeKind::Simple || c.kind == CodeKind::Ignored)
            continue;

        const bool hasExtraBytes = c.extraLen > 0;
        const std::uint8_t modifier = c.kind == CodeKind::UnprintableExt ? c.aux : 0;
        if (hasExtraBytes || modifier) {
            haveExtra = true;
            if (extraChars < pos) {
                extra.insert(extra.end(), pos - extraChars, kPlaceholder);
                extraChars = pos;
            }
            if (hasExtraBytes) {
                extra.insert(extra.end(), c.extraBytes, c.extraBytes + c.extraLen);
                ++extraChars;
            } else if (!extra.empty()) {
                extra.back() = static_cast<std::uint8_t>(extra.back() + modifier);
            } else {
                extra.push_back(modifier);
                extraPrefix = 1;
            }
        }

        if (c.kind == CodeKind::Unprintable) {
            std::size_t where = pos;
            if (haveExtra)
                where = extra.size() + (pos - extraChars) - extraPrefix;
            unsigned offset = (7 + 4 * static_cast<unsigned>(where)) | 0x8000u;
            unprintable.push_back(static_cast<std::uint8_t>(offset >> 8));
            unprintable.push_back(static_cast<std::uint8_t>(offset));
            unprintable.push_back(0x06);
            unprintable.push_back(c.aux);
        }

        if (c.kind == CodeKind::InternationalExt)
            flags.push_back(c.aux);
    }
    out.resize(std::size_t(w - out.data()));

    out.push_back(kEndText);

    while (!extra.empty() && extra.back() <= kPlaceholder)
        extra.pop_back();
    const bool writeExtra = !extra.empty();
    const bool writeUnprintable = !unprintable.empty();
    const bool writeFlags = !flags.empty();

    if (writeExtra)
        out.insert(out.end(), extra.begin(), extra.end());
    if (writeFlags || writeUnprintable) {
        out.push_back(kEndText);
        out.push_back(kEndText);
        if (writeFlags) {
            while (!flags.empty() && flags.back() == kFlagIgnoredAtEnd)
                flags.pop_back();
            // Three 2-bit flags per byte under a 0x80 marker.
            std::uint8_t cur = 0x80;
            int n = 0;
            for (std::uint8_t f : flags) {
                cur = static_cast<std::uint8_t>(cur | (f << ((2 - n) * 2)));
                if (++n == 3) {
                    out.push_back(cur);
                    cur = 0x80;
                    n = 0;
                }
            }
            if (n)
                out.push_back(cur);
            static const std::uint8_t suffix[] = {0xFF, 0x02, 0x80, 0xFF, 0x80};
            out.insert(out.end(), std::begin(suffix), std::end(suffix));
            if (writeUnprintable)
                out.push_back(0xFF);
        }
        if (writeUnprintable) {
            out.push_back(kEndText);
            out.insert(out.end(), unprintable.begin(), unprintable.end());
        }
    }

    if (!ascending) {
        out.push_back(kEndExtra);
        invert(out, start);
    }
    out.push_back(kEndExtra);
}

void appendGeneral97(std::vector<std::uint8_t>& out, std::u16string_view text, bool ascending)
{
    const std::size_t start = out.size();

    // Extra codes go in half-bytes, opened and closed by a zero nibble.
    std::vector<std::uint8_t> nibbles;
    std::size_t significant = 0;
    out.resize(start + 4 * text.size());
    std::uint8_t* w = out.data() + start;
    for (char16_t ch : text) {
        const CharCode& c = general97Code(ch);
        std::memcpy(w, c.inlineBytes, 4);
        w += c.inlineLen;
        if (c.kind == CodeKind::Significant) {
            ++significant;
            continue;
        }
        if (c.kind != CodeKind::International || c.extraLen == 0)
            continue;
        if (nibbles.empty())
            nibbles.push_back(0);
        nibbles.insert(nibbles.end(), significant, kPlaceholder);
        significant = 0;
        nibbles.push_back(c.extraBytes[0] & 0x0F);
    }
    out.resize(std::size_t(w - out.data()));
    if (nibbles.empty()) {
        out.push_back(kEndExtra);
    } else {
        nibbles.push_back(0);
        for (std::size_t i = 0; i < nibbles.size(); i += 2) {
            std::uint8_t hi = nibbles[i];
            std::uint8_t lo = i + 1 < nibbles.size() ? nibbles[i + 1] : 0;
            out.push_back(static_cast<std::uint8_t>((hi << 4) | lo));
        }
    }
    if (!ascending)
        invert(out, start);
}

}  // namespace jet::sortcodes
