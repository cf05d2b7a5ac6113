#include "jet/usage_map.h"

#include "jet/bytes.h"
#include "jet/data_page.h"
#include "jet/error.h"
#include "jet/pager.h"

#include <algorithm>
#include <cstring>

namespace jet {

namespace {
constexpr uint8_t kInline = 0;
constexpr uint8_t kReference = 1;

uint32_t pagesPerMapPage(const Format& f) { return (f.pageSize - 4) * 8; }
} // namespace

UsageMap::UsageMap(Pager& pager, const Format& f, uint32_t rowPointer, std::function<uint32_t()> allocatePage)
    : pager_(pager), f_(f), rowPointer_(rowPointer), allocatePage_(std::move(allocatePage))
{
}

std::vector<uint8_t> UsageMap::emptyRow(const Format& f)
{
    return std::vector<uint8_t>(5 + f.inlineMapBytes, 0);
}

UsageMap::Location UsageMap::locate() const
{
    uint32_t pg = rowPointer_ >> 8;
    uint16_t r = uint16_t(rowPointer_ & 0xFF);
    const std::string where = "the usage map at page " + std::to_string(pg) + " row " + std::to_string(r);
    if (pg >= pager_.pageCount())
        throwDamaged(pager_.path(), where + " lies past its end");
    const uint8_t* page = pager_.read(pg);
    if (page[0] != kPageData || !data_page::rowTableSound(f_, page) || r >= data_page::rowCount(f_, page) ||
        (data_page::rowOffsetRaw(f_, page, r) & kRowDeleted))
        throwDamaged(pager_.path(), where + " cannot be found");
    auto [s, e] = data_page::rowBounds(f_, page, r);
    if (e - s < 5 || (page[s] != kInline && page[s] != kReference))
        throwDamaged(pager_.path(), where + " is broken");
    return {pg, s, e - s};
}

std::vector<uint32_t> UsageMap::pages() const
{
    Location loc = locate();
    std::vector<uint8_t> row(pager_.read(loc.page) + loc.start, pager_.read(loc.page) + loc.start + loc.length);
    std::vector<uint32_t> out;
    if (row[0] == kInline) {
        uint32_t start = get32(row.data() + 1);
        for (uint32_t i = 0; i < (loc.length - 5) * 8; ++i)
            if (row[5 + i / 8] & (1u << (i % 8)))
                out.push_back(start + i);
    } else if (row[0] == kReference) {
        uint32_t per = pagesPerMapPage(f_);
        for (uint32_t k = 0; 1 + 4 * (k + 1) <= loc.length; ++k) {
            uint32_t mp = get32(row.data() + 1 + 4 * k);
            if (mp == 0)
                continue;
            const uint8_t* m = pager_.read(mp);
            if (m[0] != kPageUsageMap)
                throw Error(ErrorKind::Corrupt, "Usage map page " + std::to_string(mp) + " is damaged");
            for (uint32_t i = 0; i < per; ++i)
                if (m[4 + i / 8] & (1u << (i % 8)))
                    out.push_back(k * per + i);
        }
    } else {
        throw Error(ErrorKind::Corrupt, "A usage map on page " + std::to_string(loc.page) + " has an unknown type");
    }
    return out;
}

bool UsageMap::contains(uint32_t page) const
{
    Location loc = locate();
    const uint8_t* row = pager_.read(loc.page) + loc.start;
    if (row[0] == kInline) {
        uint32_t start = get32(row + 1);
        if (page < start || page - start >= (loc.length - 5) * 8)
            return false;
        uint32_t i = page - start;
        return row[5 + i / 8] & (1u << (i % 8));
    }
    uint32_t per = pagesPerMapPage(f_);
    uint32_t k = page / per;
    if (1 + 4 * (k + 1) > loc.length)
        return false;
    uint32_t mp = get32(row + 1 + 4 * k);
    if (!mp)
        return false;
    uint32_t i = page % per;
    return pager_.read(mp)[4 + i / 8] & (1u << (i % 8));
}

void UsageMap::add(uint32_t page) { set(page, true); }
void UsageMap::remove(uint32_t page) { set(page, false); }

void UsageMap::toReference(uint8_t* row, uint32_t length)
{
    // Collect the inline bits first; the row is rewritten in place.
    uint32_t start = get32(row + 1);
    std::vector<uint32_t> set;
    for (uint32_t i = 0; i < (length - 5) * 8; ++i)
        if (row[5 + i / 8] & (1u << (i % 8)))
            set.push_back(start + i);
    std::memset(row, 0, length);
    row[0] = kReference;
    for (uint32_t p : set)
        this->set(p, true);
}

void UsageMap::set(uint32_t page, bool on)
{
    Location loc = locate();
    // An inline map that is to change needs at least one byte of bits.
    if (pager_.read(loc.page)[loc.start] == kInline && loc.length < 6)
        throwDamaged(pager_.path(), "the usage map at page " + std::to_string(loc.page) + " has no room for its bits");
    uint8_t* row = pager_.write(loc.page) + loc.start;
    if (row[0] == kInline) {
        uint32_t bits = (loc.length - 5) * 8;
        uint32_t start = get32(row + 1);
        bool empty = true;
        for (uint32_t i = 0; i < loc.length - 5; ++i)
            if (row[5 + i]) {
                empty = false;
                break;
            }
        if (empty && on) {
            // An empty map starts where its first page is.
            start = page < bits ? 0 : page - page % 8;
            put32(row + 1, start);
        }
        if (page >= start && page - start < bits) {
            uint32_t i = page - start;
            if (on)
                row[5 + i / 8] |= uint8_t(1u << (i % 8));
            else
                row[5 + i / 8] &= uint8_t(~(1u << (i % 8)));
            return;
        }
        if (!on)
            return;
        // Out of the window: move the window if every page still fits.
        std::vector<uint32_t> cur;
        for (uint32_t i = 0; i < bits; ++i)
            if (row[5 + i / 8] & (1u << (i % 8)))
                cur.push_back(start + i);
        uint32_t lo = page, hi = page;
        for (uint32_t p : cur) {
            lo = std::min(lo, p);
            hi = std::max(hi, p);
        }
        if (hi - lo + 8 < bits) {
            uint32_t ns = lo - lo % 8;
            std::memset(row + 5, 0, loc.length - 5);
            put32(row + 1, ns);
            cur.push_back(page);
            for (uint32_t p : cur)
                row[5 + (p - ns) / 8] |= uint8_t(1u << ((p - ns) % 8));
            return;
        }
        if (!allocatePage_)
            throw Error("A usage map cannot grow here");
        toReference(row, loc.length);
        set(page, true);
        return;
    }
    if (row[0] != kReference)
        throw Error(ErrorKind::Corrupt, "A usage map on page " + std::to_string(loc.page) + " has an unknown type");
    uint32_t per = pagesPerMapPage(f_);
    uint32_t k = page / per;
    if (1 + 4 * (k + 1) > loc.length)
        throw Error(ErrorKind::Full, "A usage map cannot cover page " + std::to_string(page));
    uint32_t mp = get32(row + 1 + 4 * k);
    if (mp && (mp >= pager_.pageCount() || pager_.read(mp)[0] != kPageUsageMap))
        throwDamaged(pager_.path(), "the usage map at page " + std::to_string(loc.page) + " refers to page " +
                                        std::to_string(mp) + ", which is not a map page");
    if (!mp) {
        if (!on)
            return;
        mp = allocatePage_();
        // The allocation may have moved cached pages: find the row again.
        loc = locate();
        row = pager_.write(loc.page) + loc.start;
        put32(row + 1 + 4 * k, mp);
        uint8_t* m = pager_.write(mp);
        std::memset(m, 0, f_.pageSize);
        m[0] = kPageUsageMap;
        m[1] = 0x01;
    }
    uint8_t* m = pager_.write(mp);
    uint32_t i = page % per;
    if (on)
        m[4 + i / 8] |= uint8_t(1u << (i % 8));
    else
        m[4 + i / 8] &= uint8_t(~(1u << (i % 8)));
}

// Global map -------------------------------------------------------------

namespace {

// The first set bit in [from, to) of a bitmap, or `to`.
uint32_t firstSetBit(const uint8_t* bits, uint32_t from, uint32_t to)
{
    uint32_t i = from;
    while (i < to) {
        uint8_t b = bits[i / 8];
        if ((i % 8) == 0 && b == 0) {
            i += 8;
            continue;
        }
        if (b & (1u << (i % 8)))
            return i;
        ++i;
    }
    return to;
}

} // namespace

GlobalMap::Row GlobalMap::row() const
{
    const uint8_t* p1 = pager_.read(1);
    if (p1[0] != kPageData || data_page::rowCount(f_, p1) == 0 || !data_page::rowTableSound(f_, p1))
        throw Error(ErrorKind::Corrupt, "'" + pager_.path() + "' is damaged: its page map (page 1) is missing");
    auto [s, e] = data_page::rowBounds(f_, p1, 0);
    if (e - s < 5 || (p1[s] != kInline && p1[s] != kReference))
        throw Error(ErrorKind::Corrupt, "'" + pager_.path() + "' is damaged: its page map (page 1) cannot be read");
    return {s, e - s};
}

bool GlobalMap::isFree(uint32_t page) const
{
    Row r = row();
    const uint8_t* m = pager_.read(1) + r.start;
    if (m[0] == kInline) {
        uint32_t start = get32(m + 1);
        uint32_t bits = (r.length - 5) * 8;
        if (page < start || page - start >= bits)
            return false;
        uint32_t i = page - start;
        return m[5 + i / 8] & (1u << (i % 8));
    }
    uint32_t per = pagesPerMapPage(f_);
    uint32_t k = page / per;
    if (1 + 4 * (k + 1) > r.length)
        return false;
    uint32_t mp = get32(m + 1 + 4 * k);
    if (!mp || mp >= pager_.pageCount())
        return false;
    const uint8_t* b = pager_.read(mp);
    uint32_t i = page % per;
    return b[0] == kPageUsageMap && (b[4 + i / 8] & (1u << (i % 8)));
}

uint32_t GlobalMap::findFree()
{
    const uint32_t count = pager_.pageCount();
    uint32_t from = std::max<uint32_t>(searchFrom_, 2);
    if (from >= count)
        return 0;
    Row r = row();
    const uint8_t* m = pager_.read(1) + r.start;
    uint32_t found = 0;
    if (m[0] == kInline) {
        uint32_t start = get32(m + 1);
        uint32_t bits = (r.length - 5) * 8;
        uint32_t lo = std::max(from, start);
        uint32_t hi = uint32_t(std::min<uint64_t>(count, uint64_t(start) + bits));
        if (lo < hi) {
            uint32_t i = firstSetBit(m + 5, lo - start, hi - start);
            if (i < hi - start)
                found = start + i;
        }
    } else {
        uint32_t per = pagesPerMapPage(f_);
        std::vector<uint32_t> mapPages;
        for (uint32_t k = 0; 1 + 4 * (k + 1) <= r.length; ++k)
            mapPages.push_back(get32(m + 1 + 4 * k));
        for (uint32_t k = from / per; k < mapPages.size() && uint64_t(k) * per < count && !found; ++k) {
            uint32_t mp = mapPages[k];
            if (!mp || mp >= count)
                continue;
            const uint8_t* b = pager_.read(mp);
            if (b[0] != kPageUsageMap)
                continue;
            uint32_t lo = k == from / per ? from % per : 0;
            uint32_t hi = uint32_t(std::min<uint64_t>(per, count - uint64_t(k) * per));
            uint32_t i = lo < hi ? firstSetBit(b + 4, lo, hi) : hi;
            if (i < hi)
                found = k * per + i;
        }
    }
    searchFrom_ = found ? found : count;
    return found;
}

bool GlobalMap::claimed(uint32_t page) const { return claimed_ && claimed_->count(page); }

void GlobalMap::markUsed(uint32_t page) { set(page, false); }

void GlobalMap::markFree(uint32_t page)
{
    // A page given back is no longer any table's.
    if (claimed_)
        claimed_->erase(page);
    set(page, true);
    searchFrom_ = std::min(searchFrom_, page);
}

// A new map page for pages [index * per, (index + 1) * per): pages of the
// file read as used (the map did not cover them), pages past its end free.
uint32_t GlobalMap::addMapPage(uint32_t index)
{
    uint32_t mp = pager_.allocate();
    uint8_t* b = pager_.write(mp);
    std::memset(b, 0, f_.pageSize);
    b[0] = kPageUsageMap;
    b[1] = 0x01;
    const uint32_t per = pagesPerMapPage(f_);
    const uint64_t base = uint64_t(index) * per;
    const uint64_t count = pager_.pageCount();
    for (uint32_t i = 0; i < per; ++i)
        if (base + i >= count)
            b[4 + i / 8] |= uint8_t(1u << (i % 8));
    uint8_t* m = pager_.write(1) + row().start;
    put32(m + 1 + 4 * index, mp);
    // The map page is itself a page of the file.
    if (mp / per != index)
        set(mp, false);
    return mp;
}

void GlobalMap::toReference()
{
    Row r = row();
    const uint8_t* m = pager_.read(1) + r.start;
    const uint32_t count = pager_.pageCount();
    const uint32_t per = pagesPerMapPage(f_);
    uint32_t slots = (r.length - 1) / 4;
    // Room for every page of the file and a map page or two more.
    if (uint64_t(slots) * per < uint64_t(count) + 2)
        throw Error(ErrorKind::Full, "The database '" + pager_.path() + "' has reached the size its page map can cover");
    std::vector<uint32_t> freePages;
    uint32_t start = get32(m + 1);
    for (uint32_t i = 0; i < (r.length - 5) * 8; ++i)
        if ((m[5 + i / 8] & (1u << (i % 8))) && uint64_t(start) + i < count)
            freePages.push_back(start + i);
    uint8_t* w = pager_.write(1) + r.start;
    std::memset(w, 0, r.length);
    w[0] = kReference;
    for (uint32_t k = 0; uint64_t(k) * per < pager_.pageCount(); ++k)
        if (get32(pager_.read(1) + r.start + 1 + 4 * k) == 0)
            addMapPage(k);
    for (uint32_t p : freePages)
        set(p, true);
}

void GlobalMap::set(uint32_t page, bool free)
{
    Row r = row();
    const uint8_t* m = pager_.read(1) + r.start;
    if (m[0] == kInline) {
        uint32_t start = get32(m + 1);
        uint32_t bits = (r.length - 5) * 8;
        if (start != 0 || page >= bits) {
            // A window that does not start at page 0, or a page past it:
            // only a reference map keeps every page of the file accounted.
            toReference();
            set(page, free);
            return;
        }
        uint8_t* w = pager_.write(1) + r.start;
        if (free)
            w[5 + page / 8] |= uint8_t(1u << (page % 8));
        else
            w[5 + page / 8] &= uint8_t(~(1u << (page % 8)));
        return;
    }
    const uint32_t per = pagesPerMapPage(f_);
    const uint32_t k = page / per;
    if (1 + 4 * (k + 1) > r.length)
        throw Error(ErrorKind::Full, "The database '" + pager_.path() + "' has reached the size its page map can cover");
    uint32_t mp = get32(m + 1 + 4 * k);
    if (mp && (mp >= pager_.pageCount() || pager_.read(mp)[0] != kPageUsageMap))
        throw Error(ErrorKind::Corrupt, "'" + pager_.path() + "' is damaged: its page map refers to page " + std::to_string(mp) +
                    ", which is not a map page");
    if (!mp)
        mp = addMapPage(k);
    uint8_t* b = pager_.write(mp);
    uint32_t i = page % per;
    if (free)
        b[4 + i / 8] |= uint8_t(1u << (i % 8));
    else
        b[4 + i / 8] &= uint8_t(~(1u << (i % 8)));
}

} // namespace jet
