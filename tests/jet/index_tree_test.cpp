#include "jet/index_tree.h"
#include "jet/index_tree_int.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>

using namespace jet;

namespace {

// Pages in memory: enough of a pager for the tree.
class MemoryPages : public IndexPageStore {
public:
    explicit MemoryPages(Version f) : format_(f), size_(indexPageSize(f)) {}
    Version version() const override { return format_; }
    void readPage(std::uint32_t page, std::span<std::uint8_t> out) override
    {
        auto it = pages_.find(page);
        ASSERT_NE(it, pages_.end()) << "read of unknown page " << page;
        std::copy(it->second.begin(), it->second.end(), out.begin());
    }
    void writePage(std::uint32_t page, std::span<const std::uint8_t> data) override
    {
        ASSERT_TRUE(pages_.count(page)) << "write to unallocated page " << page;
        pages_[page].assign(data.begin(), data.begin() + size_);
    }
    std::uint32_t allocatePage() override
    {
        std::uint32_t p = next_++;
        pages_[p].assign(size_, 0);
        return p;
    }
    void freePage(std::uint32_t page) override
    {
        ASSERT_TRUE(pages_.erase(page)) << "free of unknown page " << page;
    }
    std::size_t pageCount() const { return pages_.size(); }

private:
    Version format_;
    std::size_t size_;
    std::uint32_t next_ = 10;
    std::map<std::uint32_t, std::vector<std::uint8_t>> pages_;
};

IndexEntry entry(std::vector<std::uint8_t> key, std::uint32_t page, std::uint8_t row)
{
    IndexEntry e;
    e.key = std::move(key);
    e.dataPage = page;
    e.dataRow = row;
    return e;
}

// A Long key 7F + big-endian value with the sign bit flipped.
std::vector<std::uint8_t> longKey(std::int32_t v)
{
    std::uint8_t row[4];
    std::memcpy(row, &v, 4);  // rows hold values little-endian, as this machine does
    std::vector<std::uint8_t> k;
    appendKeyColumn(k, Version::Jet4, KeyColumn{ColumnType::Long, true}, KeyValue::fixed(row));
    return k;
}

std::vector<std::uint8_t> textish(std::mt19937& rng, std::size_t len)
{
    std::vector<std::uint8_t> k = {0x7F};
    for (std::size_t i = 0; i < len; ++i)
        k.push_back(std::uint8_t(0x40 + rng() % 26));
    k.push_back(0x01);
    k.push_back(0x00);
    return k;
}

void expectSame(const std::vector<IndexEntry>& got, std::vector<IndexEntry> want)
{
    std::sort(want.begin(), want.end(), [](auto& a, auto& b) { return compareEntries(a, b) < 0; });
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i].key, want[i].key) << i;
        ASSERT_EQ(got[i].dataPage, want[i].dataPage) << i;
        ASSERT_EQ(got[i].dataRow, want[i].dataRow) << i;
    }
}

}  // namespace

TEST(IndexPageCodec, RoundTripWithSharedPrefix)
{
    for (Version f : {Version::Jet3, Version::Jet4}) {
        IndexPage pg;
        pg.leaf = true;
        pg.tdefPage = 77;
        pg.prev = 5;
        pg.next = 9;
        pg.entries = {entry({0x7F, 0x41, 0x42, 0x43}, 0x123456, 7), entry({0x7F, 0x41, 0x42, 0x44}, 1, 2),
                      entry({0x7F, 0x41, 0x42, 0x44, 0x45}, 1, 3)};
        std::vector<std::uint8_t> buf(indexPageSize(f));
        writeIndexPage(f, pg, buf);
        EXPECT_EQ(buf[0], 0x04);
        IndexPage back = parseIndexPage(f, buf);
        EXPECT_TRUE(back.leaf);
        EXPECT_EQ(back.tdefPage, 77u);
        EXPECT_EQ(back.prev, 5u);
        EXPECT_EQ(back.next, 9u);
        expectSame(back.entries, pg.entries);
        // A page with room stores its entries whole, as Access does.
        const std::size_t start = f == Version::Jet3 ? 0xF8 : 0x1E0;
        std::size_t free = buf[2] | buf[3] << 8;
        EXPECT_EQ(free, indexPageSize(f) - start - 25);
        EXPECT_EQ(buf[f == Version::Jet3 ? 20 : 24], 0);

        // A page that needs it shares the common key prefix.
        IndexPage full;
        std::vector<std::uint8_t> common(40, 0x55);
        for (std::uint32_t i = 0; full.entries.size() * 45 < indexPageCapacity(f) + 200; ++i) {
            std::vector<std::uint8_t> k = common;
            k.push_back(std::uint8_t(i >> 8));
            k.push_back(std::uint8_t(i));
            full.entries.push_back(entry(k, 1000 + i, 0));
        }
        writeIndexPage(f, full, buf);
        EXPECT_EQ(buf[f == Version::Jet3 ? 20 : 24], 40 + (full.entries.size() > 256 ? 0 : 1));
        IndexPage fullBack = parseIndexPage(f, buf);
        expectSame(fullBack.entries, full.entries);
    }
}

