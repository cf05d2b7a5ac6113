// Checking one index for `check`, apart from the writer's tree code: this
// file reads index pages itself (layout in index_tree_int.h), walks the
// tree, and compares its leaf entries with the ones the table's rows give.
// A fault in the writer's page codec or tree code therefore shows here.
#include "jet/index_check.h"

#include "jet/bytes.h"

#include <algorithm>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

namespace jet {
namespace {

// An entry as read: key, row pointer (page << 8 | row), child page.
struct Item {
    std::vector<std::uint8_t> key;
    std::uint32_t row = 0;
    std::uint32_t child = 0;
    bool operator<(const Item& o) const { return std::tie(key, row) < std::tie(o.key, o.row); }
    bool operator==(const Item& o) const { return key == o.key && row == o.row; }
};

struct Node {
    bool leaf = true;
    std::uint32_t prev = 0, next = 0, tail = 0;
    std::vector<Item> items;
};

// A fault that ends the walk: the tree cannot be read further.
struct Fault {
    std::string text;
};

class TreeReader {
public:
    TreeReader(const PageReader& pages, const IndexCheckInput& in) : pages_(pages), in_(in)
    {
        const bool j4 = in.format == Version::Jet4;
        pageSize_ = j4 ? 4096 : 2048;
        linksAt_ = j4 ? 12 : 8;  // prev, next and tail follow one another
        prefixAt_ = j4 ? 24 : 20;
        maskAt_ = j4 ? 0x1B : 0x16;
        dataAt_ = j4 ? 0x1E0 : 0xF8;
    }

    // Leaf entries in tree order; every page visited, root first.
    std::vector<Item> leaves;
    std::vector<std::uint32_t> visited;

    void walk() { walkFrom(in_.rootPage, 0); checkLinks(); }

private:
    Node read(std::uint32_t page) const;
    const Item* walkFrom(std::uint32_t page, std::size_t depth);
    void checkLinks();
    [[noreturn]] static void fail(std::uint32_t page, const std::string& what)
    {
        throw Fault{"index page " + std::to_string(page) + ": " + what};
    }

