// The tree's page cache: decoded pages in memory, written back to the store
// when an operation completes (or on flush() while writes are deferred), the
// least recently used half dropped when the cache grows past its bounds.
#include "jet/index_tree_int.h"

namespace jet {

// Called when an operation is complete: pages are consistent again.
void IndexTree::Impl::done()
{
    if (!deferred)
        flush();
    if (cache.size() > kCachePages || cachedEntries > kCacheEntries)
        evict();
}

void IndexTree::Impl::flush()
{
    for (std::uint32_t page : dirty) {
        writeIndexPage(format, cache.at(page), buf);
        store.writePage(page, buf);
    }
    dirty.clear();
    rightDirty = false;
}

void IndexTree::Impl::forget(std::uint32_t page)
{
    auto it = meta.find(page);
    if (it == meta.end())
        return;
    cachedEntries -= std::min(cachedEntries, it->second.counted);
    meta.erase(it);
}

// Drops the least recently used half of the cached pages.
void IndexTree::Impl::evict()
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

bool IndexTree::Impl::fits(const IndexPage& pg, Meta& m)
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
        prefix = std::min(commonPrefix(pg.entries.front().key, pg.entries.back().key), kMaxIndexPrefix);
    std::size_t size = m.sum - (pg.entries.empty() ? 0 : (pg.entries.size() - 1) * prefix);
    return size <= capacity;
}

std::uint32_t IndexTree::Impl::allocate(bool leaf)
{
    rightKnown = false;
    std::uint32_t page = store.allocatePage();
    IndexPage pg;
    pg.leaf = leaf;
    pg.tdefPage = tdef;
    cache[page] = std::move(pg);
    return page;
}

void IndexTree::Impl::dropPage(std::uint32_t page)
{
    rightKnown = false;
    cache.erase(page);
    dirty.erase(page);
    forget(page);
    store.freePage(page);
}

}  // namespace jet
