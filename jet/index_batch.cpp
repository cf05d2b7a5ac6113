// Entries added in bulk: an entry that sorts after all others goes straight
// onto the last leaf; the others wait in a sorted batch (with a hash of its
// keys for unique indexes) that enters the tree in one pass over the leaves.
#include "jet/index_tree_int.h"

namespace jet {

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

std::uint64_t IndexTree::Impl::hashKey(std::span<const std::uint8_t> key)
{
    std::uint64_t h = 1469598103934665603ull;
    for (std::uint8_t b : key)
        h = (h ^ b) * 1099511628211ull;
    return h ^ (h >> 29);
}

void IndexTree::Impl::hashInsert(std::uint32_t index)
{
    if (pending.size() * 2 > pendingSlots.size()) {
        pendingSlots.assign(std::max<std::size_t>(1024, pendingSlots.size() * 2), 0);
        for (std::uint32_t i = 0; i < pending.size(); ++i)
            hashPlace(i);
        return;
    }
    hashPlace(index);
}

void IndexTree::Impl::hashPlace(std::uint32_t index)
{
    const std::size_t mask = pendingSlots.size() - 1;
    std::size_t at = std::size_t(hashKey(pending.key(index))) & mask;
    while (pendingSlots[at])
        at = (at + 1) & mask;
    pendingSlots[at] = index + 1;
}

bool IndexTree::Impl::pendingHasKey(std::span<const std::uint8_t> key) const
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
void IndexTree::Impl::findRight()
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
bool IndexTree::Impl::afterLastKey(std::span<const std::uint8_t> key)
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
bool IndexTree::Impl::appendAtEnd(const IndexEntry& entry)
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

void IndexTree::Impl::addPending(const IndexEntry& entry)
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

void IndexTree::Impl::clearPending()
{
    pending = PackedEntries();
    pendingSlots = {};
    pendingKeyBytes = 0;
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

}  // namespace jet