    const PageReader& pages_;
    const IndexCheckInput& in_;
    std::uint32_t pageSize_, linksAt_, prefixAt_, maskAt_, dataAt_;
    std::unordered_set<std::uint32_t> seen_;
    std::vector<std::vector<std::uint32_t>> levels_;
    std::unordered_map<std::uint32_t, Node> links_;  // each page's links, its entries left out
};

Node TreeReader::read(std::uint32_t page) const
{
    const std::uint8_t* b = pages_(page);
    if (!b)
        fail(page, "past the end of the file");
    if (b[0] != kPageIndexLeaf && b[0] != kPageIndexNode)
        fail(page, "not an index page (type " + std::to_string(b[0]) + ")");
    if (get32(b + 4) != in_.tdefPage)
        fail(page, "belongs to table definition " + std::to_string(get32(b + 4)));
    Node n;
    n.leaf = b[0] == kPageIndexLeaf;
    n.prev = get32(b + linksAt_);
    n.next = get32(b + linksAt_ + 4);
    n.tail = n.leaf ? 0 : get32(b + linksAt_ + 8);
    const std::size_t prefix = in_.format == Version::Jet4 ? get16(b + prefixAt_) : b[prefixAt_];
    const std::size_t pointerBytes = n.leaf ? 4 : 8;
    const std::uint8_t* data = b + dataAt_;
    std::size_t start = 0;
    for (std::size_t end = 1; end < (dataAt_ - maskAt_) * 8; ++end) {
        if (!(b[maskAt_ + end / 8] >> (end % 8) & 1))
            continue;
        if (end > pageSize_ - dataAt_)
            fail(page, "its bit mask points past the page");
        // Entries after the first leave out the prefix they share with it.
        std::vector<std::uint8_t> bytes;
        if (!n.items.empty())
            bytes.assign(data, data + prefix);
        bytes.insert(bytes.end(), data + start, data + end);
        if (bytes.size() < pointerBytes || (n.items.empty() && end < prefix))
            fail(page, "an entry is shorter than its row pointer or the shared prefix");
        Item it;
        const std::uint8_t* p = bytes.data() + bytes.size() - pointerBytes;
        it.row = std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2];
        it.row = it.row << 8 | p[3];
        if (!n.leaf)
            it.child = std::uint32_t(p[4]) << 24 | std::uint32_t(p[5]) << 16 | std::uint32_t(p[6]) << 8 | p[7];
        bytes.resize(bytes.size() - pointerBytes);
        it.key = std::move(bytes);
        n.items.push_back(std::move(it));
        start = end;
    }
    if (get16(b + 2) != pageSize_ - dataAt_ - start)
        fail(page, "free space field does not match the entries");
    for (std::size_t i = 1; i < n.items.size(); ++i)
        if (!(n.items[i - 1] < n.items[i]))
            fail(page, "entries out of order");
    return n;
}

// Reads the subtree under `page`; returns its last leaf entry (null when the
// subtree is an empty root leaf).
const Item* TreeReader::walkFrom(std::uint32_t page, std::size_t depth)
{
    if (depth > 32)
        fail(page, "the tree is too deep");
    if (!seen_.insert(page).second)
        fail(page, "reached twice");
    visited.push_back(page);
    if (levels_.size() <= depth)
        levels_.resize(depth + 1);
    levels_[depth].push_back(page);
    Node n = read(page);
    links_[page] = Node{n.leaf, n.prev, n.next, n.tail, {}};
    if (n.leaf) {
        if (n.items.empty()) {
            if (page != in_.rootPage)
                fail(page, "empty leaf page inside the tree");
            return nullptr;
        }
        if (!leaves.empty() && !(leaves.back() < n.items.front()))
            fail(page, "entries out of order across pages");
        leaves.insert(leaves.end(), n.items.begin(), n.items.end());
        return &leaves.back();
    }
    if (n.items.empty() && !n.tail)
        fail(page, "intermediate page without children");
    std::vector<std::uint32_t> children;
    for (const Item& it : n.items)
        children.push_back(it.child);
    if (n.tail)
        children.push_back(n.tail);
    const Item* last = nullptr;
    for (std::size_t i = 0; i < children.size(); ++i) {
        const std::size_t before = leaves.size();
        last = walkFrom(children[i], depth + 1);
        if (!last || leaves.size() == before)
            fail(page, "child page " + std::to_string(children[i]) + " is empty");
        if (i < n.items.size() && !(n.items[i] == *last))
            fail(page, "entry for child page " + std::to_string(children[i]) +
                           " differs from that page's last entry");
    }
    return last;
}

// Leaves form one chain in tree order; intermediate pages link to their
// neighbours on the level or to nothing.
void TreeReader::checkLinks()
{
    for (const auto& level : levels_)
        for (std::size_t i = 0; i < level.size(); ++i) {
            const Node& n = links_.at(level[i]);
            const std::uint32_t prev = i ? level[i - 1] : 0, next = i + 1 < level.size() ? level[i + 1] : 0;
            if (n.leaf ? (n.prev != prev || n.next != next)
                       : ((n.prev && n.prev != prev) || (n.next && n.next != next)))
                fail(level[i], "previous/next links do not match the order of its level");
        }
}

std::string rowText(std::uint32_t row)
{
    return "page " + std::to_string(row >> 8) + " row " + std::to_string(row & 0xFF);
}

}  // namespace

std::vector<std::string> checkIndex(const PageReader& pages, IndexCheckInput in)
{
    std::vector<std::string> problems;
    const std::string who = "index " + in.name + ": ";
    TreeReader tree(pages, in);
    try {
        tree.walk();
    } catch (const Fault& f) {
        problems.push_back(who + f.text);
        return problems;
    }
    if (in.mapPages)
        for (std::uint32_t p : tree.visited)
            if (!in.mapPages->count(p))
                problems.push_back(who + "page " + std::to_string(p) + " of its tree is not in its usage map");

    std::vector<Item> want;
    want.reserve(in.expected.size());
    for (const IndexEntry& e : in.expected)
        want.push_back({std::vector<std::uint8_t>(e.key.begin(), e.key.end()), e.dataPage << 8 | e.dataRow, 0});
    std::sort(want.begin(), want.end());
    const std::vector<Item>& have = tree.leaves;
    // Walk both sorted lists; entries are unique by row pointer.
    std::size_t i = 0, j = 0, reported = 0;
    auto report = [&](std::string s) {
        if (reported++ < 10)
            problems.push_back(who + s);
    };
    while (i < have.size() || j < want.size()) {
        if (j == want.size() || (i < have.size() && have[i] < want[j])) {
            report("holds an entry for " + rowText(have[i++].row) + " that no row of the table gives");
        } else if (i == have.size() || want[j] < have[i]) {
            report("has no entry for the row at " + rowText(want[j++].row) + " (or its key is wrong)");
        } else {
            ++i;
            ++j;
        }
    }
    if (reported > 10)
        problems.push_back(who + std::to_string(reported - 10) + " more differences");
    return problems;
}

}  // namespace jet
