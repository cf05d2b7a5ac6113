#include "jet/index_tree.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace jet {
namespace {

// Where the fields of an index page sit in each format.
struct PageLayout {
    std::size_t pageSize;
    std::size_t prev, next, tail;
    std::size_t prefix;      // shared-prefix length
    std::size_t prefixBytes; // Jet 3 keeps it in one byte, Jet 4 in two
    std::size_t nodeFlag;    // 1 on intermediate pages in Access's files
    std::size_t mask, maskSize;
    std::size_t entries;
};

const PageLayout& layoutOf(IndexFormat f)
{
    static const PageLayout jet3{2048, 8, 12, 16, 20, 1, 21, 0x16, 226, 0xF8};
    static const PageLayout jet4{4096, 12, 16, 20, 24, 2, 26, 0x1B, 453, 0x1E0};
    return f == IndexFormat::Jet3 ? jet3 : jet4;
}

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
constexpr std::size_t kMaxPrefix = 255;

std::uint32_t get32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

void put32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}

// memcmp for the short runs keys differ in, eight bytes at a time.
inline int compareBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t n)
{
    for (; n >= 8; a += 8, b += 8, n -= 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        if (x != y) {
            x = __builtin_bswap64(x);
            y = __builtin_bswap64(y);
            return x < y ? -1 : 1;
        }
    }
    for (; n; ++a, ++b, --n)
        if (*a != *b)
            return *a < *b ? -1 : 1;
    return 0;
}

std::size_t entrySize(const IndexEntry& e, bool leaf) { return e.key.size() + (leaf ? 4 : 8); }

std::size_t commonPrefix(const KeyBytes& a, const KeyBytes& b)
{
    std::size_t n = std::min(a.size(), b.size());
    std::size_t i = 0;
    while (i < n && a[i] == b[i])
        ++i;
    return i;
}

// Shared prefix of the keys on a page.
std::size_t pagePrefix(const std::vector<IndexEntry>& entries)
{
    if (entries.size() < 2)
        return 0;
    // Sorted entries share what the first and last share; confirm with
    // whole-block compares, falling back to the byte walk when unsorted.
    const auto& first = entries.front().key;
    std::size_t p = std::min(commonPrefix(first, entries.back().key), kMaxPrefix);
    bool all = true;
    for (std::size_t i = 1; i + 1 < entries.size() && all; ++i)
        all = entries[i].key.size() >= p && std::memcmp(first.data(), entries[i].key.data(), p) == 0;
    if (all)
        return p;
    for (std::size_t i = 1; i < entries.size() && p > 0; ++i)
        p = std::min(p, commonPrefix(first, entries[i].key));
    return p;
}

IndexEntry asNodeEntry(const IndexEntry& e, std::uint32_t child)
{
    IndexEntry n = e;
    n.child = child;
    return n;
}

bool lessEntry(const IndexEntry& a, const IndexEntry& b) { return compareEntries(a, b) < 0; }

bool sameKey(const IndexEntry& a, std::span<const std::uint8_t> key)
{
    return a.key.size() == key.size() && std::equal(a.key.begin(), a.key.end(), key.begin());
}

}  // namespace

DuplicateKeyError::DuplicateKeyError(std::string indexName)
    : IndexError("The changes were not made because they would create duplicate values in the index \"" +
                 indexName + "\"."),
      name_(std::move(indexName))
{
}

std::strong_ordering compareEntries(const IndexEntry& a, const IndexEntry& b)
{
    std::size_t n = std::min(a.key.size(), b.key.size());
    if (n) {
        int c = compareBytes(a.key.data(), b.key.data(), n);
        if (c != 0)
            return c < 0 ? std::strong_ordering::less : std::strong_ordering::greater;
    }
    if (a.key.size() != b.key.size())
        return a.key.size() <=> b.key.size();
    if (a.dataPage != b.dataPage)
        return a.dataPage <=> b.dataPage;
    return a.dataRow <=> b.dataRow;
}

bool isNullKey(std::span<const std::uint8_t> key)
{
    for (std::uint8_t b : key)
        if (b != 0x00 && b != 0xFF)
            return false;
    return true;
}

std::size_t indexPageCapacity(IndexFormat format)
{
    const PageLayout& L = layoutOf(format);
    return std::min(L.pageSize - L.entries, L.maskSize * 8 - 1);
}

std::size_t encodedEntriesSize(IndexFormat, const std::vector<IndexEntry>& entries, bool leaf)
{
    std::size_t prefix = pagePrefix(entries);
    std::size_t total = 0;
    for (const IndexEntry& e : entries)
        total += entrySize(e, leaf) - prefix;
    return entries.empty() ? 0 : total + prefix;
}

