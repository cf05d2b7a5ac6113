// `check`: reading usage maps, the bitmaps (inline, or spread over map
// pages) that list the pages of a table, an index or a long-value column.
#include "jet/checker_int.h"

#include "jet/bytes.h"

namespace jet::checking {

// The pages a usage map lists. A global map lists free pages.
std::optional<std::vector<uint32_t>> Checker::usageMap(uint32_t pointer, const std::string& what, bool globalMap)
{
    uint32_t page = pointer >> 8, rowNumber = pointer & 0xFF;
    auto span = row(page, rowNumber, "the usage map of " + what);
    if (!span)
        return std::nullopt;
    const uint8_t* b = pages_.get(page);
    // Map rows live on pages of no table (page 1, holding the global map,
    // names itself).
    if (get32(b + 4) != 0 && get32(b + 4) != page)
        problem("the usage map of ", what, " lies on page ", page, ", which belongs to a table's data");
    own(page, "the usage maps");
    std::vector<uint32_t> listed;
    const uint8_t* m = b + span->start;
    size_t n = span->end - span->start;
    if (n < 1) {
        problem("the usage map of ", what, " is empty");
        return std::nullopt;
    }
    if (m[0] == 0) {
        if (n < 5) {
            problem("the usage map of ", what, " is cut short");
            return std::nullopt;
        }
        uint32_t start = get32(m + 1);
        for (size_t i = 5; i < n; ++i)
            for (int bit = 0; bit < 8; ++bit)
                if (m[i] & (1 << bit)) {
                    uint32_t p = start + uint32_t((i - 5) * 8 + size_t(bit));
                    if (p < pages_.count || !globalMap)
                        listed.push_back(p);
                }
    } else if (m[0] == 1) {
        const uint32_t perPage = (f_.pageSize - 4) * 8;
        for (size_t i = 1; i + 4 <= n; i += 4) {
            uint32_t mapPage = get32(m + i);
            if (mapPage == 0)
                continue;
            const uint8_t* mp = pages_.get(mapPage);
            if (!mp || mp[0] != kPageUsageMap) {
                problem("the usage map of ", what, " refers to page ", mapPage, ", which is not a map page");
                continue;
            }
            own(mapPage, "the usage maps");
            uint32_t base = uint32_t((i - 1) / 4) * perPage;
            for (uint32_t byte = 4; byte < f_.pageSize; ++byte)
                for (int bit = 0; bit < 8; ++bit)
                    if (mp[byte] & (1 << bit)) {
                        uint32_t p = base + (byte - 4) * 8 + uint32_t(bit);
                        if (p < pages_.count || !globalMap)
                            listed.push_back(p);
                    }
        }
    } else {
        problem("the usage map of ", what, " has the unknown kind ", int(m[0]));
        return std::nullopt;
    }
    return listed;
}

}  // namespace jet::checking