TEST(IndexPageCodec, IntermediatePageKeepsChildAndTail)
{
    IndexPage pg;
    pg.leaf = false;
    pg.tdefPage = 3;
    pg.tail = 44;
    IndexEntry e = entry(longKey(5), 20, 1);
    e.child = 43;
    pg.entries = {e};
    std::vector<std::uint8_t> buf(4096);
    writeIndexPage(Version::Jet4, pg, buf);
    EXPECT_EQ(buf[0], 0x03);
    IndexPage back = parseIndexPage(Version::Jet4, buf);
    EXPECT_FALSE(back.leaf);
    EXPECT_EQ(back.tail, 44u);
    ASSERT_EQ(back.entries.size(), 1u);
    EXPECT_EQ(back.entries[0].child, 43u);
    EXPECT_EQ(back.entries[0].key, longKey(5));
}

TEST(IndexPageCodec, DamagedPagesAreRejected)
{
    std::vector<std::uint8_t> buf(2048, 0);
    buf[0] = 0x01;
    EXPECT_THROW(parseIndexPage(Version::Jet3, buf), IndexError);
    buf[0] = 0x04;
    buf[20] = 9;  // prefix on an empty page
    EXPECT_THROW(parseIndexPage(Version::Jet3, buf), IndexError);
    buf[20] = 0;
    buf[0x16] = 0x04;  // an entry of 2 bytes
    EXPECT_THROW(parseIndexPage(Version::Jet3, buf), IndexError);
    buf[0x16] = 0;
    buf[0x16 + 225] = 0x80;  // entry ending past the page
    EXPECT_THROW(parseIndexPage(Version::Jet3, buf), IndexError);
    std::vector<std::uint8_t> shortBuf(100, 0);
    EXPECT_THROW(parseIndexPage(Version::Jet3, shortBuf), IndexError);
    std::vector<IndexEntry> many;
    IndexPage pg;
    for (int i = 0; i < 400; ++i)
        pg.entries.push_back(entry(longKey(i), std::uint32_t(i), 0));
    EXPECT_THROW(writeIndexPage(Version::Jet3, pg, buf), IndexError);
}

TEST(IndexTree, BuildEmptyOneAndManyLevels)
{
    for (Version f : {Version::Jet3, Version::Jet4}) {
        MemoryPages store(f);
        std::uint32_t root = IndexTree::createEmpty(store, 2);
        IndexTree tree(store, 2, root, "t");
        EXPECT_TRUE(tree.verify().entries.empty());

        tree.build({entry(longKey(1), 30, 0)});
        EXPECT_EQ(tree.verify().entries.size(), 1u);
        EXPECT_EQ(store.pageCount(), 1u);

        std::mt19937 rng(7);
        std::vector<IndexEntry> all;
        for (int i = 0; i < 6000; ++i)
            all.push_back(entry(textish(rng, 80 + rng() % 40), 100 + std::uint32_t(i / 200), std::uint8_t(i % 200)));
        tree.build(all);
        IndexScan scan = tree.verify();
        EXPECT_GE(scan.depth, 3u);
        expectSame(scan.entries, all);
        EXPECT_EQ(store.pageCount(), scan.pages.size());

        // Rebuilding frees the old pages.
        tree.build({all[0], all[1]});
        EXPECT_EQ(store.pageCount(), 1u);
        expectSame(tree.verify().entries, {all[0], all[1]});
    }
}

