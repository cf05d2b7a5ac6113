// The checker's index-key encoding (see check_keys.h). Numbers become
// big-endian bytes ordered as unsigned; binary values go in 8-byte groups;
// text becomes sort codes of "General" (Jet 3) or "General Legacy" (Jet 4).
#include "jet/check_keys.h"

#include "jet/sort_codes.h"

#include <algorithm>

namespace jet::checkkeys {
namespace {

using sortcodes::CodeKind;
using sortcodes::SortCodeRun;

void flip(std::vector<std::uint8_t>& k, std::size_t from, std::size_t to)
{
    for (std::size_t i = from; i < to; ++i)
        k[i] = std::uint8_t(~k[i]);
}

// Groups of eight bytes; a 9 after a full group says more follow; the last
// group is padded with zeros and followed by its length. Descending order
// inverts all but the 9s.
void appendGroups(std::vector<std::uint8_t>& k, const std::uint8_t* d, std::size_t n, bool asc)
{
    const std::size_t from = k.size();
    std::size_t at = 0;
    for (; n - at > 8; at += 8) {
        k.insert(k.end(), d + at, d + at + 8);
        k.push_back(9);
    }
    if (n > at) {
        k.insert(k.end(), d + at, d + n);
        k.resize(k.size() + 8 - (n - at), 0);
        k.push_back(std::uint8_t(n - at));
    }
    if (!asc)
        for (std::size_t i = from; i < k.size(); ++i)
            if ((i - from) % 9 != 8 || i + 1 == k.size())
                k[i] = std::uint8_t(~k[i]);
}

// A character's codes, looked up in the generated runs.
struct Code {
    CodeKind kind = CodeKind::Ignored;
    std::vector<std::uint8_t> inl, extra;
    std::uint8_t aux = 0;
};

Code lookup(const SortCodeRun* runs, std::size_t count, unsigned c)
{
    Code out;
    const SortCodeRun* end = runs + count;
    const SortCodeRun* r = std::upper_bound(runs, end, c, [](unsigned v, const SortCodeRun& x) { return v < x.first; });
    if (r == runs || c >= unsigned((r - 1)->first) + (r - 1)->count)
        return out;
    --r;
    out.kind = CodeKind(r->kind);
    out.aux = r->aux;
    const std::uint32_t value = r->inlineCode + (c - r->first) * r->step;
    for (int b = r->inlineLen - 1; b >= 0; --b)
        out.inl.push_back(std::uint8_t(value >> (8 * b)));
    for (int b = r->extraLen - 1; b >= 0; --b)
        out.extra.push_back(std::uint8_t(r->extraCode >> (8 * b)));
    return out;
}

Code legacyCode(char16_t c)
{
    if (c < 0xD800 || c > 0xDFFF)
        return lookup(sortcodes::kGeneralLegacyRuns, sortcodes::kGeneralLegacyRunsCount, c);
    // Surrogate halves: two inline bytes computed from the unit, extra 0x3F.
    const unsigned low = (c - 0xDC00u) % 1024;
    const unsigned idx = c < 0xDC00 ? c - 10238u
                         : c - (low < 8 ? 9992 : low < 262 ? 9990 : low < 516 ? 9988 : low < 770 ? 9986 : 9984);
    Code out;
    out.kind = CodeKind::Surrogate;
    out.inl = {std::uint8_t(idx >> 8), std::uint8_t(idx)};
    out.extra = {0x3F};
    return out;
}

void appendLegacy(std::vector<std::uint8_t>& k, std::u16string_view text)
{
    std::vector<std::uint8_t> extra, tail, flags;
    std::size_t shown = 0;        // characters with inline codes so far
    std::size_t extraOwners = 0;  // characters the extra codes cover
    bool lead = false;            // the extras start with a lone modifier
    for (char16_t ch : text) {
        const Code c = legacyCode(ch);
        const std::size_t index = shown;
        k.insert(k.end(), c.inl.begin(), c.inl.end());
        shown += !c.inl.empty();
        if (c.kind == CodeKind::Simple || c.kind == CodeKind::Ignored)
            continue;
        const std::uint8_t modifier = c.kind == CodeKind::UnprintableExt ? c.aux : 0;
        if (!c.extra.empty() || modifier) {
            extra.resize(extra.size() + (index > extraOwners ? index - extraOwners : 0), 2);
            extraOwners = std::max(extraOwners, index);
            if (!c.extra.empty()) {
                extra.insert(extra.end(), c.extra.begin(), c.extra.end());
                ++extraOwners;
            } else if (extra.empty()) {
                extra.push_back(modifier);
                lead = true;
            } else {
                extra.back() = std::uint8_t(extra.back() + modifier);
            }
        }
        if (c.kind == CodeKind::Unprintable) {
            const std::size_t where = extra.empty() ? index : extra.size() + index - extraOwners - lead;
            const unsigned at = 0x8000u | unsigned(7 + 4 * where);
            tail.insert(tail.end(), {std::uint8_t(at >> 8), std::uint8_t(at), 0x06, c.aux});
        }
        if (c.kind == CodeKind::InternationalExt)
            flags.push_back(c.aux);
    }
    k.push_back(0x01);
    while (!extra.empty() && extra.back() <= 2)
        extra.pop_back();
    k.insert(k.end(), extra.begin(), extra.end());
    if (flags.empty() && tail.empty())
        return;
    k.insert(k.end(), {0x01, 0x01});
    if (!flags.empty()) {
        // Two bits a character, three to a byte under 0x80; trailing 3s left out.
        while (!flags.empty() && flags.back() == 3)
            flags.pop_back();
        for (std::size_t i = 0; i < flags.size(); i += 3) {
            std::uint8_t b = 0x80;
            for (std::size_t j = 0; j < 3 && i + j < flags.size(); ++j)
                b |= std::uint8_t(flags[i + j] << (4 - 2 * j));
            k.push_back(b);
        }
        k.insert(k.end(), {0xFF, 0x02, 0x80, 0xFF, 0x80});
        if (!tail.empty())
            k.push_back(0xFF);
    }
    if (!tail.empty()) {
        k.push_back(0x01);
        k.insert(k.end(), tail.begin(), tail.end());
    }
}

// "General" of Access 97: inline codes, then accents as half-bytes between
// zero half-bytes, 2 standing for each significant character in between.
void appendGeneral97(std::vector<std::uint8_t>& k, std::u16string_view text)
{
    std::vector<std::uint8_t> halves;
    std::size_t pending = 0;
    for (char16_t ch : text) {
        unsigned c = ch;
        if (c > 0xFF) {
            // Other characters sort as their code page 1252 byte, or not at all.
            const auto* m = sortcodes::kGeneral97Mappings;
            const auto* e = m + sortcodes::kGeneral97MappingsCount;
            const auto* hit = std::find_if(m, e, [c](const sortcodes::General97Mapping& x) { return x.from == c; });
            c = hit == e ? 0 : hit->to;
        }
        const Code code = lookup(sortcodes::kGeneral97Runs, sortcodes::kGeneral97RunsCount, c);
        k.insert(k.end(), code.inl.begin(), code.inl.end());
        if (code.kind == CodeKind::Significant) {
            ++pending;
        } else if (code.kind == CodeKind::International && !code.extra.empty()) {
            if (halves.empty())
                halves.push_back(0);
            halves.resize(halves.size() + pending, 2);
            pending = 0;
            halves.push_back(code.extra[0] & 0x0F);
        }
    }
    if (halves.empty()) {
        k.push_back(0x00);
        return;
    }
    halves.push_back(0);
    if (halves.size() % 2)
        halves.push_back(0);
    for (std::size_t i = 0; i < halves.size(); i += 2)
        k.push_back(std::uint8_t(halves[i] << 4 | halves[i + 1]));
}

void appendText(std::vector<std::uint8_t>& k, Version version, std::u16string_view text, bool asc)
{
    text = text.substr(0, 255);
    while (!text.empty() && text.back() == u' ')
        text.remove_suffix(1);
    const std::size_t from = k.size();
    if (version == Version::Jet3) {
        appendGeneral97(k, text);
        if (!asc)
            flip(k, from, k.size());
        return;
    }
    appendLegacy(k, text);
    if (!asc) {
        k.push_back(0x00);
        flip(k, from, k.size());
    }
    k.push_back(0x00);
}

std::size_t fixedSize(ColumnType t)
{
    switch (t) {
    case ColumnType::Byte: return 1;
    case ColumnType::Integer: return 2;
    case ColumnType::Long:
    case ColumnType::Single: return 4;
    case ColumnType::Currency:
    case ColumnType::Double:
    case ColumnType::DateTime: return 8;
    case ColumnType::Guid: return 16;
    case ColumnType::Numeric: return 17;
    default: return 0;
    }
}

}  // namespace

bool appendPart(std::vector<std::uint8_t>& key, Version version, const Part& p, std::string& why)
{
    const bool asc = p.ascending;
    if (p.type == ColumnType::Boolean) {
        key.insert(key.end(), {std::uint8_t(asc ? 0x7F : 0x80), std::uint8_t(!p.null == asc ? 0x00 : 0xFF)});
        return true;
    }
    if (p.type == ColumnType::Ole || (p.type == ColumnType::Numeric && version == Version::Jet3)) {
        why = "a column of this type cannot be indexed in this format";
        return false;
    }
    if (p.null) {
        key.push_back(asc ? 0x00 : 0xFF);
        return true;
    }
    key.push_back(asc ? 0x7F : 0x80);
    const std::size_t from = key.size();
    const std::size_t want = fixedSize(p.type);
    if (want && p.size != want) {
        why = "a value of " + std::to_string(p.size) + " bytes where its type takes " + std::to_string(want);
        return false;
    }
    switch (p.type) {
    case ColumnType::Text:
    case ColumnType::Memo:
        appendText(key, version, p.text, asc);
        return true;
    case ColumnType::Binary:
        appendGroups(key, p.bytes, p.size, asc);
        return true;
    case ColumnType::Guid: {
        // The first three groups are stored little-endian.
        static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
        std::uint8_t g[16];
        for (int i = 0; i < 16; ++i)
            g[i] = p.bytes[kOrder[i]];
        appendGroups(key, g, 16, asc);
        return true;
    }
    case ColumnType::Numeric: {
        // Sign byte, then four 32-bit words stored little-endian, most
        // significant first.
        const bool negative = p.bytes[0] != 0;
        key.push_back(p.bytes[0]);
        for (int w = 0; w < 4; ++w)
            for (int b = 3; b >= 0; --b)
                key.push_back(p.bytes[1 + 4 * w + b]);
        if (negative == asc)
            flip(key, from, key.size());
        key[from] = negative ? 0x00 : 0xFF;
        return true;
    }
    default:
        break;
    }
    // Numbers: big-endian. Integers flip the sign bit; floating-point values
    // flip it when positive and every bit when negative.
    for (std::size_t i = p.size; i-- > 0;)
        key.push_back(p.bytes[i]);
    const bool floating = p.type == ColumnType::Single || p.type == ColumnType::Double ||
                          p.type == ColumnType::DateTime;
    if (floating && (key[from] & 0x80))
        flip(key, from, key.size());
    else if (p.type != ColumnType::Byte)
        key[from] ^= 0x80;
    if (!asc)
        flip(key, from, key.size());
    return true;
}

}  // namespace jet::checkkeys
