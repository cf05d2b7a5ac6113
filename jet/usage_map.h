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
#include <optional>
#include <unordered_set>
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

// The global map: page 1, row 0, where a set bit marks a free page. While
// the file fits its bits it is an inline map starting at page 0; when the
// file outgrows that it becomes a reference map over every page of the file
// (the row has room for the format's largest file), so that free pages are
// never lost and no page of the file lies outside the map. Pages a map does
// not cover read as used.
class GlobalMap {
public:
    GlobalMap(Pager& pager, const Format& f) : pager_(pager), f_(f) {}
    // The lowest free page inside the file, or 0 when there is none.
    uint32_t findFree();
    void markUsed(uint32_t page);
    void markFree(uint32_t page);
    bool isFree(uint32_t page) const;
    // Forgets what earlier searches learnt (after a rollback).
    void forget()
    {
        searchFrom_ = 0;
        claimed_.reset();
    }
    // The pages the file's tables claim, learnt once per search history: a
    // page the map calls free must not be one of them (a damaged map would
    // hand out live rows).
    bool claimsKnown() const { return claimed_.has_value(); }
    void setClaims(const std::vector<uint32_t>& pages) { claimed_.emplace(pages.begin(), pages.end()); }
    bool claimed(uint32_t page) const;

private:
    struct Row {
        uint32_t start;
        uint32_t length;
    };
    Row row() const;
    void set(uint32_t page, bool free);
    void toReference();
    uint32_t addMapPage(uint32_t index);
    Pager& pager_;
    const Format& f_;
    uint32_t searchFrom_ = 0; // no free page lies below this one
    std::optional<std::unordered_set<uint32_t>> claimed_;
};

} // namespace jet