IndexPage parseIndexPage(IndexFormat format, std::span<const std::uint8_t> page)
{
    const PageLayout& L = layoutOf(format);
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

void writeIndexPage(IndexFormat format, const IndexPage& page, std::span<std::uint8_t> out)
{
    const PageLayout& L = layoutOf(format);
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

std::uint32_t countDistinctKeys(const std::vector<IndexEntry>& sorted)
{
    std::uint32_t n = 0;
    for (std::size_t i = 0; i < sorted.size(); ++i)
        if (i == 0 || sorted[i].key != sorted[i - 1].key)
            ++n;
    return n;
}

// ---------------------------------------------------------------------------
// The tree.

struct IndexTree::Impl {
    IndexPageStore& store;
    IndexFormat format;
    std::uint32_t tdef;
    std::uint32_t root;
    std::string name;
    std::size_t capacity;
    std::unordered_map<std::uint32_t, IndexPage> cache;
    std::unordered_set<std::uint32_t> dirty;
    bool deferred = false;
    std::vector<std::uint8_t> buf;

    Impl(IndexPageStore& s, std::uint32_t t, std::uint32_t r, std::string n)
        : store(s), format(s.indexFormat()), tdef(t), root(r), name(std::move(n)),
          capacity(indexPageCapacity(format)), buf(indexPageSize(format))
    {
    }

    struct Meta {
        std::uint64_t use = 0;
        std::size_t sum = std::size_t(-1);  // bytes of the entries stored whole, -1 when unknown
        std::size_t counted = 0;            // entries the page had when it was read
    };
    std::unordered_map<std::uint32_t, Meta> meta;
    std::uint64_t clock = 0;
    // The cache is bounded by entries (about 50 bytes each) and by pages.
    static constexpr std::size_t kCachePages = 8192;
    static constexpr std::size_t kCacheEntries = 150000;
    std::size_t cachedEntries = 0;

    IndexPage& load(std::uint32_t page)
    {
        meta[page].use = ++clock;
        auto it = cache.find(page);
        if (it != cache.end())
            return it->second;
        store.readPage(page, buf);
        IndexPage decoded = parseIndexPage(format, buf);
        meta[page].counted = decoded.entries.size();
        cachedEntries += decoded.entries.size();
        return cache.emplace(page, std::move(decoded)).first->second;
    }

    void put(std::uint32_t page)
    {
        dirty.insert(page);
        Meta& m = meta[page];
        m.sum = std::size_t(-1);
        recount(page, m);
    }

    // Keeps the cache's entry count in step with a changed page.
    void recount(std::uint32_t page, Meta& m)
    {
        auto it = cache.find(page);
        std::size_t now = it == cache.end() ? 0 : it->second.entries.size();
        cachedEntries = cachedEntries - std::min(cachedEntries, m.counted) + now;
        m.counted = now;
    }

    // A page that changed by one added entry of `bytes`.
    void putAdded(std::uint32_t page, std::size_t bytes)
    {
        dirty.insert(page);
        Meta& m = meta[page];
        if (m.sum != std::size_t(-1))
            m.sum += bytes;
        ++m.counted;
        ++cachedEntries;
    }

    // Called when an operation is complete: pages are consistent again.
    void done()
    {
        if (!deferred)
            flush();
        if (cache.size() > kCachePages || cachedEntries > kCacheEntries)
            evict();
    }

    void flush()
    {
        for (std::uint32_t page : dirty) {
            writeIndexPage(format, cache.at(page), buf);
            store.writePage(page, buf);
        }
        dirty.clear();
        rightDirty = false;
    }

    void trim()
    {
        rightKnown = false;
        flush();
        cache.clear();
        meta.clear();
        cachedEntries = 0;
    }

    void forget(std::uint32_t page)
    {
        auto it = meta.find(page);
        if (it == meta.end())
            return;
        cachedEntries -= std::min(cachedEntries, it->second.counted);
        meta.erase(it);
    }

    // Drops the least recently used half of the cached pages.
    void evict()
    {
        rightKnown = false;
        std::vector<std::pair<std::uint64_t, std::uint32_t>> ages;
        ages.reserve(cache.size());
        for (const auto& [page, pg] : cache)
            if (page != root)
                ages.emplace_back(meta[page].use, page);
        std::size_t n = ages.size() / 2;
        std::nth_element(ages.begin(), ages.begin() + std::ptrdiff_t(n), ages.end());
        for (std::size_t i = 0; i < n; ++i) {
            std::uint32_t page = ages[i].second;
            if (dirty.erase(page)) {
                writeIndexPage(format, cache.at(page), buf);
                store.writePage(page, buf);
            }
            cache.erase(page);
            forget(page);
        }
    }

    bool fits(std::uint32_t page) { return fits(load(page), meta[page]); }

    bool fits(const IndexPage& pg, Meta& m)
    {
        if (m.sum == std::size_t(-1)) {
            m.sum = 0;
            for (const IndexEntry& e : pg.entries)
                m.sum += entrySize(e, pg.leaf);
        }
        // Pages of the tree are sorted: the prefix all keys share is the one
        // the first and the last share.
        std::size_t prefix = 0;
        if (pg.entries.size() >= 2)
            prefix = std::min(commonPrefix(pg.entries.front().key, pg.entries.back().key), kMaxPrefix);
        std::size_t size = m.sum - (pg.entries.empty() ? 0 : (pg.entries.size() - 1) * prefix);
        return size <= capacity;
    }

    std::uint32_t allocate(bool leaf)
    {
        rightKnown = false;
        std::uint32_t page = store.allocatePage();
        IndexPage pg;
        pg.leaf = leaf;
        pg.tdefPage = tdef;
        cache[page] = std::move(pg);
        return page;
    }

    struct Step {
        std::uint32_t page;
        std::size_t idx;  // child slot: an entry index, or entries.size() for the tail
    };

    // Entries waiting to enter the tree; for unique trees also a hash of
    // their keys (entry index + 1, 0 = empty slot).
    PackedEntries pending;
    std::vector<std::uint32_t> pendingSlots;
    std::size_t pendingKeyBytes = 0;
    std::size_t pendingLimit = std::size_t(4) << 20;
    bool unique = false;
    std::uint32_t newKeys = 0;
    // A batch that failed half-way leaves the tree unusable until rollback.
    bool broken = false;
    // The last leaf and the way down to it, for appends at the end.
    bool rightKnown = false;
    bool rightAllTails = false;
    bool rightDirty = false;
    std::uint32_t rightLeaf = 0;
    IndexPage* rightPage = nullptr;  // valid while rightKnown: no eviction or page drop since
    Meta* rightMeta = nullptr;
    std::vector<Step> rightPath;

    void checkUsable() const
    {
        if (broken)
            throw IndexError("The index \"" + name +
                             "\" could not be brought up to date; the transaction must be rolled back.");
    }

    static std::uint64_t hashKey(std::span<const std::uint8_t> key)
    {
        std::uint64_t h = 1469598103934665603ull;
        for (std::uint8_t b : key)
            h = (h ^ b) * 1099511628211ull;
        return h ^ (h >> 29);
    }

    void hashInsert(std::uint32_t index)
    {
        if (pending.size() * 2 > pendingSlots.size()) {
            pendingSlots.assign(std::max<std::size_t>(1024, pendingSlots.size() * 2), 0);
            for (std::uint32_t i = 0; i < pending.size(); ++i)
                hashPlace(i);
            return;
        }
        hashPlace(index);
    }

    void hashPlace(std::uint32_t index)
    {
        const std::size_t mask = pendingSlots.size() - 1;
        std::size_t at = std::size_t(hashKey(pending.key(index))) & mask;
        while (pendingSlots[at])
            at = (at + 1) & mask;
        pendingSlots[at] = index + 1;
    }

    bool pendingHasKey(std::span<const std::uint8_t> key) const
    {
        if (pendingSlots.empty())
            return false;
        const std::size_t mask = pendingSlots.size() - 1;
        for (std::size_t at = std::size_t(hashKey(key)) & mask; pendingSlots[at]; at = (at + 1) & mask) {
            auto k = pending.key(pendingSlots[at] - 1);
            if (k.size() == key.size() && std::equal(k.begin(), k.end(), key.begin()))
                return true;
        }
        return false;
    }

    // The way down along the last children.
    void findRight()
    {
        if (rightKnown)
            return;
        rightPath.clear();
        rightAllTails = true;
        std::uint32_t page = root;
        for (int depth = 0;; ++depth) {
            if (depth > 32)
                throw IndexError("index tree is too deep (a cycle?)");
            IndexPage& pg = load(page);
            if (pg.leaf)
                break;
            if (pg.entries.empty() && !pg.tail)
                throw IndexError("intermediate index page without children");
            std::size_t slot = pg.tail ? pg.entries.size() : pg.entries.size() - 1;
            rightAllTails = rightAllTails && pg.tail;
            rightPath.push_back({page, slot});
            page = childAt(pg, slot);
        }
        rightLeaf = page;
        rightPage = &load(page);
        rightMeta = &meta[page];
        rightDirty = dirty.count(page) != 0;
        rightKnown = true;
    }

    // Whether no entry can have this key: it sorts after the last key.
    bool afterLastKey(std::span<const std::uint8_t> key)
    {
        findRight();
        const IndexPage& leaf = *rightPage;
        if (leaf.entries.empty())
            return rightLeaf == root;
        const KeyBytes& last = leaf.entries.back().key;
        const std::size_t n = std::min(last.size(), key.size());
        int c = n ? std::memcmp(key.data(), last.data(), n) : 0;
        return c > 0 || (c == 0 && key.size() > last.size());
    }

    // Appends an entry that sorts after every other onto the last leaf;
    // false (nothing changed) when it does not.
    bool appendAtEnd(const IndexEntry& entry)
    {
        findRight();
        IndexPage& leaf = *rightPage;
        if (leaf.entries.empty() ? rightLeaf != root : compareEntries(leaf.entries.back(), entry) >= 0)
            return false;
        const bool newKey = leaf.entries.empty() || !sameKey(leaf.entries.back(), entry.key);
        leaf.entries.push_back(entry);
        leaf.entries.back().child = 0;
        // As putAdded, without looking the page up.
        if (!rightDirty) {
            dirty.insert(rightLeaf);
            rightDirty = true;
        }
        Meta& m = *rightMeta;
        m.use = ++clock;
        if (m.sum != std::size_t(-1))
            m.sum += entrySize(entry, true);
        ++m.counted;
        ++cachedEntries;
        bool overflow = !fits(leaf, m);
        if (!rightAllTails && propagateMax(rightPath, entry))
            for (const auto& st : rightPath)
                overflow = overflow || !fits(st.page);
        if (overflow) {
            rightKnown = false;
            fixOverflows(entry);
        }
        if (newKey)
            ++newKeys;
        done();
        return true;
    }

    void addPending(const IndexEntry& entry)
    {
        if (pending.empty() && pending.memoryBytes() == 0) {
            const std::size_t n = pendingLimit / (PackedEntries::kItemBytes + 16);
            pending.reserve(n, n * 24);
        }
        pending.add(entry.key, entry.dataPage, entry.dataRow);
        pendingKeyBytes += entry.key.size();
        if (unique)
            hashInsert(std::uint32_t(pending.size() - 1));
        if (pending.size() * PackedEntries::kItemBytes + pendingKeyBytes + pendingSlots.size() * 4 >= pendingLimit)
            applyPending();
    }

    void clearPending()
    {
        pending = PackedEntries();
        pendingSlots = {};
        pendingKeyBytes = 0;
    }

    // Brings the waiting entries into the tree: into an empty tree they are
    // written bottom-up, else merged leaf by leaf in one pass.
    void applyPending();
    void mergeSorted(const PackedEntries& batch);
    void buildFrom(PackedEntries entries, bool unique);

    // Child slot of a node page for `target`: the first entry not below it,
    // else the tail.
    static std::size_t childSlot(const IndexPage& node, const IndexEntry& target)
    {
        auto it = std::lower_bound(node.entries.begin(), node.entries.end(), target, lessEntry);
        return std::size_t(it - node.entries.begin());
    }

    static std::uint32_t childAt(const IndexPage& node, std::size_t slot)
    {
        if (slot < node.entries.size())
            return node.entries[slot].child;
        if (node.tail)
            return node.tail;
        if (node.entries.empty())
            throw IndexError("intermediate index page without children");
        return node.entries.back().child;
    }

    // Descends to the leaf for `target`; path receives the node steps.
    std::uint32_t descend(const IndexEntry& target, std::vector<Step>& path)
    {
        path.clear();
        std::uint32_t page = root;
        for (int depth = 0;; ++depth) {
            if (depth > 32)
                throw IndexError("index tree is too deep (a cycle?)");
            IndexPage& pg = load(page);
            if (pg.leaf)
                return page;
            std::size_t slot = childSlot(pg, target);
            if (slot >= pg.entries.size() && !pg.tail)
                slot = pg.entries.empty() ? 0 : pg.entries.size() - 1;
            path.push_back({page, slot});
            page = childAt(pg, slot);
        }
    }

    // Sets the ancestors' entries after a page's last entry changed; path
    // holds the ancestors of that page. Pages may overflow: fixOverflows().
    bool propagateMax(const std::vector<Step>& path, const IndexEntry& newMax)
    {
        for (std::size_t i = path.size(); i-- > 0;) {
            IndexPage& parent = load(path[i].page);
            std::size_t slot = path[i].idx;
            if (slot < parent.entries.size()) {
                std::uint32_t child = parent.entries[slot].child;
                parent.entries[slot] = asNodeEntry(newMax, child);
                parent.entries[slot].child = child;
                put(path[i].page);
                return true;
            }
            // the page is its parent's tail: the parent's last entry changed too
        }
        return false;
    }

    // Splits chain[level] (chain = the path's pages, then the leaf) into a
    // new left page and the original page, and adds the left page's entry
    // to the parent. The parent may overflow in turn.
    void splitOnce(const std::vector<Step>& path, std::uint32_t leafNo, std::size_t level,
                   const IndexEntry& target)
    {
        std::vector<std::uint32_t> chain;
        for (const Step& st : path)
            chain.push_back(st.page);
        chain.push_back(leafNo);
        std::uint32_t pageNo = chain[level];
        std::size_t hint = level < path.size() ? path[level].idx : std::size_t(-1);
        if (level == path.size()) {
            const IndexPage& lf = load(leafNo);
            hint = std::size_t(std::lower_bound(lf.entries.begin(), lf.entries.end(), target, lessEntry) -
                               lf.entries.begin());
        }
        std::size_t parentSlot = 0;
        std::uint32_t parentNo = 0;

        if (pageNo == root) {
            // The root keeps its number: its content moves to a new page
            // below it, which is then split.
            std::uint32_t moved = pushRootDown();
            pageNo = moved;
            parentNo = root;
            parentSlot = 0;
        } else {
            parentNo = chain[level - 1];
            parentSlot = path[level - 1].idx;
        }

        IndexPage& orig = load(pageNo);
        const bool leaf = orig.leaf;
        const std::size_t n = orig.entries.size();
        if (n < (leaf ? 2u : 3u))
            throw IndexError("index page cannot be split");

        std::size_t k;
        if (hint != std::size_t(-1) && hint + 1 >= n && !orig.next) {
            k = n - 1;  // growing at the end: leave the left page full
        } else {
            std::size_t prefix = pagePrefix(orig.entries);
            std::size_t total = 0;
            for (const IndexEntry& e : orig.entries)
                total += entrySize(e, leaf) - prefix;
            std::size_t acc = 0;
            k = 0;
            while (k < n - 1 && acc + entrySize(orig.entries[k], leaf) - prefix <= total / 2) {
                acc += entrySize(orig.entries[k], leaf) - prefix;
                ++k;
            }
        }
        std::size_t minLeft = leaf ? 1 : 2;
        if (k < minLeft)
            k = minLeft;
        if (k > n - 1)
            k = n - 1;

        std::uint32_t leftNo = allocate(leaf);
        IndexPage& left = cache[leftNo];
        IndexPage& o = load(pageNo);
        left.entries.assign(std::make_move_iterator(o.entries.begin()),
                            std::make_move_iterator(o.entries.begin() + std::ptrdiff_t(k)));
        o.entries.erase(o.entries.begin(), o.entries.begin() + std::ptrdiff_t(k));
        IndexEntry parentEntry = asNodeEntry(left.entries.back(), leftNo);
        if (!leaf) {
            left.tail = left.entries.back().child;
            left.entries.pop_back();
        }
        left.prev = o.prev;
        left.next = pageNo;
        std::uint32_t before = o.prev;
        o.prev = leftNo;
        put(pageNo);
        put(leftNo);
        if (before) {
            IndexPage& bp = load(before);
            bp.next = leftNo;
            put(before);
        }

        // Intermediate pages link only to pages under the same parent.
        if (!leaf) {
            std::uint32_t lastChild = load(leftNo).tail;
            std::uint32_t firstChild = childAt(load(pageNo), 0);
            if (!load(lastChild).leaf) {
                load(lastChild).next = 0;
                put(lastChild);
                load(firstChild).prev = 0;
                put(firstChild);
            }
        }

        IndexPage& parent = load(parentNo);
        parent.entries.insert(parent.entries.begin() + std::ptrdiff_t(parentSlot), std::move(parentEntry));
        put(parentNo);
    }

    // Splits overflowing pages on the way to `target`, lowest first, until
    // every page there fits.
    void fixOverflows(const IndexEntry& target)
    {
        for (int round = 0; round < 256; ++round) {
            std::vector<Step> path;
            std::uint32_t leafNo = descend(target, path);
            std::size_t bad = std::size_t(-1);
            if (!fits(leafNo)) {
                bad = path.size();
            } else {
                for (std::size_t i = path.size(); i-- > 0;) {
                    if (!fits(path[i].page)) {
                        bad = i;
                        break;
                    }
                }
            }
            if (bad == std::size_t(-1))
                return;
            splitOnce(path, leafNo, bad, target);
        }
        throw IndexError("index page splitting does not converge");
    }

    // Where to cut sorted entries into pages that each fit (their shared
    // prefix counted) and hold about `target` bytes. `used` receives the
    // bytes all pieces take.
    std::vector<std::size_t> cutPieces(const std::vector<IndexEntry>& all, bool leaf, std::size_t target,
                                       std::size_t* used) const
    {
        std::vector<std::size_t> cuts;
        const std::size_t n = all.size();
        const std::size_t minPiece = leaf ? 1 : 2;
        std::size_t begin = 0, taken = 0, sum = 0, prefix = 0, total = 0;
        for (std::size_t j = 0; j < n; ++j) {
            const std::size_t sz = entrySize(all[j], leaf);
            std::size_t np = prefix;
            if (taken > 0) {
                np = std::min(prefix, commonPrefix(all[begin].key, all[j].key));
                const std::size_t size = sum + sz - taken * np;
                // A left piece of a node gives its last child to its tail,
                // so it needs two; the last piece keeps the page's tail.
                if (taken >= minPiece && (size > capacity || size > target)) {
                    cuts.push_back(j);
                    total += sum - (taken - 1) * prefix;
                    begin = j;
                    taken = 0;
                    sum = 0;
                }
            }
            prefix = taken == 0 ? std::min(all[j].key.size(), kMaxPrefix) : np;
            sum += sz;
            ++taken;
        }
        if (taken)
            total += sum - (taken - 1) * prefix;
        if (used)
            *used = total;
        return cuts;
    }

    // The root keeps its number: its content moves to a new page below it,
    // and the root becomes an intermediate page whose only child is that page.
    std::uint32_t pushRootDown()
    {
        std::uint32_t moved = allocate(load(root).leaf);
        IndexPage& r = load(root);
        IndexPage& m = cache[moved];
        m.leaf = r.leaf;
        m.entries = std::move(r.entries);
        m.tail = r.tail;
        m.prev = m.next = 0;
        r.entries.clear();
        r.leaf = false;
        r.tail = moved;
        r.prev = r.next = 0;
        put(root);
        put(moved);
        return moved;
    }

    // Splits an overfull page into as many pages as its entries need. The
    // page keeps the last part, so its parent's entry for it stays right;
    // the new pages before it get entries in the parent, which is split in
    // turn when it overflows. `path` holds the page's ancestors.
    void splitMany(std::vector<Step> path, std::uint32_t pageNo)
    {
        rightKnown = false;
        if (pageNo == root) {
            // The root keeps its number: its content moves to a new page below.
            std::uint32_t moved = pushRootDown();
            path.assign(1, Step{root, 0});
            pageNo = moved;
        }

        std::vector<IndexEntry> all = std::move(load(pageNo).entries);
        load(pageNo).entries.clear();
        const bool leaf = load(pageNo).leaf;
        // Full pages first, to learn how many are needed; then the same
        // number of pages filled evenly.
        std::size_t used = 0;
        std::vector<std::size_t> cuts = cutPieces(all, leaf, capacity, &used);
        if (!cuts.empty()) {
            const std::size_t even = used / (cuts.size() + 1) + 16;
            if (even < capacity)
                cuts = cutPieces(all, leaf, even, nullptr);
        }
        if (cuts.empty()) {
            load(pageNo).entries = std::move(all);
            throw IndexError("index page cannot be split");
        }

        std::vector<std::uint32_t> numbers;
        numbers.reserve(cuts.size());
        for (std::size_t c = 0; c < cuts.size(); ++c)
            numbers.push_back(allocate(leaf));
        const std::uint32_t before = load(pageNo).prev;
        std::vector<IndexEntry> seps;
        seps.reserve(cuts.size());
        std::size_t start = 0;
        for (std::size_t c = 0; c < cuts.size(); ++c) {
            IndexPage& piece = cache[numbers[c]];
            piece.entries.assign(std::make_move_iterator(all.begin() + std::ptrdiff_t(start)),
                                 std::make_move_iterator(all.begin() + std::ptrdiff_t(cuts[c])));
            seps.push_back(asNodeEntry(piece.entries.back(), numbers[c]));
            if (!leaf) {
                piece.tail = piece.entries.back().child;
                piece.entries.pop_back();
            }
            piece.prev = c ? numbers[c - 1] : before;
            piece.next = c + 1 < cuts.size() ? numbers[c + 1] : pageNo;
            put(numbers[c]);
            start = cuts[c];
        }
        IndexPage& o = load(pageNo);
        o.entries.assign(std::make_move_iterator(all.begin() + std::ptrdiff_t(start)),
                         std::make_move_iterator(all.end()));
        o.prev = numbers.back();
        put(pageNo);
        if (before) {
            load(before).next = numbers.front();
            put(before);
        }
        // Intermediate pages link only to pages under the same parent.
        if (!leaf) {
            for (std::size_t c = 0; c < numbers.size(); ++c) {
                std::uint32_t lastChild = load(numbers[c]).tail;
                std::uint32_t right = c + 1 < numbers.size() ? numbers[c + 1] : pageNo;
                std::uint32_t firstChild = childAt(load(right), 0);
                if (!load(lastChild).leaf) {
                    load(lastChild).next = 0;
                    put(lastChild);
                    load(firstChild).prev = 0;
                    put(firstChild);
                }
            }
        }

        const Step st = path.back();
        path.pop_back();
        IndexPage& parent = load(st.page);
        parent.entries.insert(parent.entries.begin() + std::ptrdiff_t(st.idx), std::make_move_iterator(seps.begin()),
                              std::make_move_iterator(seps.end()));
        put(st.page);
        if (!fits(st.page))
            splitMany(std::move(path), st.page);
    }

    // Splits every overfull page on the way to `target`.
    void fixOverflowsMany(const IndexEntry& target)
    {
        for (int round = 0; round < 64; ++round) {
            std::vector<Step> path;
            std::uint32_t leafNo = descend(target, path);
            if (!fits(leafNo)) {
                splitMany(path, leafNo);
                continue;
            }
            bool any = false;
            for (std::size_t i = path.size(); i-- > 0 && !any;) {
                if (!fits(path[i].page)) {
                    std::uint32_t page = path[i].page;
                    path.resize(i);
                    splitMany(path, page);
                    any = true;
                }
            }
            if (!any)
                return;
        }
        throw IndexError("index page splitting does not converge");
    }

    // First entry with key >= key (page 0 row 0), or nullptr.
    const IndexEntry* lowerBoundKey(std::span<const std::uint8_t> key)
    {
        IndexEntry probe;
        probe.key.assign(key.begin(), key.end());
        std::vector<Step> path;
        std::uint32_t leafNo = descend(probe, path);
        for (int guard = 0; leafNo && guard < 1000000; ++guard) {
            IndexPage& leaf = load(leafNo);
            auto it = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), probe, lessEntry);
            if (it != leaf.entries.end())
                return &*it;
            leafNo = leaf.next;
        }
        return nullptr;
    }

    void dropPage(std::uint32_t page)
    {
        rightKnown = false;
        cache.erase(page);
        dirty.erase(page);
        forget(page);
        store.freePage(page);
    }

    // Takes an emptied page out of the tree; path holds its ancestors.
    void removeEmptyPage(std::vector<Step>& path, std::uint32_t pageNo)
    {
        IndexPage pg = load(pageNo);
        if (pg.prev) {
            IndexPage& p = load(pg.prev);
            p.next = pg.next;
            put(pg.prev);
        }
        if (pg.next) {
            IndexPage& n = load(pg.next);
            n.prev = pg.prev;
            put(pg.next);
        }
        dropPage(pageNo);

        Step step = path.back();
        path.pop_back();
        IndexPage& parent = load(step.page);
        if (step.idx < parent.entries.size()) {
            parent.entries.erase(parent.entries.begin() + std::ptrdiff_t(step.idx));
            put(step.page);
        } else if (!parent.entries.empty()) {
            IndexEntry last = parent.entries.back();
            parent.tail = last.child;
            parent.entries.pop_back();
            put(step.page);
            propagateMax(path, last);
        } else if (step.page != root) {
            removeEmptyPage(path, step.page);
            return;
        } else {
            IndexPage& r = load(root);
            r.leaf = true;
            r.tail = 0;
            put(root);
        }
        collapseRoot();
    }

    // A root left with a single child takes that child's place.
    void collapseRoot()
    {
        for (;;) {
            IndexPage& r = load(root);
            if (r.leaf || !r.entries.empty() || !r.tail)
                return;
            std::uint32_t child = r.tail;
            IndexPage c = load(child);
            IndexPage& r2 = load(root);
            r2.leaf = c.leaf;
            r2.entries = std::move(c.entries);
            r2.tail = c.tail;
            r2.prev = r2.next = 0;
            put(root);
            dropPage(child);
        }
    }

    // Checks the subtree under `page`; returns its last leaf entry.
    bool verifyPage(std::uint32_t page, std::size_t level, std::vector<std::vector<std::uint32_t>>& levels,
                    std::unordered_set<std::uint32_t>& seen, IndexScan& scan, IndexEntry& last)
    {
        if (level > 32)
            throw IndexError("index tree is too deep");
        if (!seen.insert(page).second)
            throw IndexError("index page " + std::to_string(page) + " is reached twice");
        scan.pages.push_back(page);
        if (levels.size() <= level)
            levels.resize(level + 1);
        levels[level].push_back(page);

        store.readPage(page, buf);
        IndexPage pg = parseIndexPage(format, buf);
        const PageLayout& L = layoutOf(format);
        std::size_t end = 0;
        for (std::size_t bit = 1; bit < L.maskSize * 8; ++bit)
            if (buf[L.mask + bit / 8] & (1u << (bit % 8)))
                end = bit;
        std::size_t freeField = std::size_t(buf[2]) | std::size_t(buf[3]) << 8;
        const std::string where = "index page " + std::to_string(page) + ": ";
        if (freeField != L.pageSize - L.entries - end)
            throw IndexError(where + "free space field does not match the entries");
        if (pg.tdefPage != tdef)
            throw IndexError(where + "belongs to table definition " + std::to_string(pg.tdefPage));
        for (std::size_t i = 1; i < pg.entries.size(); ++i)
            if (compareEntries(pg.entries[i - 1], pg.entries[i]) >= 0)
                throw IndexError(where + "entries out of order");

        if (pg.leaf) {
            if (pg.entries.empty()) {
                if (page != root)
                    throw IndexError(where + "empty leaf page inside the tree");
                return false;
            }
            if (!scan.entries.empty() && compareEntries(scan.entries.back(), pg.entries.front()) >= 0)
                throw IndexError(where + "entries out of order across pages");
            scan.entries.insert(scan.entries.end(), pg.entries.begin(), pg.entries.end());
            last = pg.entries.back();
            last.child = 0;
            if (scan.depth < level + 1)
                scan.depth = std::uint32_t(level + 1);
            return true;
        }

        if (pg.entries.empty() && !pg.tail)
            throw IndexError(where + "intermediate page without children");
        bool any = false;
        for (const IndexEntry& e : pg.entries) {
            IndexEntry sub;
            if (!verifyPage(e.child, level + 1, levels, seen, scan, sub))
                throw IndexError(where + "child page " + std::to_string(e.child) + " is empty");
            IndexEntry cmp = e;
            cmp.child = 0;
            if (compareEntries(cmp, sub) != 0)
                throw IndexError(where + "entry for child page " + std::to_string(e.child) +
                                 " differs from that page's last entry");
            last = sub;
            any = true;
        }
        if (pg.tail) {
            IndexEntry sub;
            if (!verifyPage(pg.tail, level + 1, levels, seen, scan, sub))
                throw IndexError(where + "tail page " + std::to_string(pg.tail) + " is empty");
            if (any && compareEntries(last, sub) >= 0)
                throw IndexError(where + "tail page out of order");
            last = sub;
            any = true;
        }
        return any;
    }

    void collectPages(std::uint32_t page, std::vector<std::uint32_t>& out, int depth)
    {
        if (depth > 32)
            throw IndexError("index tree is too deep (a cycle?)");
        out.push_back(page);
        IndexPage pg = load(page);
        if (pg.leaf)
            return;
        for (const IndexEntry& e : pg.entries)
            collectPages(e.child, out, depth + 1);
        if (pg.tail)
            collectPages(pg.tail, out, depth + 1);
    }
};

