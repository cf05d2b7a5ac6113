// Inside the index trees: how index pages are laid out, and the tree's
// working state (IndexTree::Impl), whose parts live in their own files:
//   index_page.cpp        the page codec (bytes <-> IndexPage)
//   index_entries.cpp     entry order, PackedEntries
//   index_page_cache.cpp  decoded pages in memory, written back when changed
//   index_tree.cpp        the public operations: descend, insert, remove, verify
//   index_split.cpp       splitting overfull pages, removing empty ones
//   index_build.cpp       writing a whole tree bottom-up
//   index_batch.cpp       appends at the end and sorted batches of entries
//
// Index page (type 0x04 leaf, 0x03 intermediate), offsets from the page start:
//
//   Jet 3   Jet 4   size J3/J4  field
//   0x000   0x000   1           page type
//   0x001   0x001   1           always 0x01
//   0x002   0x002   2           free bytes after the last entry
//   0x004   0x004   4           table definition page that owns the index
//   0x008   0x00C   4           previous page on the same level (0 = none)
//   0x00C   0x010   4           next page on the same level (0 = none)
//   0x010   0x014   4           tail: an intermediate page's last child, which has no entry
//   0x014   0x018   1 / 2       length of the prefix all keys on the page share
//   0x015   0x01A   1           1 on intermediate pages (as Access writes them)
//   0x016   0x01B   226 / 453   entry-end bit mask
//   0x0F8   0x1E0   to the end  entries
//
// Entries lie end to end. Bit n of the mask (bit n%8 of byte n/8) is set
// where an entry ends n bytes into the entry area. The first entry is whole;
// the others leave out the shared prefix. One entry:
//
//   size   field
//   k      key (index_key.h): compared as unsigned bytes
//   3      data page of the row, big-endian
//   1      row number on that page
//   4      intermediate pages only: child page, big-endian
//
// Invariants the tree keeps: entries in order within and across the pages of
// a level; an intermediate page's entry for a child equals the child's last
// entry; leaves form one chain of prev/next links; intermediate pages link
// only to siblings under the same parent; the root never moves.
#pragma once

#include "jet/index_tree.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace jet {

// Where the fields of an index page sit in one format (see the table above).
struct IndexPageLayout {
    std::size_t pageSize;
    std::size_t prev, next, tail;
    std::size_t prefix;      // shared-prefix length
    std::size_t prefixBytes; // Jet 3 keeps it in one byte, Jet 4 in two
    std::size_t nodeFlag;
    std::size_t mask, maskSize;
    std::size_t entries;
};
const IndexPageLayout& indexPageLayout(Version f);

// One index page, decoded.
struct IndexPage {
    bool leaf = true;
    std::uint32_t tdefPage = 0;  // the owning table definition
    std::uint32_t prev = 0;      // siblings on the same level
    std::uint32_t next = 0;
    std::uint32_t tail = 0;      // intermediate pages: the last child, which has no entry
    std::vector<IndexEntry> entries;
};

// Decodes an index page. Throws IndexError when the bytes are not a
// consistent index page (wrong type, bit mask past the data, prefix longer
// than the first entry, entries too short).
IndexPage parseIndexPage(Version format, std::span<const std::uint8_t> page);

// Room for entry bytes on one page.
std::size_t indexPageCapacity(Version format);

// Encodes a page into `out` (page-sized). Throws IndexError if the entries
// do not fit.
void writeIndexPage(Version format, const IndexPage& page, std::span<std::uint8_t> out);

// The longest prefix a page shares among its keys (one length byte in Jet 3).
inline constexpr std::size_t kMaxIndexPrefix = 255;

// memcmp for the short runs keys differ in, eight bytes at a time.
inline int compareKeyBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t n)
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

// Bytes an entry takes on a page when stored whole.
inline std::size_t entrySize(const IndexEntry& e, bool leaf) { return e.key.size() + (leaf ? 4 : 8); }

std::size_t commonPrefix(const KeyBytes& a, const KeyBytes& b);
// Shared prefix of the keys on a page.
std::size_t pagePrefix(const std::vector<IndexEntry>& entries);

inline IndexEntry asNodeEntry(const IndexEntry& e, std::uint32_t child)
{
    IndexEntry n = e;
    n.child = child;
    return n;
}

inline bool lessEntry(const IndexEntry& a, const IndexEntry& b) { return compareEntries(a, b) < 0; }

inline bool sameKey(const IndexEntry& a, std::span<const std::uint8_t> key)
{
    return a.key.size() == key.size() && std::equal(a.key.begin(), a.key.end(), key.begin());
}

