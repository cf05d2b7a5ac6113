// `check`: the run over a whole file (header, global map, every table the
// catalog lists, then who owns each page) and the entry points. The parts
// are listed in checker_int.h.
#include "jet/checker_int.h"

#include "jet/bytes.h"
#include "jet/error.h"
#include "jet/text_codec.h"

#include <cstring>

namespace jet {
namespace checking {

// The free-space field of a data page: what its rows and their offsets
// leave (the engine decides by it whether a row fits).
void Checker::checkFreeSpace(uint32_t page, const uint8_t* b)
{
    uint32_t count = get16(b + f_.dataRowCountOffset);
    if (count > f_.maxRowsPerPage || f_.dataHeaderSize + 2 * count > f_.pageSize) {
        problem("data page ", page, " claims ", count, " rows");
        return;
    }
    uint32_t used = 0, previous = f_.pageSize;
    for (uint32_t r = 0; r < count; ++r) {
        uint32_t start = get16(b + f_.dataHeaderSize + 2 * r) & kRowOffsetMask;
        if (start > previous || start < f_.dataHeaderSize + 2 * count) {
            problem("data page ", page, ": row ", r, " lies outside the page's row area");
            return;
        }
        used += previous - start + 2;
        previous = start;
    }
    uint32_t expected = f_.pageSize - f_.dataHeaderSize - used;
    if (get16(b + 2) != expected)
        problem("data page ", page, ": its free-space field says ", get16(b + 2), " bytes but its rows leave ", expected);
}

void Checker::globalMap()
{
    free_.assign(pages_.count, false);
    auto listed = usageMap(makeRowPointer(1, 0), "the database (free pages)", true);
    if (!listed)
        return;
    for (uint32_t p : *listed)
        if (p < pages_.count)
            free_[p] = true;
    if (free_[0])
        problem("the global map marks the header page free");

    // Every page of the file lies within the global map: a page outside it
    // is read as used by some programs and as free by others.
    auto span = row(1, 0, "the global map");
    if (!span)
        return;
    const uint8_t* m = pages_.get(1) + span->start;
    const uint32_t n = span->end - span->start;
    const uint32_t perPage = (f_.pageSize - 4) * 8;
    uint32_t outside = 0, first = 0;
    for (uint32_t p = 0; p < pages_.count; ++p) {
        bool covered;
        if (m[0] == 0)
            covered = p >= get32(m + 1) && p - get32(m + 1) < (n - 5) * 8;
        else
            covered = 1 + 4 * (p / perPage + 1) <= n && get32(m + 1 + 4 * (p / perPage)) != 0;
        if (!covered && outside++ == 0)
            first = p;
    }
    if (outside)
        problem(outside, " pages of the file, from page ", first, " on, lie outside the global map");
}

void Checker::run()
{
    const uint8_t* header = pages_.get(0);
    own(0, "the header");
    if (get32(header + 20) != (f_.jet4() ? 1u : 0u))
        problem("the header's version does not match its page size");
    globalMap();
    for (uint32_t p = 1; p < pages_.count; ++p) {
        const uint8_t* b = pages_.get(p);
        if (b[0] == kPageData && !free_[p])
            checkFreeSpace(p, b);
        if (b[0] == kPageData && !free_[p] && std::memcmp(b + 4, "LVAL", 4) != 0) {
            // Pages that name no table hold usage-map rows; one whose rows
            // were all deleted (its table dropped) stays with the maps for reuse.
            if (get32(b + 4) == 0)
                own(p, "the usage maps");
            else
                dataPagesOf_[get32(b + 4)].push_back(p);
        }
        if ((p & 1023) == 0)
            pages_.pager.releaseMemory();
    }

    std::vector<CatalogTable> tables = catalog();
    std::set<uint32_t> definitions;
    bool sawCatalog = false;
    std::set<std::u16string> names;
    for (const auto& ct : tables) {
        std::u16string folded;
        try {
            folded = foldCase(utf8ToUtf16(ct.name));
        } catch (const Error&) {
            folded = utf8ToUtf16("\x01" + std::to_string(ct.definitionPage));
        }
        if (!names.insert(folded).second)
            problem("the catalog lists the table name ", ct.name, " twice");
        if (!definitions.insert(ct.definitionPage).second) {
            problem("table ", ct.name, ": another catalog row already points to definition page ", ct.definitionPage);
            continue;
        }
        sawCatalog |= ct.definitionPage == 2;
        auto t = readDefinition(ct.definitionPage, ct.name);
        if (t)
            checkTable(*t, ct.system);
        pages_.pager.releaseMemory();
    }
    if (!sawCatalog)
        problem("the catalog has no row for itself (MSysObjects on page 2)");

    for (uint32_t p = 0; p < pages_.count; ++p) {
        if (owner_[p] != -1 && free_[p])
            problem("page ", p, " belongs to ", ownerNames_[size_t(owner_[p])], " but the global map marks it free");
        else if (owner_[p] == -1 && !free_[p])
            note("page ", p, " (type ", int(pages_.get(p)[0]), ") belongs to nothing but the global map marks it used");
    }
}

}  // namespace checking

CheckReport checkDatabase(const std::string& path)
{
    auto pager = Pager::open(path, false);
    CheckReport report;
    // Other programs read the file as it lies, not through the journal.
    if (pager->needsRecovery())
        report.problems.push_back("the file needs recovery: the journal of an unfinished commit lies beside it, and "
                                  "other programs read the file half changed until ferrowane opens it for writing "
                                  "(the rest of this check reads the last commit)");
    checking::Checker checker(*pager, report);
    try {
        checker.run();
        if (report.ok()) {
            pager.reset();
            checking::checkRelationships(path, report);
        }
    } catch (const Error& e) {
        report.problems.push_back(e.what());
    }
    return report;
}

std::vector<CatalogTable> catalogTables(const std::string& path)
{
    auto pager = Pager::open(path, false);
    CheckReport report;
    checking::Checker checker(*pager, report);
    return checker.catalog();
}

}  // namespace jet