TEST(IndexTree, RandomInsertsSplitPagesAndStayOrdered)
{
    for (Version f : {Version::Jet3, Version::Jet4}) {
        MemoryPages store(f);
        std::uint32_t root = IndexTree::createEmpty(store, 2);
        IndexTree tree(store, 2, root, "t");
        std::mt19937 rng(11);
        std::vector<IndexEntry> all;
        for (int i = 0; i < 12000; ++i) {
            IndexEntry e = entry(textish(rng, 5 + rng() % 60), 1000 + std::uint32_t(i / 100), std::uint8_t(i % 100));
            tree.insert(e);
            all.push_back(e);
            if (i % 3000 == 0)
                tree.verify();
        }
        IndexScan scan = tree.verify();
        EXPECT_GE(scan.depth, 3u);
        expectSame(scan.entries, all);
        EXPECT_EQ(tree.rootPage(), root);
    }
}

TEST(IndexTree, SequentialAppendsFillPages)
{
    MemoryPages store(Version::Jet4);
    std::uint32_t root = IndexTree::createEmpty(store, 2);
    IndexTree tree(store, 2, root, "PrimaryKey");
    std::vector<IndexEntry> all;
    for (int i = 0; i < 50000; ++i) {
        all.push_back(entry(longKey(i), 100 + std::uint32_t(i / 100), std::uint8_t(i % 100)));
        EXPECT_TRUE(tree.insert(all.back(), true));
    }
    IndexScan scan = tree.verify();
    expectSame(scan.entries, all);
    // 9-byte entries, 3616 bytes a page: a full page holds about 400.
    EXPECT_LT(scan.pages.size(), 50000u / 380 + 4);
}

TEST(IndexTree, UniqueRefusesDuplicatesAndChangesNothing)
{
    MemoryPages store(Version::Jet3);
    std::uint32_t root = IndexTree::createEmpty(store, 2);
    IndexTree tree(store, 2, root, "idx_codeorders");
    for (int i = 0; i < 3000; ++i)
        tree.insert(entry(longKey(i * 2), 50, std::uint8_t(i % 200)), true);
    auto before = tree.entries();
    try {
        tree.insert(entry(longKey(1000), 99, 1), true);
        FAIL() << "duplicate accepted";
    } catch (const DuplicateKeyError& e) {
        EXPECT_EQ(e.indexName(), "idx_codeorders");
        EXPECT_NE(std::string(e.what()).find("idx_codeorders"), std::string::npos);
    }
    expectSame(tree.entries(), before);
    // Null keys do not count as duplicates; a non-unique insert returns
    // whether the key is new.
    std::vector<std::uint8_t> nullKey = {0x00, 0xFF};
    EXPECT_TRUE(tree.insert(entry(nullKey, 60, 1), true));
    EXPECT_FALSE(tree.insert(entry(nullKey, 60, 2), true));
    EXPECT_FALSE(tree.insert(entry(longKey(4), 61, 2), false));
    EXPECT_TRUE(tree.containsKey(longKey(4)));
    EXPECT_FALSE(tree.containsKey(longKey(5)));
    EXPECT_EQ(tree.distinctKeyCount(), 3001u);
    EXPECT_THROW(tree.build({entry(longKey(1), 1, 1), entry(longKey(1), 1, 2)}, true), DuplicateKeyError);
    tree.verify();
}