IndexTree::IndexTree(IndexPageStore& store, std::uint32_t tdefPage, std::uint32_t rootPage,
                     std::string name)
    : impl_(std::make_unique<Impl>(store, tdefPage, rootPage, std::move(name)))
{
}

IndexTree::~IndexTree() = default;

std::uint32_t IndexTree::rootPage() const { return impl_->root; }
const std::string& IndexTree::name() const { return impl_->name; }

std::uint32_t IndexTree::createEmpty(IndexPageStore& store, std::uint32_t tdefPage)
{
    std::uint32_t page = store.allocatePage();
    IndexPage pg;
    pg.tdefPage = tdefPage;
    std::vector<std::uint8_t> buf(indexPageSize(store.indexFormat()));
    writeIndexPage(store.indexFormat(), pg, buf);
    store.writePage(page, buf);
    return page;
}

void IndexTree::setDeferredWrites(bool deferred)
{
    if (!deferred) {
        impl_->applyPending();
        impl_->flush();
    }
    impl_->deferred = deferred;
}

void IndexTree::flush()
{
    impl_->applyPending();
    impl_->clearPending();
    impl_->checkUsable();
    impl_->flush();
}

void IndexTree::discardCache()
{
    impl_->clearPending();
    impl_->newKeys = 0;
    impl_->broken = false;
    impl_->rightKnown = false;
    impl_->dirty.clear();
    impl_->cache.clear();
    impl_->meta.clear();
    impl_->cachedEntries = 0;
}

