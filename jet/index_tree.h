// Index trees: the interface the rest of the engine uses for one physical
// index (its leaf and intermediate pages): built bottom-up, updated entry by
// entry or in sorted batches, read back, verified. How the pages are laid
// out and how the tree works inside is in index_tree_int.h.
#pragma once

#include "jet/error.h"
#include "jet/index_key.h"
#include "jet/key_bytes.h"

#include <compare>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace jet {

class IndexError : public Error {
public:
    using Error::Error;
};

// A row would repeat the key of a unique or primary index.
class DuplicateKeyError : public IndexError {
public:
    explicit DuplicateKeyError(std::string indexName);
    const std::string& indexName() const { return name_; }

private:
    std::string name_;
};

// One entry: the key, the row it points to (3-byte page, 1-byte row, stored
// big-endian after the key) and, in intermediate pages, the child page.
struct IndexEntry {
    KeyBytes key;
    std::uint32_t dataPage = 0;
    std::uint8_t dataRow = 0;
    std::uint32_t child = 0;  // intermediate pages only
};

// Order of entries in an index: key bytes (unsigned, a shorter prefix first),
// then the row pointer.
std::strong_ordering compareEntries(const IndexEntry& a, const IndexEntry& b);

// True when every column of the key is null (only null flags 0x00 / 0xFF):
// such keys never break uniqueness.
bool isNullKey(std::span<const std::uint8_t> key);

// The pages an index lives on. Jet's pager implements this for one physical
// index: allocatePage hands out a fresh page and records it in the index's
// usage map, freePage takes it out again.
class IndexPageStore {
public:
    virtual ~IndexPageStore() = default;
    virtual Version version() const = 0;
    virtual void readPage(std::uint32_t page, std::span<std::uint8_t> out) = 0;
    virtual void writePage(std::uint32_t page, std::span<const std::uint8_t> data) = 0;
    virtual std::uint32_t allocatePage() = 0;
    virtual void freePage(std::uint32_t page) = 0;
};

inline std::size_t indexPageSize(Version f) { return f == Version::Jet3 ? 2048 : 4096; }

// Result of walking a whole tree.
struct IndexScan {
    std::vector<IndexEntry> entries;  // leaf entries in index order
    std::vector<std::uint32_t> pages; // every page of the tree, root first
    std::uint32_t depth = 0;          // 1 = the root is a leaf
};

// Many entries in little memory, for building an index over a large
// table and for entries waiting to enter a tree: the keys lie side by side
// in one buffer, and each item carries the key's first bytes so that most
// comparisons never leave the item array.
class PackedEntries {
public:
    void add(std::span<const std::uint8_t> key, std::uint32_t dataPage, std::uint8_t dataRow);
    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    std::span<const std::uint8_t> key(std::size_t i) const;
    IndexEntry entry(std::size_t i) const;
    // Puts the entries in index order (nothing to do when they came in order).
    void sort();
    void reserve(std::size_t entries, std::size_t keyBytes)
    {
        items_.reserve(entries);
        bytes_.reserve(keyBytes + 2 * entries);
    }
    // Empties the list, keeping its buffers.
    void clear()
    {
        items_.clear();
        bytes_.clear();
        sorted_ = true;
    }
    // Heap bytes held (capacity, not size).
    std::size_t memoryBytes() const { return items_.capacity() * sizeof(Item) + bytes_.capacity(); }
    // Order of entry i against an entry (as compareEntries).
    std::strong_ordering compare(std::size_t i, const IndexEntry& e) const;
    bool sameKey(std::size_t i, std::size_t j) const;

    // Bytes an entry takes besides its key.
    static constexpr std::size_t kItemBytes = 26;

private:
    // An index file is below 4 GB, so are the keys of one index.
    struct Item {
        std::uint64_t head;     // the key's bytes 0..7, big-endian, zero-padded
        std::uint64_t next;     // bytes 8..15
        std::uint32_t offset;   // in bytes_: a 2-byte length, then the key
        std::uint32_t pointer;  // page << 8 | row
    };
    std::size_t length(const Item& it) const
    {
        return std::size_t(bytes_[it.offset]) | std::size_t(bytes_[it.offset + 1]) << 8;
    }
    bool less(const Item& a, const Item& b) const;
    std::vector<std::uint8_t> bytes_;
    std::vector<Item> items_;
    bool sorted_ = true;
};

class IndexTree {
public:
    // rootPage: the physical index's first page (it never moves; when the
    // root splits its content moves down).
    IndexTree(IndexPageStore& store, std::uint32_t tdefPage, std::uint32_t rootPage,
              std::string name = {});
    ~IndexTree();
    IndexTree(const IndexTree&) = delete;
    IndexTree& operator=(const IndexTree&) = delete;

    // A new index: one empty leaf page. Returns its page number.
    static std::uint32_t createEmpty(IndexPageStore& store, std::uint32_t tdefPage);

    std::uint32_t rootPage() const;
    const std::string& name() const;

    // Pages are written through to the store after every change unless
    // deferred; deferred pages reach the store on flush() (call it before
    // committing) or when the page cache is trimmed.
    void setDeferredWrites(bool deferred);
    void flush();
    // Forget cached pages and waiting entries (after the store rolled back).
    void discardCache();

    // Replaces the content with `entries` (sorted here), written bottom-up;
    // pages of the old tree other than the root are freed. With `unique`,
    // two equal non-null keys throw DuplicateKeyError before anything is
    // written.
    void build(std::vector<IndexEntry> entries, bool unique = false);
    void build(PackedEntries entries, bool unique = false);

    // Adds one entry whose uniqueness the caller has checked (containsKey),
    // possibly later: a key that sorts after every entry goes straight onto
    // the last leaf; others wait in a sorted batch that enters the tree in
    // one pass over the leaves on flush(), when the batch reaches its memory
    // limit, or before anything else reads or changes the tree.
    void add(const IndexEntry& entry);
    // Distinct keys added since the last call (entries of waiting batches
    // count once they are in the tree).
    std::uint32_t takeNewKeys();
    // For containsKey: remember waiting keys so that duplicates among them
    // are found without entering them first.
    void setUnique(bool unique);
    // Bytes a waiting batch may hold before it enters the tree.
    void setPendingLimit(std::size_t bytes);
    std::size_t pendingCount() const;
    // Upper bound of the pages the waiting batch can add to the file.
    std::uint32_t pendingPageBound() const;

    // Adds one entry, splitting pages as needed. With `unique`, an existing
    // entry with the same non-null key throws DuplicateKeyError and nothing
    // changes. Returns true when the key was new (distinct-key count grows).
    bool insert(const IndexEntry& entry, bool unique = false);

    // Whether some entry has this key, waiting entries included.
    bool containsKey(std::span<const std::uint8_t> key);

    // Removes the entry with this key and row pointer. Returns false when
    // there is none. `lastOfKey` (optional) tells whether no entry with the
    // key remains.
    bool remove(const IndexEntry& entry, bool* lastOfKey = nullptr);

    // All leaf entries in order (no checks beyond what reading needs).
    std::vector<IndexEntry> entries();

    // Walks the tree and checks it: page types and owning table, sibling
    // links on every level, tail pointers, sort order within and across
    // pages, prefix and bit mask consistency, parent entries equal to the
    // last entry of their child. Throws IndexError naming the first fault.
    IndexScan verify();

    // Number of distinct keys (what the table definition keeps per index).
    std::uint32_t distinctKeyCount();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Distinct keys in a sorted entry list.
std::uint32_t countDistinctKeys(const std::vector<IndexEntry>& sorted);

}  // namespace jet
