// Keeping pages within their size: splitting an overfull page (in two after
// a single insert, into as many as needed after a batch), pushing the root's
// content down so that the root keeps its page, and taking emptied pages out.
#include "jet/index_tree_int.h"

namespace jet {

// Sets the ancestors' entries after a page's last entry changed; path
// holds the ancestors of that page. Pages may overflow: fixOverflows().
bool IndexTree::Impl::propagateMax(const std::vector<Step>& path, const IndexEntry& newMax)
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

// The root keeps its number: its content moves to a new page below it,
// and the root becomes an intermediate page whose only child is that page.
std::uint32_t IndexTree::Impl::pushRootDown()
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

// Splits chain[level] (chain = the path's pages, then the leaf) into a
// new left page and the original page, and adds the left page's entry
// to the parent. The parent may overflow in turn.
void IndexTree::Impl::splitOnce(const std::vector<Step>& path, std::uint32_t leafNo, std::size_t level,
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
void IndexTree::Impl::fixOverflows(const IndexEntry& target)
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
std::vector<std::size_t> IndexTree::Impl::cutPieces(const std::vector<IndexEntry>& all, bool leaf, std::size_t target,
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
        prefix = taken == 0 ? std::min(all[j].key.size(), kMaxIndexPrefix) : np;
        sum += sz;
        ++taken;
    }
    if (taken)
        total += sum - (taken - 1) * prefix;
    if (used)
        *used = total;
    return cuts;
}

// Splits an overfull page into as many pages as its entries need. The
// page keeps the last part, so its parent's entry for it stays right;
// the new pages before it get entries in the parent, which is split in
// turn when it overflows. `path` holds the page's ancestors.
void IndexTree::Impl::splitMany(std::vector<Step> path, std::uint32_t pageNo)
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
void IndexTree::Impl::fixOverflowsMany(const IndexEntry& target)
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

// Takes an emptied page out of the tree; path holds its ancestors.
void IndexTree::Impl::removeEmptyPage(std::vector<Step>& path, std::uint32_t pageNo)
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
void IndexTree::Impl::collapseRoot()
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

}  // namespace jet
