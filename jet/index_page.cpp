// The index page codec: an IndexPage to the bytes of a leaf or intermediate
// page and back (layout in index_tree_int.h), and the shared-prefix sums
// that decide whether entries fit on one page.
#include "jet/index_tree_int.h"

#include "jet/bytes.h"

#include <array>

namespace jet {
namespace {

// Bits set in each byte value (no popcount instruction is assumed).
constexpr auto kBitsSet = [] {
    std::array<std::uint8_t, 256> t{};
    for (unsigned v = 0; v < 256; ++v)
        t[v] = std::uint8_t((v & 1) + ((v >> 1) & 1) + ((v >> 2) & 1) + ((v >> 3) & 1) + ((v >> 4) & 1) +
                            ((v >> 5) & 1) + ((v >> 6) & 1) + ((v >> 7) & 1));
    return t;
}();

constexpr std::uint8_t kLeafType = 0x04;
constexpr std::uint8_t kNodeType = 0x03;

}  // namespace

std::size_t commonPrefix(const KeyBytes& a, const KeyBytes& b)
{
    std::size_t n = std::min(a.size(), b.size());
    std::size_t i = 0;
    while (i < n && a[i] == b[i])
        ++i;
    return i;
}

std::size_t pagePrefix(const std::vector<IndexEntry>& entries)
{
    if (entries.size() < 2)
        return 0;
    // Sorted entries share what the first and last share; confirm with
    // whole-block compares, falling back to the byte walk when unsorted.
    const auto& first = entries.front().key;
    std::size_t p = std::min(commonPrefix(first, entries.back().key), kMaxIndexPrefix);
    bool all = true;
    for (std::size_t i = 1; i + 1 < entries.size() && all; ++i)
        all = entries[i].key.size() >= p && std::memcmp(first.data(), entries[i].key.data(), p) == 0;
    if (all)
        return p;
    for (std::size_t i = 1; i < entries.size() && p > 0; ++i)
        p = std::min(p, commonPrefix(first, entries[i].key));
    return p;
}

const IndexPageLayout& indexPageLayout(Version f)
{
    static const IndexPageLayout jet3{2048, 8, 12, 16, 20, 1, 21, 0x16, 226, 0xF8};
    static const IndexPageLayout jet4{4096, 12, 16, 20, 24, 2, 26, 0x1B, 453, 0x1E0};
    return f == Version::Jet3 ? jet3 : jet4;
}

std::size_t indexPageCapacity(Version format)
{
    const IndexPageLayout& L = indexPageLayout(format);
    return std::min(L.pageSize - L.entries, L.maskSize * 8 - 1);
}

IndexPage parseIndexPage(Version format, std::span<const std::uint8_t> page)
{
    const IndexPageLayout& L = indexPageLayout(format);
    if (page.size() < L.pageSize)
        throw IndexError("index page is truncated");
    const std::uint8_t* p = page.data();
    if (p[0] != kLeafType && p[0] != kNodeType)
        throw IndexError("page is not an index page (type " + std::to_string(p[0]) + ")");

    IndexPage out;
    out.leaf = p[0] == kLeafType;
    out.tdefPage = get32(p + 4);
    out.prev = get32(p + L.prev);
    out.next = get32(p + L.next);
    out.tail = get32(p + L.tail);
    std::size_t prefixLen = L.prefixBytes == 1 ? p[L.prefix] : (p[L.prefix] | (p[L.prefix + 1] << 8));

    const std::size_t dataSize = L.pageSize - L.entries;
    const std::uint8_t* data = p + L.entries;
    const std::size_t minEntry = out.leaf ? 4 : 8;
    std::size_t last = 0;
    bool first = true;
    std::uint8_t tailBytes[8];
    std::size_t marks = 0;
    for (std::size_t byte = 0; byte < L.maskSize; ++byte)
        marks += kBitsSet[p[L.mask + byte]];
    out.entries.reserve(marks);
    for (std::size_t byte = 0; byte < L.maskSize; ++byte) {
        std::uint8_t m = p[L.mask + byte];
        if (!m)
            continue;
        for (unsigned b = 0; b < 8; ++b) {
            if (!(m & (1u << b)))
                continue;
            const std::size_t bit = byte * 8 + b;
            if (bit == 0)
                continue;
            if (bit > dataSize)
                throw IndexError("index page bit mask points past the page");
            // The entry is the shared prefix (after the first) and its own bytes.
            const std::size_t pre = first ? 0 : prefixLen;
            if (first && prefixLen > bit)
                throw IndexError("index page prefix is longer than its first entry");
            const std::size_t own = bit - last;
            const std::size_t total = pre + own;
            if (total < minEntry)
                throw IndexError("index entry too short");
            IndexEntry e;
            const std::size_t keyLen = total - minEntry;
            e.key.resize(keyLen);
            // Bytes come from data[0, prefixLen) then data[last, bit).
            auto at = [&](std::size_t i) { return i < pre ? data[i] : data[last + (i - pre)]; };
            if (keyLen <= pre) {
                std::memcpy(e.key.data(), data, keyLen);
            } else {
                std::memcpy(e.key.data(), data, pre);
                std::memcpy(e.key.data() + pre, data + last, keyLen - pre);
            }
            for (std::size_t i = 0; i < minEntry; ++i)
                tailBytes[i] = at(keyLen + i);
            e.dataPage = std::uint32_t(tailBytes[0]) << 16 | std::uint32_t(tailBytes[1]) << 8 | tailBytes[2];
            e.dataRow = tailBytes[3];
            if (!out.leaf)
                e.child = std::uint32_t(tailBytes[4]) << 24 | std::uint32_t(tailBytes[5]) << 16 |
                          std::uint32_t(tailBytes[6]) << 8 | tailBytes[7];
            out.entries.push_back(std::move(e));
            first = false;
            last = bit;
        }
    }
    if (first && prefixLen != 0)
        throw IndexError("empty index page has a shared prefix");
    return out;
}

void writeIndexPage(Version format, const IndexPage& page, std::span<std::uint8_t> out)
{
    const IndexPageLayout& L = indexPageLayout(format);
    if (out.size() < L.pageSize)
        throw IndexError("index page buffer too small");
    std::uint8_t* p = out.data();
    std::memset(p, 0, L.pageSize);

    // Like Access, share a prefix only on pages that need it to fit: pages
    // Access never had to split store every entry whole.
    std::size_t whole = 0;
    for (const IndexEntry& e : page.entries)
        whole += entrySize(e, page.leaf);
    const std::size_t prefix = whole <= indexPageCapacity(format) ? 0 : pagePrefix(page.entries);
    const std::size_t used = page.entries.empty() ? 0 : whole - (page.entries.size() - 1) * prefix;
    if (used > indexPageCapacity(format))
        throw IndexError("index entries do not fit on one page");
    std::uint8_t* w = p + L.entries;
    std::size_t end = 0;
    for (std::size_t i = 0; i < page.entries.size(); ++i) {
        const IndexEntry& e = page.entries[i];
        // The row pointer (and child) follow the key big-endian; a shared
        // prefix never reaches into them since it is taken from the keys.
        const std::size_t skip = i == 0 ? 0 : prefix;
        std::memcpy(w + end, e.key.data() + skip, e.key.size() - skip);
        end += e.key.size() - skip;
        w[end++] = std::uint8_t(e.dataPage >> 16);
        w[end++] = std::uint8_t(e.dataPage >> 8);
        w[end++] = std::uint8_t(e.dataPage);
        w[end++] = e.dataRow;
        if (!page.leaf) {
            w[end++] = std::uint8_t(e.child >> 24);
            w[end++] = std::uint8_t(e.child >> 16);
            w[end++] = std::uint8_t(e.child >> 8);
            w[end++] = std::uint8_t(e.child);
        }
        p[L.mask + end / 8] |= std::uint8_t(1u << (end % 8));
    }

    p[0] = page.leaf ? kLeafType : kNodeType;
    p[1] = 0x01;
    std::size_t free = L.pageSize - L.entries - end;
    p[2] = std::uint8_t(free);
    p[3] = std::uint8_t(free >> 8);
    put32(p + 4, page.tdefPage);
    put32(p + L.prev, page.prev);
    put32(p + L.next, page.next);
    put32(p + L.tail, page.leaf ? 0 : page.tail);
    p[L.prefix] = std::uint8_t(prefix);
    if (L.prefixBytes == 2)
        p[L.prefix + 1] = std::uint8_t(prefix >> 8);
    p[L.nodeFlag] = page.leaf ? 0 : 1;
}

}  // namespace jet
