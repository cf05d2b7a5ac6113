// Writing a whole tree bottom-up from sorted entries: each level's pages
// filled in turn, the old tree's pages other than the root freed first.
#include "jet/index_tree_int.h"

namespace jet {

std::uint32_t IndexTree::createEmpty(IndexPageStore& store, std::uint32_t tdefPage)
{
    std::uint32_t page = store.allocatePage();
    IndexPage pg;
    pg.tdefPage = tdefPage;
    std::vector<std::uint8_t> buf(indexPageSize(store.version()));
    writeIndexPage(store.version(), pg, buf);
    store.writePage(page, buf);
    return page;
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

void IndexTree::Impl::collectPages(std::uint32_t page, std::vector<std::uint32_t>& out, int depth)
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

// One level of the tree being built: the leaves come from the sorted
// entries, each level above from the last entries of the pages below.
struct IndexTree::Impl::BuildLevel {
    const PackedEntries& leaves;
    std::vector<IndexEntry> items;  // the levels above the leaves
    bool leaf = true;

    std::size_t count() const { return leaf ? leaves.size() : items.size(); }
    std::span<const std::uint8_t> keyAt(std::size_t i) const
    {
        return leaf ? leaves.key(i) : std::span<const std::uint8_t>(items[i].key);
    }
    IndexEntry take(std::size_t i) { return leaf ? leaves.entry(i) : std::move(items[i]); }
};

namespace {

std::size_t sharedPrefix(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b)
{
    std::size_t n = std::min(a.size(), b.size()), i = 0;
    while (i < n && a[i] == b[i])
        ++i;
    return i;
}

// A last intermediate page with a single child borrows one from the page
// before it, when that one can spare it.
void evenLastGroup(std::vector<std::pair<std::size_t, std::size_t>>& groups)
{
    if (groups.size() < 2)
        return;
    auto& last = groups.back();
    auto& prev = groups[groups.size() - 2];
    if (last.second - last.first < 2 && prev.second - prev.first > 2) {
        --prev.second;
        --last.first;
    }
}

}  // namespace

// An entry may take at most half a page, so that any page holds two (as a
// split needs); a unique tree must not repeat a key (nulls aside).
void IndexTree::Impl::checkBuildKeys(const PackedEntries& entries, bool unique) const
{
    const std::size_t maxEntry = capacity / 2 - 8;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        auto k = entries.key(i);
        if (k.size() + 8 > maxEntry)
            throw IndexError("index key too long for index \"" + name + "\"");
        if (unique && i > 0 && !isNullKey(k)) {
            auto prev = entries.key(i - 1);
            if (prev.size() == k.size() && std::equal(k.begin(), k.end(), prev.begin()))
                throw DuplicateKeyError(name);
        }
    }
}

// The root keeps its page number: the table definition points at it.
void IndexTree::Impl::freeAllButRoot()
{
    flush();
    std::vector<std::uint32_t> old;
    collectPages(root, old, 0);
    cache.clear();
    dirty.clear();
    meta.clear();
    cachedEntries = 0;
    for (std::uint32_t p : old)
        if (p != root)
            store.freePage(p);
}

// Groups the items of one level into pages, filling each page. An
// intermediate page does not store its last child (the tail), so it takes
// an item while the items it already holds fit.
IndexTree::Impl::PageGroups IndexTree::Impl::groupLevel(const BuildLevel& level) const
{
    PageGroups groups;
    const bool leaf = level.leaf;
    const std::size_t n = level.count();
    std::size_t begin = 0, taken = 0, sum = 0, prefix = 0;
    for (std::size_t j = 0; j < n; ++j) {
        auto k = level.keyAt(j);
        std::size_t sz = k.size() + (leaf ? 4 : 8);
        bool take = true;
        std::size_t np = prefix;
        if (taken >= 1) {
            np = std::min(prefix, sharedPrefix(level.keyAt(begin), k));
            if (leaf)
                take = sum + sz - taken * np <= capacity;
            else
                take = taken < 2 || sum - (taken - 1) * prefix <= capacity;
        }
        if (!take) {
            groups.emplace_back(begin, j);
            begin = j;
            taken = 0;
            sum = 0;
        }
        prefix = taken == 0 ? std::min(k.size(), kMaxIndexPrefix) : np;
        sum += sz;
        ++taken;
    }
    if (taken > 0 || groups.empty())
        groups.emplace_back(begin, n);
    if (!leaf)
        evenLastGroup(groups);
    return groups;
}

// Writes one level's pages, linked to their siblings; a level of one page
// is the root. Returns the entries for the level above, one per page.
std::vector<IndexEntry> IndexTree::Impl::writeLevel(BuildLevel& level, const PageGroups& groups)
{
    std::vector<std::uint32_t> numbers(groups.size(), root);
    if (groups.size() > 1)
        for (std::uint32_t& n : numbers)
            n = store.allocatePage();
    std::vector<IndexEntry> up;
    up.reserve(groups.size());
    for (std::size_t g = 0; g < groups.size(); ++g) {
        IndexPage pg;
        pg.leaf = level.leaf;
        pg.tdefPage = tdef;
        if (groups.size() > 1) {
            pg.prev = g ? numbers[g - 1] : 0;
            pg.next = g + 1 < groups.size() ? numbers[g + 1] : 0;
        }
        auto [b, e] = groups[g];
        pg.entries.reserve(e - b);
        for (std::size_t i = b; i < e; ++i)
            pg.entries.push_back(level.take(i));
        if (b < e)
            up.push_back(asNodeEntry(pg.entries.back(), numbers[g]));
        if (!level.leaf && !pg.entries.empty()) {
            pg.tail = pg.entries.back().child;
            pg.entries.pop_back();
        }
        writeIndexPage(format, pg, buf);
        store.writePage(numbers[g], buf);
    }
    return up;
}

void IndexTree::Impl::buildFrom(PackedEntries entries, bool unique)
{
    entries.sort();
    checkBuildKeys(entries, unique);
    freeAllButRoot();
    // Level by level from the leaves up, until a level fits the root.
    BuildLevel level{entries, {}, true};
    for (int depth = 0; depth < 64; ++depth) {
        const PageGroups groups = groupLevel(level);
        std::vector<IndexEntry> up = writeLevel(level, groups);
        if (groups.size() == 1)
            return;
        if (level.leaf)
            entries = PackedEntries();  // the leaves are written: give the memory back
        level.items = std::move(up);
        level.leaf = false;
    }
    throw IndexError("index tree too deep");
}

}  // namespace jet