void IndexTree::build(std::vector<IndexEntry> entries, bool unique)
{
    PackedEntries packed;
    for (const IndexEntry& e : entries)
        packed.add(e.key, e.dataPage, e.dataRow);
    entries.clear();
    entries.shrink_to_fit();
    build(std::move(packed), unique);
}

void IndexTree::build(PackedEntries entries, bool unique)
{
    impl_->checkUsable();
    impl_->clearPending();
    impl_->rightKnown = false;
    impl_->buildFrom(std::move(entries), unique);
}

void IndexTree::Impl::buildFrom(PackedEntries entries, bool unique)
{
    Impl& t = *this;
    entries.sort();
    const std::size_t maxEntry = t.capacity / 2 - 8;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        auto k = entries.key(i);
        if (k.size() + 8 > maxEntry)
            throw IndexError("index key too long for index \"" + t.name + "\"");
        if (unique && i > 0 && !isNullKey(k)) {
            auto prev = entries.key(i - 1);
            if (prev.size() == k.size() && std::equal(k.begin(), k.end(), prev.begin()))
                throw DuplicateKeyError(t.name);
        }
    }

    // Free the old tree except its root.
    t.flush();
    std::vector<std::uint32_t> old;
    t.collectPages(t.root, old, 0);
    t.cache.clear();
    t.dirty.clear();
    t.meta.clear();
    t.cachedEntries = 0;
    for (std::uint32_t p : old)
        if (p != t.root)
            t.store.freePage(p);

    std::vector<IndexEntry> items;  // the levels above the leaves
    bool leaf = true;
    auto count = [&] { return leaf ? entries.size() : items.size(); };
    auto keyAt = [&](std::size_t i) -> std::span<const std::uint8_t> {
        return leaf ? entries.key(i) : std::span<const std::uint8_t>(items[i].key);
    };
    auto lcp = [](std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
        std::size_t n = std::min(a.size(), b.size()), i = 0;
        while (i < n && a[i] == b[i])
            ++i;
        return i;
    };

    // Groups the items of one level into pages, filling each page. An
    // intermediate page does not store its last child (the tail), so it
    // takes an item while the items it already holds fit.
    auto group = [&]() {
        std::vector<std::pair<std::size_t, std::size_t>> groups;  // [begin, end)
        const std::size_t n = count();
        std::size_t begin = 0, taken = 0, sum = 0, prefix = 0;
        for (std::size_t j = 0; j < n; ++j) {
            auto k = keyAt(j);
            std::size_t sz = k.size() + (leaf ? 4 : 8);
            bool take = true;
            std::size_t np = prefix;
            if (taken >= 1) {
                np = std::min(prefix, lcp(keyAt(begin), k));
                if (leaf)
                    take = sum + sz - taken * np <= t.capacity;
                else
                    take = taken < 2 || sum - (taken - 1) * prefix <= t.capacity;
            }
            if (!take) {
                groups.emplace_back(begin, j);
                begin = j;
                taken = 0;
                sum = 0;
            }
            prefix = taken == 0 ? std::min(k.size(), kMaxPrefix) : np;
            sum += sz;
            ++taken;
        }
        if (taken > 0 || groups.empty())
            groups.emplace_back(begin, n);
        if (!leaf && groups.size() > 1) {
            auto& last = groups.back();
            auto& prev = groups[groups.size() - 2];
            if (last.second - last.first < 2 && prev.second - prev.first > 2) {
                --prev.second;
                --last.first;
            }
        }
        return groups;
    };

    for (int depth = 0; depth < 64; ++depth) {
        auto groups = group();
        std::vector<std::uint32_t> numbers(groups.size(), t.root);
        if (groups.size() > 1)
            for (std::uint32_t& n : numbers)
                n = t.store.allocatePage();
        std::vector<IndexEntry> up;
        up.reserve(groups.size());
        for (std::size_t g = 0; g < groups.size(); ++g) {
            IndexPage pg;
            pg.leaf = leaf;
            pg.tdefPage = t.tdef;
            if (groups.size() > 1) {
                pg.prev = g ? numbers[g - 1] : 0;
                pg.next = g + 1 < groups.size() ? numbers[g + 1] : 0;
            }
            auto [b, e] = groups[g];
            pg.entries.reserve(e - b);
            for (std::size_t i = b; i < e; ++i)
                pg.entries.push_back(leaf ? entries.entry(i) : std::move(items[i]));
            if (b < e)
                up.push_back(asNodeEntry(pg.entries.back(), numbers[g]));
            if (!leaf && !pg.entries.empty()) {
                pg.tail = pg.entries.back().child;
                pg.entries.pop_back();
            }
            writeIndexPage(t.format, pg, t.buf);
            t.store.writePage(numbers[g], t.buf);
        }
        if (groups.size() == 1)
            return;
        if (leaf)
            entries = PackedEntries();  // the leaves are written: give the memory back
        items = std::move(up);
        leaf = false;
    }
    throw IndexError("index tree too deep");
}

