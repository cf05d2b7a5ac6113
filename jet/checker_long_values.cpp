// `check`: the long values (memo and OLE) rows refer to: their pages, their
// chains of rows, their lengths.
#include "jet/checker_int.h"

#include "jet/bytes.h"

#include <cstring>

namespace jet::checking {

void Checker::checkLongValue(const TableInfo& t, const Column& c, const uint8_t* field, size_t n, uint32_t page,
                             uint32_t rowNumber, const std::set<uint32_t>& lvPages)
{
    const std::string where = "table " + t.name + ", column " + c.name + ", row " + std::to_string(rowNumber) +
                              " of page " + std::to_string(page);
    if (n == 0)
        return;  // an empty value
    if (n < 12) {
        problem(where, ": a long-value reference of ", n, " bytes");
        return;
    }
    uint32_t head = get32(field);
    uint32_t length = head & 0x3FFFFFFF;
    uint32_t pointer = get32(field + 4);
    if (head & 0x80000000u) {
        if (n != 12 + size_t(length))
            problem(where, ": an inline long value of ", length, " bytes stored in ", n - 12);
        return;
    }
    std::set<uint32_t> chain;
    uint32_t total = 0;
    bool single = head & 0x40000000u;
    for (uint32_t next = pointer; next != 0;) {
        if (!chain.insert(next).second) {
            problem(where, ": its long-value chain loops");
            return;
        }
        if (!lvRowsUsed_.insert(next).second) {
            problem(where, ": long-value row ", next & 0xFF, " of page ", next >> 8, " is used twice");
            return;
        }
        uint32_t p = next >> 8;
        auto span = row(p, next & 0xFF, where);
        if (!span)
            return;
        const uint8_t* b = pages_.get(p);
        if (std::memcmp(b + 4, "LVAL", 4) != 0) {
            problem(where, ": its long value lies on page ", p, ", which is not a long-value page");
            return;
        }
        if (!lvPages.count(p))
            problem(where, ": its long value lies on page ", p, ", which the column's map does not list");
        if (span->deleted) {
            problem(where, ": its long value lies in a deleted row of page ", p);
            return;
        }
        uint32_t size = span->end - span->start;
        if (single) {
            total = size;
            break;
        }
        if (size < 4) {
            problem(where, ": a long-value chain row of ", size, " bytes");
            return;
        }
        total += size - 4;
        next = get32(b + span->start);
    }
    if (total != length)
        problem(where, ": a long value of ", length, " bytes whose rows hold ", total);
}

// The long-value pages of each memo/OLE column, from the column's map.
LongValuePages Checker::claimLongValuePages(const TableInfo& t, const std::string& label)
{
    LongValuePages lvPages;
    for (const auto& c : t.columns) {
        if (!c.longValue() || c.lvOwnedMap == 0)
            continue;
        const std::string col = label + ", column " + c.name;
        if (auto owned = usageMap(c.lvOwnedMap, col)) {
            for (uint32_t p : *owned) {
                const uint8_t* b = pages_.get(p);
                if (!b || b[0] != kPageData || std::memcmp(b + 4, "LVAL", 4) != 0) {
                    problem(col, ": its long-value map lists page ", p, ", which is not a long-value page");
                    continue;
                }
                own(p, "the long values of " + col);
                lvPages[c.number].insert(p);
            }
        }
        if (c.lvFreeMap)
            if (auto freeMap = usageMap(c.lvFreeMap, col + " (free space)"))
                for (uint32_t p : *freeMap)
                    if (!lvPages[c.number].count(p))
                        problem(col, ": its long-value free-space map lists page ", p, ", which it does not own");
    }
    return lvPages;
}

}  // namespace jet::checking