TEST(IndexTree, RemoveEntriesShrinksTheTree)
{
    for (Version f : {Version::Jet3, Version::Jet4}) {
        MemoryPages store(f);
        std::uint32_t root = IndexTree::createEmpty(store, 2);
        IndexTree tree(store, 2, root, "t");
        std::mt19937 rng(3);
        std::vector<IndexEntry> all;
        for (int i = 0; i < 8000; ++i) {
            all.push_back(entry(textish(rng, 20 + rng() % 40), 100 + std::uint32_t(i / 100), std::uint8_t(i % 100)));
            tree.insert(all.back());
        }
        std::shuffle(all.begin(), all.end(), rng);
        EXPECT_FALSE(tree.remove(entry(longKey(1), 1, 1)));
        for (std::size_t i = 0; i < all.size(); ++i) {
            bool last = false;
            ASSERT_TRUE(tree.remove(all[i], &last)) << i;
            EXPECT_TRUE(last);
            if (i % 2000 == 0) {
                std::vector<IndexEntry> rest(all.begin() + std::ptrdiff_t(i) + 1, all.end());
                expectSame(tree.verify().entries, rest);
            }
        }
        EXPECT_TRUE(tree.verify().entries.empty());
        EXPECT_EQ(store.pageCount(), 1u);
    }
}

TEST(IndexTree, DeferredWritesReachTheStoreOnFlush)
{
    MemoryPages store(Version::Jet4);
    std::uint32_t root = IndexTree::createEmpty(store, 2);
    {
        IndexTree tree(store, 2, root, "t");
        tree.setDeferredWrites(true);
        for (int i = 0; i < 5000; ++i)
            tree.insert(entry(longKey(i * 7 % 5000), 100, std::uint8_t(i % 250)));
        tree.flush();
    }
    IndexTree fresh(store, 2, root, "t");
    EXPECT_EQ(fresh.verify().entries.size(), 5000u);
}

TEST(IndexTree, VerifyFindsDamage)
{
    MemoryPages store(Version::Jet4);
    std::uint32_t root = IndexTree::createEmpty(store, 2);
    IndexTree tree(store, 2, root, "t");
    for (int i = 0; i < 2000; ++i)
        tree.insert(entry(longKey(i), 100, std::uint8_t(i % 250)));
    IndexScan scan = tree.verify();
    ASSERT_GE(scan.pages.size(), 3u);
    std::vector<std::uint8_t> buf(4096);

    // Another table's page.
    IndexTree other(store, 3, root, "t");
    EXPECT_THROW(other.verify(), IndexError);

    // A broken leaf link.
    std::uint32_t leaf = scan.pages[1];
    store.readPage(leaf, buf);
    IndexPage pg = parseIndexPage(Version::Jet4, buf);
    IndexPage saved = pg;
    pg.next = 12345;
    writeIndexPage(Version::Jet4, pg, buf);
    store.writePage(leaf, buf);
    tree.discardCache();
    EXPECT_THROW(tree.verify(), IndexError);

    // Entries out of order.
    pg = saved;
    std::swap(pg.entries[0], pg.entries[1]);
    writeIndexPage(Version::Jet4, pg, buf);
    store.writePage(leaf, buf);
    tree.discardCache();
    EXPECT_THROW(tree.verify(), IndexError);

    writeIndexPage(Version::Jet4, saved, buf);
    store.writePage(leaf, buf);
    tree.discardCache();
    EXPECT_NO_THROW(tree.verify());
}

TEST(IndexKeyBytes, InlineAndHeapKeysBehaveLikeVectors)
{
    for (std::size_t n : {0u, 1u, 23u, 24u, 25u, 300u}) {
        std::vector<std::uint8_t> v(n);
        for (std::size_t i = 0; i < n; ++i)
            v[i] = std::uint8_t(i * 7 + 1);
        KeyBytes k = v;
        EXPECT_EQ(k, v);
        KeyBytes copy = k;
        KeyBytes moved = std::move(copy);
        EXPECT_EQ(moved, v);
        EXPECT_TRUE(copy.empty());
        KeyBytes assigned;
        assigned = moved;
        assigned = assigned;  // self-assignment keeps the bytes
        EXPECT_EQ(assigned, v);
        KeyBytes grown;
        for (std::uint8_t b : v)
            grown.push_back(b);
        EXPECT_EQ(grown, k);
        EXPECT_EQ(grown.toVector(), v);
        if (n) {
            grown.back() ^= 0xFF;
            EXPECT_FALSE(grown == k);
        }
        // Moving a heap key into an inline one and back.
        KeyBytes small = {1, 2};
        small = std::move(assigned);
        EXPECT_EQ(small, v);
    }
}