void IndexTree::Impl::applyPending()
{
    if (pending.empty())
        return;
    checkUsable();
    rightKnown = false;
    try {
        pending.sort();
        const IndexPage& r = load(root);
        if (r.leaf && r.entries.empty()) {
            std::uint32_t distinct = 0;
            for (std::size_t i = 0; i < pending.size(); ++i)
                if (i == 0 || !pending.sameKey(i, i - 1))
                    ++distinct;
            PackedEntries batch = std::move(pending);
            clearPending();
            buildFrom(std::move(batch), false);
            newKeys += distinct;
        } else {
            mergeSorted(pending);
            // The next batch reuses the buffers; flush() gives them back.
            pending.clear();
            pendingSlots.assign(pendingSlots.size(), 0);
            pendingKeyBytes = 0;
        }
    } catch (...) {
        clearPending();
        broken = true;
        throw;
    }
}

// One visit per leaf: the entries that belong to a leaf are merged into it
// together, then the leaf is split into as many pages as it needs.
void IndexTree::Impl::mergeSorted(const PackedEntries& b)
{
    std::vector<Step> path;
    std::vector<IndexEntry> merged;
    IndexEntry probe, bound;
    const std::size_t m = b.size();
    std::size_t i = 0;
    while (i < m) {
        probe = b.entry(i);
        const std::uint32_t leafNo = descend(probe, path);
        // The leaf takes every entry up to its ancestors' nearest entry
        // above the probe (none on the rightmost way down).
        bool bounded = false;
        for (std::size_t k = path.size(); k-- > 0;) {
            const IndexPage& pg = load(path[k].page);
            if (path[k].idx < pg.entries.size() && compareEntries(probe, pg.entries[path[k].idx]) <= 0) {
                bound = pg.entries[path[k].idx];
                bound.child = 0;
                bounded = true;
                break;
            }
        }
        std::size_t j = i + 1;
        while (j < m && (!bounded || b.compare(j, bound) <= 0))
            ++j;

        IndexPage& leaf = load(leafNo);
        std::vector<IndexEntry>& old = leaf.entries;
        const bool grows = old.empty() || b.compare(j - 1, old.back()) > 0;
        merged.clear();
        merged.reserve(old.size() + (j - i));
        std::size_t o = 0;
        for (std::size_t x = i; x < j; ++x) {
            while (o < old.size() && b.compare(x, old[o]) > 0)
                merged.push_back(std::move(old[o++]));
            if (o < old.size() && b.compare(x, old[o]) == 0)
                continue;  // already there
            if (!merged.empty() && b.compare(x, merged.back()) == 0)
                continue;
            // A key is new when neither waiting entries before it nor the
            // tree's entries beside it have it. The tree's neighbours are the
            // entries around the insertion point, on this leaf or at the end
            // of the previous / start of the next one.
            bool known = x > 0 && b.sameKey(x, x - 1);
            if (!known) {
                auto key = b.key(x);
                if (!merged.empty()) {
                    known = sameKey(merged.back(), key);
                } else if (leaf.prev) {
                    const IndexPage& p = load(leaf.prev);
                    known = !p.entries.empty() && sameKey(p.entries.back(), key);
                }
                if (!known) {
                    if (o < old.size()) {
                        known = sameKey(old[o], key);
                    } else if (leaf.next) {
                        const IndexPage& nx = load(leaf.next);
                        known = !nx.entries.empty() && sameKey(nx.entries.front(), key);
                    }
                }
            }
            if (!known)
                ++newKeys;
            merged.push_back(b.entry(x));
        }
        while (o < old.size())
            merged.push_back(std::move(old[o++]));
        old.swap(merged);
        put(leafNo);
        bool overflow = !fits(leafNo);
        if (grows && propagateMax(path, leaf.entries.back()))
            for (const auto& st : path)
                overflow = overflow || !fits(st.page);
        if (overflow)
            fixOverflowsMany(b.entry(j - 1));
        done();
        i = j;
    }
}

