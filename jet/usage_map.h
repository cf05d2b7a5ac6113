// Usage maps: the page sets of tables, indexes and long-value columns, and
// the global map on page 1 (where a set bit means a free page).
//
// A map is a row: type 0 holds a start page and a bitmap inline; type 1
// holds the numbers of map pages (type 0x05), each a bitmap of a fixed
// range of pages. An inline map that can no longer cover its pages becomes
// a reference map in place (the row keeps its size).
#pragma once

#include "jet/format.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace jet {

class Pager;

class UsageMap {
public:
    // `allocatePage` gives a new page for map pages of a reference map.
    UsageMap(Pager& pager, const Format& f, uint32_t rowPointer, std::function<uint32_t()> allocatePage = {});

    std::vector<uint32_t> pages() const;
    bool contains(uint32_t page) const;
    void add(uint32_t page);
    void remove(uint32_t page);
    uint32_t rowPointer() const { return rowPointer_; }

    // Bytes of a new, empty inline map row.
    static std::vector<uint8_t> emptyRow(const Format& f);

private:
    struct Location {
        uint32_t page;
        uint32_t start;
        uint32_t length;
    };
    Location locate() const;
    void set(uint32_t page, bool on);
    void toReference(uint8_t* row, uint32_t length);

    Pager& pager_;
    const Format& f_;
    uint32_t rowPointer_;
    std::function<uint32_t()> allocatePage_;
};

// The global map: page 1, row 0. Set bits are free pages; pages outside the
// inline window are taken as in use.
class GlobalMap {
public:
    GlobalMap(Pager& pager, const Format& f) : pager_(pager), f_(f) {}
    void markUsed(uint32_t page);
    void markFree(uint32_t page);
    bool isFree(uint32_t page) const;

private:
    void set(uint32_t page, bool free);
    Pager& pager_;
    const Format& f_;
};

} // namespace jet