// Entries added in a batch: some go straight onto the last leaf, the others
// wait and enter the tree leaf by leaf when the batch is full or the tree is
// read. The tree ends up exactly as with single inserts, and the distinct-key
// count follows every key, waiting or not.
TEST(IndexTreeBatch, MixedOrderBatchesMergeIntoManyLevels)
{
    for (Version f : {Version::Jet3, Version::Jet4}) {
        MemoryPages store(f);
        std::uint32_t root = IndexTree::createEmpty(store, 2);
        IndexTree tree(store, 2, root, "ix");
        tree.setDeferredWrites(true);
        const std::size_t limit = 48 * 1024;
        tree.setPendingLimit(limit);
        std::mt19937 rng(17);
        std::vector<IndexEntry> all;
        std::vector<std::vector<std::uint8_t>> used;
        std::uint32_t newKeys = 0;
        std::size_t mostWaiting = 0;
        for (int i = 0; i < 40000; ++i) {
            std::vector<std::uint8_t> k;
            if (i % 5 == 0 && !used.empty())
                k = used[rng() % used.size()];  // a key again, on another row
            else if (i % 7 == 0)
                k = longKey(1000000 + i);  // after every key so far
            else
                k = textish(rng, 3 + rng() % 30);
            used.push_back(k);
            all.push_back(entry(k, 100 + std::uint32_t(i / 200), std::uint8_t(i % 200)));
            tree.add(all.back());
            mostWaiting = std::max(mostWaiting, tree.pendingCount());
            newKeys += tree.takeNewKeys();
            if (i % 9000 == 0)
                expectSame(tree.verify().entries, std::vector<IndexEntry>(all.begin(), all.end()));
        }
        // The memory limit held the batch small.
        EXPECT_GT(mostWaiting, 100u);
        EXPECT_LT(mostWaiting, limit / PackedEntries::kItemBytes);
        tree.flush();
        newKeys += tree.takeNewKeys();
        IndexScan scan = tree.verify();
        EXPECT_GE(scan.depth, 3u);
        expectSame(scan.entries, all);
        EXPECT_EQ(newKeys, countDistinctKeys(scan.entries));
        EXPECT_EQ(tree.rootPage(), root);
    }
}

// Keys that fall before every other key all go to the first leaf, which is
// split into many pages at once.
TEST(IndexTreeBatch, DescendingKeysSplitTheFirstLeafManyWays)
{
    MemoryPages store(Version::Jet4);
    std::uint32_t root = IndexTree::createEmpty(store, 2);
    IndexTree tree(store, 2, root, "down");
    tree.setPendingLimit(1 << 20);
    std::vector<IndexEntry> all;
    for (int i = 30000; i-- > 0;) {
        all.push_back(entry(longKey(i), 100 + std::uint32_t(i / 200), std::uint8_t(i % 200)));
        tree.add(all.back());
        if (i == 20000)
            tree.flush();  // the rest merges into a tree of two levels
    }
    EXPECT_GT(tree.pendingCount(), 10000u);
    IndexScan scan = tree.verify();
    expectSame(scan.entries, all);
    EXPECT_EQ(tree.takeNewKeys(), 30000u);
}

TEST(IndexTreeBatch, UniqueKeysAreFoundWhileWaiting)
{
    MemoryPages store(Version::Jet3);
    std::uint32_t root = IndexTree::createEmpty(store, 2);
    IndexTree tree(store, 2, root, "ux");
    tree.setUnique(true);
    std::mt19937 rng(23);
    std::vector<std::vector<std::uint8_t>> keys;
    for (int i = 0; i < 5000; ++i) {
        auto k = textish(rng, 12);
        if (tree.containsKey(k))
            continue;
        keys.push_back(k);
        tree.add(entry(k, 70, std::uint8_t(i % 250)));
    }
    ASSERT_GT(tree.pendingCount(), 1000u);
    for (std::size_t i = 0; i < keys.size(); i += 97)
        EXPECT_TRUE(tree.containsKey(keys[i])) << i;
    EXPECT_FALSE(tree.containsKey(longKey(5)));
    EXPECT_GT(tree.pendingCount(), 1000u);  // answered without entering the batch
    tree.flush();
    EXPECT_EQ(tree.pendingCount(), 0u);
    for (std::size_t i = 0; i < keys.size(); i += 97)
        EXPECT_TRUE(tree.containsKey(keys[i])) << i;
    EXPECT_EQ(tree.verify().entries.size(), keys.size());
    EXPECT_EQ(tree.takeNewKeys(), keys.size());
}

