#include "jet/usage_map.h"

#include "jet/bytes.h"
#include "jet/data_page.h"
#include "jet/error.h"
#include "jet/pager.h"

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
    const uint8_t* page = pager_.read(pg);
    if (page[0] != kPageData)
        throw Error("A usage map reference points to page " + std::to_string(pg) + ", which is not a data page");
    auto [s, e] = data_page::rowBounds(f_, page, uint16_t(rowPointer_ & 0xFF));
    if (e - s < 5)
        throw Error("A usage map on page " + std::to_string(pg) + " is damaged");
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
                throw Error("Usage map page " + std::to_string(mp) + " is damaged");
            for (uint32_t i = 0; i < per; ++i)
                if (m[4 + i / 8] & (1u << (i % 8)))
                    out.push_back(k * per + i);
        }
    } else {
        throw Error("A usage map on page " + std::to_string(loc.page) + " has an unknown type");
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
        if (hi - lo < bits - 8) {
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
        throw Error("A usage map on page " + std::to_string(loc.page) + " has an unknown type");
    uint32_t per = pagesPerMapPage(f_);
    uint32_t k = page / per;
    if (1 + 4 * (k + 1) > loc.length)
        throw Error("A usage map cannot cover page " + std::to_string(page));
    uint32_t mp = get32(row + 1 + 4 * k);
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

void GlobalMap::set(uint32_t page, bool free)
{
    const uint8_t* p1 = pager_.read(1);
    auto [s, e] = data_page::rowBounds(f_, p1, 0);
    uint8_t* row = pager_.write(1) + s;
    uint32_t len = e - s;
    if (row[0] != kInline || len < 5)
        return; // other map kinds are left alone: pages outside count as used
    uint32_t bits = (len - 5) * 8;
    uint32_t start = get32(row + 1);
    if (page < start)
        return;
    if (page - start >= bits) {
        if (free)
            return;
        // Slide the window forward; pages before it count as used and the
        // new part is free unless inside the file.
        uint32_t ns = page - page % 8;
        ns = ns >= bits / 2 ? ns - bits / 2 : 0;
        ns -= ns % 8;
        std::vector<uint8_t> nb(len - 5, 0xFF);
        for (uint32_t i = 0; i < bits; ++i) {
            uint32_t p = ns + i;
            bool isFree;
            if (p >= start && p - start < bits)
                isFree = row[5 + (p - start) / 8] & (1u << ((p - start) % 8));
            else
                isFree = p >= pager_.pageCount();
            if (!isFree)
                nb[i / 8] &= uint8_t(~(1u << (i % 8)));
        }
        put32(row + 1, ns);
        std::memcpy(row + 5, nb.data(), nb.size());
        start = ns;
    }
    uint32_t i = page - start;
    if (free)
        row[5 + i / 8] |= uint8_t(1u << (i % 8));
    else
        row[5 + i / 8] &= uint8_t(~(1u << (i % 8)));
}

void GlobalMap::markUsed(uint32_t page) { set(page, false); }
void GlobalMap::markFree(uint32_t page) { set(page, true); }

bool GlobalMap::isFree(uint32_t page) const
{
    const uint8_t* p1 = pager_.read(1);
    auto [s, e] = data_page::rowBounds(f_, p1, 0);
    const uint8_t* row = p1 + s;
    if (row[0] != kInline)
        return false;
    uint32_t start = get32(row + 1);
    uint32_t bits = (e - s - 5) * 8;
    if (page < start || page - start >= bits)
        return false;
    uint32_t i = page - start;
    return row[5 + i / 8] & (1u << (i % 8));
}

} // namespace jet