// ---------------------------------------------------------------------------

namespace {
std::uint64_t keyWord(std::span<const std::uint8_t> key, std::size_t from)
{
    std::uint64_t v = 0;
    const std::size_t n = key.size() > from ? std::min<std::size_t>(key.size() - from, 8) : 0;
    for (std::size_t i = 0; i < n; ++i)
        v |= std::uint64_t(key[from + i]) << (56 - 8 * i);
    return v;
}
}  // namespace

bool PackedEntries::less(const Item& a, const Item& b) const
{
    if (a.head != b.head)
        return a.head < b.head;
    if (a.next != b.next)
        return a.next < b.next;
    // Equal zero-padded first 16 bytes: the first min(length, 16) bytes agree.
    const std::size_t la = length(a), lb = length(b);
    const std::size_t n = std::min(la, lb);
    if (n > 16) {
        int c = compareBytes(bytes_.data() + a.offset + 18, bytes_.data() + b.offset + 18, n - 16);
        if (c != 0)
            return c < 0;
    }
    if (la != lb)
        return la < lb;
    return a.pointer < b.pointer;
}

void PackedEntries::add(std::span<const std::uint8_t> key, std::uint32_t dataPage, std::uint8_t dataRow)
{
    if (key.size() > 0xFFFF)
        throw IndexError("index key too long");
    if (bytes_.size() + key.size() + 2 > 0xFFFFFFFFu)
        throw IndexError("index keys take more than 4 GB");
    Item it{keyWord(key, 0), keyWord(key, 8), std::uint32_t(bytes_.size()), dataPage << 8 | dataRow};
    const std::size_t at = bytes_.size();
    bytes_.resize(at + 2 + key.size());
    bytes_[at] = std::uint8_t(key.size());
    bytes_[at + 1] = std::uint8_t(key.size() >> 8);
    if (!key.empty())
        std::memcpy(bytes_.data() + at + 2, key.data(), key.size());
    if (sorted_ && !items_.empty() && !less(items_.back(), it))
        sorted_ = false;
    items_.push_back(it);
}

