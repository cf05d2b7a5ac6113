// Index trees: the leaf (0x04) and intermediate (0x03) pages of one physical
// index, read, written, built bottom-up, updated entry by entry, verified.
#pragma once

#include "jet/index_key.h"

#include "jet/error.h"

#include <algorithm>
#include <compare>
#include <initializer_list>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
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

// The bytes of one key. Most keys are short: those live inside the object,
// so that pages of entries cost no allocation per entry.
class KeyBytes {
public:
    using value_type = std::uint8_t;
    using iterator = std::uint8_t*;
    using const_iterator = const std::uint8_t*;

    KeyBytes() = default;
    KeyBytes(const std::vector<std::uint8_t>& v) { assign(v.data(), v.data() + v.size()); }
    KeyBytes(std::initializer_list<std::uint8_t> l) { assign(l.begin(), l.end()); }
    KeyBytes(const KeyBytes& o) { assign(o.begin(), o.end()); }
    KeyBytes(KeyBytes&& o) noexcept { take(o); }
    ~KeyBytes() { release(); }
    KeyBytes& operator=(const KeyBytes& o)
    {
        if (this != &o)
            assign(o.begin(), o.end());
        return *this;
    }
    KeyBytes& operator=(KeyBytes&& o) noexcept
    {
        if (this != &o) {
            release();
            take(o);
        }
        return *this;
    }
    KeyBytes& operator=(const std::vector<std::uint8_t>& v)
    {
        assign(v.data(), v.data() + v.size());
        return *this;
    }

    template <class It> void assign(It first, It last)
    {
        resize(std::size_t(last - first));
        std::uint8_t* d = data();
        for (; first != last; ++first)
            *d++ = std::uint8_t(*first);
    }
    void resize(std::size_t n)
    {
        if (n > capacity()) {
            std::uint8_t* p = new std::uint8_t[n];
            std::copy(begin(), end(), p);
            release();
            heap_.ptr = p;
            heap_.cap = std::uint32_t(n);
            onHeap_ = true;
        }
        size_ = std::uint32_t(n);
    }
    void push_back(std::uint8_t b)
    {
        std::size_t n = size_;
        if (n + 1 > capacity())
            reserveMore(n + 1);
        size_ = std::uint32_t(n + 1);
        data()[n] = b;
    }

    std::uint8_t* data() { return onHeap_ ? heap_.ptr : inline_; }
    const std::uint8_t* data() const { return onHeap_ ? heap_.ptr : inline_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::uint8_t* begin() { return data(); }
    std::uint8_t* end() { return data() + size_; }
    const std::uint8_t* begin() const { return data(); }
    const std::uint8_t* end() const { return data() + size_; }
    std::uint8_t& operator[](std::size_t i) { return data()[i]; }
    std::uint8_t operator[](std::size_t i) const { return data()[i]; }
    std::uint8_t& back() { return data()[size_ - 1]; }
    std::uint8_t back() const { return data()[size_ - 1]; }
    std::vector<std::uint8_t> toVector() const { return {begin(), end()}; }

    friend bool operator==(const KeyBytes& a, const KeyBytes& b)
    {
        return a.size_ == b.size_ && std::equal(a.begin(), a.end(), b.begin());
    }
    friend bool operator==(const KeyBytes& a, const std::vector<std::uint8_t>& b)
    {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }

private:
    static constexpr std::size_t kInline = 24;
    std::size_t capacity() const { return onHeap_ ? heap_.cap : kInline; }
    void reserveMore(std::size_t n)
    {
        std::size_t keep = size_;
        resize(std::max(n, capacity() * 2));
        size_ = std::uint32_t(keep);
    }
    void release()
    {
        if (onHeap_)
            delete[] heap_.ptr;
        onHeap_ = false;
        size_ = 0;
    }
    void take(KeyBytes& o)
    {
        size_ = o.size_;
        onHeap_ = o.onHeap_;
        if (onHeap_)
            heap_ = o.heap_;
        else
            std::copy(o.inline_, o.inline_ + o.size_, inline_);
        o.onHeap_ = false;
        o.size_ = 0;
    }

    union {
        std::uint8_t inline_[kInline];
        struct {
            std::uint8_t* ptr;
            std::uint32_t cap;
        } heap_;
    };
    std::uint32_t size_ = 0;
    bool onHeap_ = false;
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
    virtual IndexFormat indexFormat() const = 0;
    virtual void readPage(std::uint32_t page, std::span<std::uint8_t> out) = 0;
    virtual void writePage(std::uint32_t page, std::span<const std::uint8_t> data) = 0;
    virtual std::uint32_t allocatePage() = 0;
    virtual void freePage(std::uint32_t page) = 0;
};

inline std::size_t indexPageSize(IndexFormat f) { return f == IndexFormat::Jet3 ? 2048 : 4096; }

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
IndexPage parseIndexPage(IndexFormat format, std::span<const std::uint8_t> page);

// Bytes the entries take on a page (shared prefix counted once).
std::size_t encodedEntriesSize(IndexFormat format, const std::vector<IndexEntry>& entries,
                               bool leaf);
// Room for entry bytes on one page.
std::size_t indexPageCapacity(IndexFormat format);

// Encodes a page into `out` (page-sized). Throws IndexError if the entries
// do not fit.
void writeIndexPage(IndexFormat format, const IndexPage& page, std::span<std::uint8_t> out);

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
    std::uint32_t dataPage(std::size_t i) const { return items_[i].pointer >> 8; }
    std::uint8_t dataRow(std::size_t i) const { return std::uint8_t(items_[i].pointer); }
    IndexEntry entry(std::size_t i) const;
    // Puts the entries in index order (nothing to do when they came in order).
    void sort();
    bool sorted() const { return sorted_; }
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