struct IndexTree::Impl {
    IndexPageStore& store;
    Version format;
    std::uint32_t tdef;
    std::uint32_t root;
    std::string name;
    std::size_t capacity;
    std::unordered_map<std::uint32_t, IndexPage> cache;
    std::unordered_set<std::uint32_t> dirty;
    bool deferred = false;
    std::vector<std::uint8_t> buf;

    Impl(IndexPageStore& s, std::uint32_t t, std::uint32_t r, std::string n)
        : store(s), format(s.version()), tdef(t), root(r), name(std::move(n)),
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
    void done();
    // Writes the changed pages to the store.
    void flush();
    void forget(std::uint32_t page);

    // Drops the least recently used half of the cached pages.
    void evict();

    bool fits(std::uint32_t page) { return fits(load(page), meta[page]); }

    bool fits(const IndexPage& pg, Meta& m);

    std::uint32_t allocate(bool leaf);

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

    static std::uint64_t hashKey(std::span<const std::uint8_t> key);

    void hashInsert(std::uint32_t index);

    void hashPlace(std::uint32_t index);

    bool pendingHasKey(std::span<const std::uint8_t> key) const;

    // The way down along the last children.
    void findRight();

    // Whether no entry can have this key: it sorts after the last key.
    bool afterLastKey(std::span<const std::uint8_t> key);

    // Appends an entry that sorts after every other onto the last leaf;
    // false (nothing changed) when it does not.
    bool appendAtEnd(const IndexEntry& entry);

    void addPending(const IndexEntry& entry);

    void clearPending();

    // Brings the waiting entries into the tree: into an empty tree they are
    // written bottom-up, else merged leaf by leaf in one pass.
    void applyPending();
    void mergeSorted(const PackedEntries& batch);
    void buildFrom(PackedEntries entries, bool unique);
    // The steps of buildFrom (index_build.cpp).
    struct BuildLevel;
    using PageGroups = std::vector<std::pair<std::size_t, std::size_t>>;  // [begin, end) per page
    void checkBuildKeys(const PackedEntries& entries, bool unique) const;
    void freeAllButRoot();
    PageGroups groupLevel(const BuildLevel& level) const;
    std::vector<IndexEntry> writeLevel(BuildLevel& level, const PageGroups& groups);

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
    std::uint32_t descend(const IndexEntry& target, std::vector<Step>& path);

    // Sets the ancestors' entries after a page's last entry changed; path
    // holds the ancestors of that page. Pages may overflow: fixOverflows().
    bool propagateMax(const std::vector<Step>& path, const IndexEntry& newMax);

    // Splits chain[level] (chain = the path's pages, then the leaf) into a
    // new left page and the original page, and adds the left page's entry
    // to the parent. The parent may overflow in turn.
    void splitOnce(const std::vector<Step>& path, std::uint32_t leafNo, std::size_t level,
                   const IndexEntry& target);

    // Splits overflowing pages on the way to `target`, lowest first, until
    // every page there fits.
    void fixOverflows(const IndexEntry& target);

    // Where to cut sorted entries into pages that each fit (their shared
    // prefix counted) and hold about `target` bytes. `used` receives the
    // bytes all pieces take.
    std::vector<std::size_t> cutPieces(const std::vector<IndexEntry>& all, bool leaf, std::size_t target,
                                       std::size_t* used) const;

    // The root keeps its number: its content moves to a new page below it,
    // and the root becomes an intermediate page whose only child is that page.
    std::uint32_t pushRootDown();

    // Splits an overfull page into as many pages as its entries need. The
    // page keeps the last part, so its parent's entry for it stays right;
    // the new pages before it get entries in the parent, which is split in
    // turn when it overflows. `path` holds the page's ancestors.
    void splitMany(std::vector<Step> path, std::uint32_t pageNo);

    // Splits every overfull page on the way to `target`.
    void fixOverflowsMany(const IndexEntry& target);

    // First entry with key >= key (page 0 row 0), or nullptr.
    const IndexEntry* lowerBoundKey(std::span<const std::uint8_t> key);

    void dropPage(std::uint32_t page);

    // Takes an emptied page out of the tree; path holds its ancestors.
    void removeEmptyPage(std::vector<Step>& path, std::uint32_t pageNo);

    // A root left with a single child takes that child's place.
    void collapseRoot();

    // Checks the subtree under `page`; returns its last leaf entry.
    bool verifyPage(std::uint32_t page, std::size_t level, std::vector<std::vector<std::uint32_t>>& levels,
                    std::unordered_set<std::uint32_t>& seen, IndexScan& scan, IndexEntry& last);

    void collectPages(std::uint32_t page, std::vector<std::uint32_t>& out, int depth);
};

}  // namespace jet