TEST(IndexTreeBatch, RemoveAndDiscardWithWaitingEntries)
{
    MemoryPages store(Version::Jet4);
    std::uint32_t root = IndexTree::createEmpty(store, 2);
    IndexTree tree(store, 2, root, "t");
    tree.setDeferredWrites(true);
    std::mt19937 rng(29);
    std::vector<IndexEntry> kept;
    for (int i = 0; i < 3000; ++i) {
        kept.push_back(entry(textish(rng, 8), 100 + std::uint32_t(i / 100), std::uint8_t(i % 100)));
        tree.add(kept.back());
    }
    tree.flush();
    tree.takeNewKeys();

    // A waiting entry can be removed; the others stay.
    std::vector<IndexEntry> more;
    for (int i = 0; i < 500; ++i) {
        more.push_back(entry(textish(rng, 8), 200 + std::uint32_t(i / 100), std::uint8_t(i % 100)));
        tree.add(more.back());
    }
    ASSERT_GT(tree.pendingCount(), 0u);
    bool last = false;
    EXPECT_TRUE(tree.remove(more[250], &last));
    EXPECT_TRUE(last);
    more.erase(more.begin() + 250);
    std::vector<IndexEntry> both = kept;
    both.insert(both.end(), more.begin(), more.end());
    expectSame(tree.verify().entries, both);
    tree.flush();

    // Dropping the cache (after the store rolled back) drops waiting entries
    // and their key counts.
    tree.takeNewKeys();
    for (int i = 0; i < 400; ++i)
        tree.add(entry(textish(rng, 8), 300, std::uint8_t(i % 200)));
    ASSERT_GT(tree.pendingCount(), 0u);
    tree.discardCache();
    EXPECT_EQ(tree.pendingCount(), 0u);
    EXPECT_EQ(tree.takeNewKeys(), 0u);
    expectSame(tree.verify().entries, both);
}

// A batch that cannot enter the tree (no page to be had) leaves the tree
// refusing work until it is dropped with the rolled-back store; nothing
// half-entered is ever written as if whole.
TEST(IndexTreeBatch, AFailedBatchBlocksTheTreeUntilDiscarded)
{
    class FewPages : public MemoryPages {
    public:
        using MemoryPages::MemoryPages;
        std::uint32_t allocatePage() override
        {
            if (left == 0)
                throw IndexError("no room for another page");
            --left;
            return MemoryPages::allocatePage();
        }
        int left = 1000;
    };
    FewPages store(Version::Jet4);
    std::uint32_t root = IndexTree::createEmpty(store, 2);
    IndexTree tree(store, 2, root, "ix");
    tree.setDeferredWrites(true);
    std::mt19937 rng(53);
    for (int i = 0; i < 2000; ++i)
        tree.add(entry(textish(rng, 10), 100 + std::uint32_t(i / 100), std::uint8_t(i % 100)));
    tree.flush();
    store.left = 0;
    for (int i = 0; i < 2000; ++i)
        tree.add(entry(textish(rng, 10), 200 + std::uint32_t(i / 100), std::uint8_t(i % 100)));
    EXPECT_THROW(tree.flush(), IndexError);
    try {
        tree.add(entry(longKey(1), 1, 1));
        ADD_FAILURE() << "a broken tree took an entry";
    } catch (const IndexError& e) {
        EXPECT_NE(std::string(e.what()).find("rolled back"), std::string::npos) << e.what();
    }
    EXPECT_THROW(tree.flush(), IndexError);
    tree.discardCache();
    store.left = 1000;
    EXPECT_EQ(tree.verify().entries.size(), 2000u);
}
