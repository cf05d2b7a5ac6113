// The index tree's public operations: construction, flushing, single
// inserts and removals, lookups, and reading and verifying the whole tree.
#include "jet/index_tree_int.h"

namespace jet {

IndexTree::IndexTree(IndexPageStore& store, std::uint32_t tdefPage, std::uint32_t rootPage,
                     std::string name)
    : impl_(std::make_unique<Impl>(store, tdefPage, rootPage, std::move(name)))
{
}

IndexTree::~IndexTree() = default;

std::uint32_t IndexTree::rootPage() const { return impl_->root; }
const std::string& IndexTree::name() const { return impl_->name; }

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

// Descends to the leaf for `target`; path receives the node steps.
std::uint32_t IndexTree::Impl::descend(const IndexEntry& target, std::vector<Step>& path)
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

// First entry with key >= key (page 0 row 0), or nullptr.
const IndexEntry* IndexTree::Impl::lowerBoundKey(std::span<const std::uint8_t> key)
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

// Checks the subtree under `page`; returns its last leaf entry.
bool IndexTree::Impl::verifyPage(std::uint32_t page, std::size_t level, std::vector<std::vector<std::uint32_t>>& levels,
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
    const IndexPageLayout& L = indexPageLayout(format);
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

std::uint32_t IndexTree::distinctKeyCount() { return countDistinctKeys(entries()); }

}  // namespace jet