std::span<const std::uint8_t> PackedEntries::key(std::size_t i) const
{
    return {bytes_.data() + items_[i].offset + 2, length(items_[i])};
}

IndexEntry PackedEntries::entry(std::size_t i) const
{
    IndexEntry e;
    auto k = key(i);
    e.key.assign(k.begin(), k.end());
    e.dataPage = items_[i].pointer >> 8;
    e.dataRow = std::uint8_t(items_[i].pointer);
    return e;
}

std::strong_ordering PackedEntries::compare(std::size_t i, const IndexEntry& e) const
{
    auto k = key(i);
    const std::size_t n = std::min(k.size(), e.key.size());
    if (n) {
        int c = compareBytes(k.data(), e.key.data(), n);
        if (c != 0)
            return c < 0 ? std::strong_ordering::less : std::strong_ordering::greater;
    }
    if (k.size() != e.key.size())
        return k.size() <=> e.key.size();
    return items_[i].pointer <=> (e.dataPage << 8 | e.dataRow);
}

bool PackedEntries::sameKey(std::size_t i, std::size_t j) const
{
    const Item& a = items_[i];
    const Item& b = items_[j];
    if (a.head != b.head || a.next != b.next)
        return false;
    const std::size_t la = length(a);
    return la == length(b) &&
           (la <= 16 || std::memcmp(bytes_.data() + a.offset + 18, bytes_.data() + b.offset + 18, la - 16) == 0);
}

void PackedEntries::sort()
{
    if (sorted_)
        return;
    // The first 16 bytes decide most comparisons; keep that part inline.
    std::sort(items_.begin(), items_.end(), [this](const Item& a, const Item& b) {
        if (a.head != b.head)
            return a.head < b.head;
        if (a.next != b.next)
            return a.next < b.next;
        return less(a, b);
    });
    sorted_ = true;
}

