// Index entries: their order, null keys, distinct-key counts, the duplicate
// key error, and PackedEntries (many entries in little memory).
#include "jet/index_tree_int.h"

namespace jet {
namespace {

std::uint64_t keyWord(std::span<const std::uint8_t> key, std::size_t from)
{
    std::uint64_t v = 0;
    const std::size_t n = key.size() > from ? std::min<std::size_t>(key.size() - from, 8) : 0;
    for (std::size_t i = 0; i < n; ++i)
        v |= std::uint64_t(key[from + i]) << (56 - 8 * i);
    return v;
}

}  // namespace

DuplicateKeyError::DuplicateKeyError(std::string indexName)
    : IndexError(ErrorKind::Constraint, "The changes were not made because they would create duplicate values in the index \"" +
                 indexName + "\"."),
      name_(std::move(indexName))
{
}

std::strong_ordering compareEntries(const IndexEntry& a, const IndexEntry& b)
{
    std::size_t n = std::min(a.key.size(), b.key.size());
    if (n) {
        int c = compareKeyBytes(a.key.data(), b.key.data(), n);
        if (c != 0)
            return c < 0 ? std::strong_ordering::less : std::strong_ordering::greater;
    }
    if (a.key.size() != b.key.size())
        return a.key.size() <=> b.key.size();
    if (a.dataPage != b.dataPage)
        return a.dataPage <=> b.dataPage;
    return a.dataRow <=> b.dataRow;
}

bool isNullKey(std::span<const std::uint8_t> key)
{
    for (std::uint8_t b : key)
        if (b != 0x00 && b != 0xFF)
            return false;
    return true;
}

std::uint32_t countDistinctKeys(const std::vector<IndexEntry>& sorted)
{
    std::uint32_t n = 0;
    for (std::size_t i = 0; i < sorted.size(); ++i)
        if (i == 0 || sorted[i].key != sorted[i - 1].key)
            ++n;
    return n;
}

bool PackedEntries::less(const Item& a, const Item& b) const
{
    if (a.head != b.head)
        return a.head < b.head;
    if (a.next != b.next)
        return a.next < b.next;
    // Equal zero-padded first 16 bytes: the first min(length, 16) bytes agree.
    const std::size_t la = length(a), lb = length(b);
    const std::size_t n = std::min(la, lb);
    if (n > 16) {
        int c = compareKeyBytes(bytes_.data() + a.offset + 18, bytes_.data() + b.offset + 18, n - 16);
        if (c != 0)
            return c < 0;
    }
    if (la != lb)
        return la < lb;
    return a.pointer < b.pointer;
}

void PackedEntries::add(std::span<const std::uint8_t> key, std::uint32_t dataPage, std::uint8_t dataRow)
{
    if (key.size() > 0xFFFF)
        throw IndexError("index key too long");
    if (bytes_.size() + key.size() + 2 > 0xFFFFFFFFu)
        throw IndexError("index keys take more than 4 GB");
    Item it{keyWord(key, 0), keyWord(key, 8), std::uint32_t(bytes_.size()), dataPage << 8 | dataRow};
    const std::size_t at = bytes_.size();
    bytes_.resize(at + 2 + key.size());
    bytes_[at] = std::uint8_t(key.size());
    bytes_[at + 1] = std::uint8_t(key.size() >> 8);
    if (!key.empty())
        std::memcpy(bytes_.data() + at + 2, key.data(), key.size());
    if (sorted_ && !items_.empty() && !less(items_.back(), it))
        sorted_ = false;
    items_.push_back(it);
}

std::span<const std::uint8_t> PackedEntries::key(std::size_t i) const
{
    return {bytes_.data() + items_[i].offset + 2, length(items_[i])};
}

IndexEntry PackedEntries::entry(std::size_t i) const
{
    IndexEntry e;
    auto k = key(i);
    e.key.assign(k.begin(), k.end());
    e.dataPage = items_[i].pointer >> 8;
    e.dataRow = std::uint8_t(items_[i].pointer);
    return e;
}

std::strong_ordering PackedEntries::compare(std::size_t i, const IndexEntry& e) const
{
    auto k = key(i);
    const std::size_t n = std::min(k.size(), e.key.size());
    if (n) {
        int c = compareKeyBytes(k.data(), e.key.data(), n);
        if (c != 0)
            return c < 0 ? std::strong_ordering::less : std::strong_ordering::greater;
    }
    if (k.size() != e.key.size())
        return k.size() <=> e.key.size();
    return items_[i].pointer <=> (e.dataPage << 8 | e.dataRow);
}

bool PackedEntries::sameKey(std::size_t i, std::size_t j) const
{
    const Item& a = items_[i];
    const Item& b = items_[j];
    if (a.head != b.head || a.next != b.next)
        return false;
    const std::size_t la = length(a);
    return la == length(b) &&
           (la <= 16 || std::memcmp(bytes_.data() + a.offset + 18, bytes_.data() + b.offset + 18, la - 16) == 0);
}

void PackedEntries::sort()
{
    if (sorted_)
        return;
    // The first 16 bytes decide most comparisons; keep that part inline.
    std::sort(items_.begin(), items_.end(), [this](const Item& a, const Item& b) {
        if (a.head != b.head)
            return a.head < b.head;
        if (a.next != b.next)
            return a.next < b.next;
        return less(a, b);
    });
    sorted_ = true;
}

}  // namespace jet