void IndexTree::add(const IndexEntry& entry)
{
    Impl& t = *impl_;
    t.checkUsable();
    if (entrySize(entry, false) > t.capacity / 2 - 8)
        throw IndexError("index key too long for index \"" + t.name + "\"");
    if (t.pending.empty() && t.appendAtEnd(entry))
        return;
    t.addPending(entry);
}

std::uint32_t IndexTree::takeNewKeys()
{
    std::uint32_t n = impl_->newKeys;
    impl_->newKeys = 0;
    return n;
}

void IndexTree::setUnique(bool unique)
{
    impl_->applyPending();
    impl_->unique = unique;
}

void IndexTree::setPendingLimit(std::size_t bytes) { impl_->pendingLimit = bytes; }

std::size_t IndexTree::pendingCount() const { return impl_->pending.size(); }

std::uint32_t IndexTree::pendingPageBound() const
{
    const Impl& t = *impl_;
    if (t.pending.empty())
        return 0;
    // Pages filled at least to a quarter, plus the levels above.
    const std::size_t bytes = t.pendingKeyBytes + t.pending.size() * 8;
    return std::uint32_t(std::min<std::size_t>(8 + 4 * bytes / t.capacity, 0x7FFFFFFF));
}

bool IndexTree::insert(const IndexEntry& entry, bool unique)
{
    Impl& t = *impl_;
    t.applyPending();
    if (entrySize(entry, false) > t.capacity / 2 - 8)
        throw IndexError("index key too long for index \"" + t.name + "\"");

    std::vector<Impl::Step> path;
    std::uint32_t leafNo = t.descend(entry, path);
    IndexPage* leaf = &t.load(leafNo);
    auto it = std::lower_bound(leaf->entries.begin(), leaf->entries.end(), entry, lessEntry);
    if (it != leaf->entries.end() && compareEntries(*it, entry) == 0)
        return false;  // already there

    // Equal keys sit next to the new entry; only at the edge of a page can
    // they be on a neighbouring page.
    bool keyExists;
    if (it != leaf->entries.end() && sameKey(*it, entry.key)) {
        keyExists = true;
    } else if (it != leaf->entries.begin() && sameKey(*(it - 1), entry.key)) {
        keyExists = true;
    } else if ((it == leaf->entries.begin() && leaf->prev) || (it == leaf->entries.end() && leaf->next)) {
        const IndexEntry* found = t.lowerBoundKey(entry.key);
        keyExists = found && sameKey(*found, entry.key);
        leaf = &t.load(leafNo);
        it = std::lower_bound(leaf->entries.begin(), leaf->entries.end(), entry, lessEntry);
    } else {
        keyExists = false;
    }
    if (keyExists && unique && !isNullKey(entry.key))
        throw DuplicateKeyError(t.name);

    IndexEntry e = entry;
    e.child = 0;
    const bool newMax = it == leaf->entries.end();
    leaf->entries.insert(it, e);
    t.putAdded(leafNo, entrySize(e, true));
    bool overflow = !t.fits(leafNo);
    if (newMax) {
        t.propagateMax(path, e);
        for (const auto& st : path)
            overflow = overflow || !t.fits(st.page);
    }
    if (overflow)
        t.fixOverflows(e);
    t.done();
    return !keyExists;
}

bool IndexTree::containsKey(std::span<const std::uint8_t> key)
{
    Impl& t = *impl_;
    t.checkUsable();
    if (!t.pending.empty()) {
        if (!t.unique)
            t.applyPending();
        else if (t.pendingHasKey(key))
            return true;
    }
    if (t.afterLastKey(key))
        return false;
    const IndexEntry* e = t.lowerBoundKey(key);
    return e && sameKey(*e, key);
}

bool IndexTree::remove(const IndexEntry& entry, bool* lastOfKey)
{
    Impl& t = *impl_;
    t.applyPending();
    t.rightKnown = false;
    std::vector<Impl::Step> path;
    std::uint32_t leafNo = t.descend(entry, path);
    IndexPage& leaf = t.load(leafNo);
    auto it = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), entry, lessEntry);
    if (it == leaf.entries.end() || compareEntries(*it, entry) != 0)
        return false;
    const bool wasLast = it + 1 == leaf.entries.end();
    leaf.entries.erase(it);
    t.put(leafNo);
    if (!leaf.entries.empty()) {
        if (wasLast) {
            t.propagateMax(path, leaf.entries.back());
            t.fixOverflows(entry);
        }
    } else if (leafNo != t.root) {
        t.removeEmptyPage(path, leafNo);
        t.fixOverflows(entry);
    }
    t.done();
    if (lastOfKey)
        *lastOfKey = !containsKey(entry.key);
    return true;
}

std::vector<IndexEntry> IndexTree::entries()
{
    Impl& t = *impl_;
    t.applyPending();
    t.flush();
    std::vector<IndexEntry> out;
    // leftmost leaf, then along the next links
    std::uint32_t page = t.root;
    for (int depth = 0;; ++depth) {
        if (depth > 32)
            throw IndexError("index tree is too deep (a cycle?)");
        IndexPage& pg = t.load(page);
        if (pg.leaf)
            break;
        page = Impl::childAt(pg, 0);
    }
    std::unordered_set<std::uint32_t> seen;
    while (page) {
        if (!seen.insert(page).second)
            throw IndexError("index leaf pages form a cycle");
        IndexPage pg = t.load(page);
        out.insert(out.end(), pg.entries.begin(), pg.entries.end());
        page = pg.next;
    }
    return out;
}

IndexScan IndexTree::verify()
{
    Impl& t = *impl_;
    t.applyPending();
    t.flush();
    IndexScan scan;
    std::vector<std::vector<std::uint32_t>> levels;
    std::unordered_set<std::uint32_t> seen;
    IndexEntry last;
    t.verifyPage(t.root, 0, levels, seen, scan, last);
    if (scan.depth == 0)
        scan.depth = std::uint32_t(levels.size());
    // Sibling links: leaves form one chain; intermediate pages link to
    // their neighbours on the level or to nothing.
    for (std::size_t lv = 0; lv < levels.size(); ++lv) {
        const auto& pages = levels[lv];
        for (std::size_t i = 0; i < pages.size(); ++i) {
            IndexPage& pg = t.load(pages[i]);
            std::uint32_t wantPrev = i ? pages[i - 1] : 0;
            std::uint32_t wantNext = i + 1 < pages.size() ? pages[i + 1] : 0;
            const std::string where = "index page " + std::to_string(pages[i]) + ": ";
            if (pg.leaf) {
                if (pg.prev != wantPrev || pg.next != wantNext)
                    throw IndexError(where + "previous/next links do not match the leaf order");
            } else {
                if ((pg.prev && pg.prev != wantPrev) || (pg.next && pg.next != wantNext))
                    throw IndexError(where + "previous/next links do not match the level order");
            }
        }
    }
    return scan;
}

std::uint32_t IndexTree::distinctKeyCount() { return countDistinctKeys(entries()); }

}  // namespace jet
