// `check`: a table's data pages and rows: which pages it owns, each row's
// place and values, moved rows, and its row count against its rows.
#include "jet/checker_int.h"

#include "jet/bytes.h"

#include <algorithm>

namespace jet::checking {

std::optional<RowSpan> Checker::row(uint32_t page, uint32_t rowNumber, const std::string& what)
{
    const uint8_t* b = pages_.get(page);
    if (!b) {
        problem(what, " points to page ", page, ", beyond the end of the file");
        return std::nullopt;
    }
    if (b[0] != kPageData) {
        problem(what, " points to page ", page, ", which is not a data page (type ", int(b[0]), ")");
        return std::nullopt;
    }
    uint32_t count = get16(b + f_.dataRowCountOffset);
    if (rowNumber >= count) {
        problem(what, " points to row ", rowNumber, " of page ", page, ", which holds ", count, " rows");
        return std::nullopt;
    }
    uint16_t off = get16(b + f_.dataHeaderSize + 2 * rowNumber);
    RowSpan s;
    s.start = off & kRowOffsetMask;
    s.deleted = off & kRowDeleted;
    s.overflow = off & kRowOverflow;
    s.end = rowNumber == 0 ? f_.pageSize : (get16(b + f_.dataHeaderSize + 2 * (rowNumber - 1)) & kRowOffsetMask);
    if (s.start < f_.dataHeaderSize + 2 * count || s.start > s.end || s.end > f_.pageSize) {
        problem("row ", rowNumber, " of page ", page, " lies outside its page's row area");
        return std::nullopt;
    }
    return s;
}

// The offsets of a row's variable-length columns (one more than there are
// columns: the last is where the last one ends). False when the row's
// tables of offsets do not fit it.
bool Checker::varOffsets(const uint8_t* r, size_t len, size_t mask, std::vector<uint32_t>& offsets,
                         uint32_t& varCount)
{
    const size_t countSize = f_.jet4() ? 2 : 1;
    if (f_.jet4()) {
        varCount = get16(r + len - mask - 2);
        if (mask + 2 + 2 * (size_t(varCount) + 1) + countSize > len)
            return false;
        for (uint32_t i = 0; i <= varCount; ++i)
            offsets.push_back(get16(r + len - mask - 4 - 2 * i));
    } else {
        varCount = r[len - mask - 1];
        size_t rowEnd = len - 1;
        size_t jumps = (len - 1) / 256;
        if (mask + jumps + 1 + varCount + 1 > len)
            return false;
        size_t colPtr = rowEnd - mask - jumps - 1;
        if ((colPtr - varCount) / 256 < jumps)
            --jumps;
        size_t used = 0;
        for (uint32_t i = 0; i <= varCount; ++i) {
            while (used < jumps && i == r[rowEnd - mask - used - 1])
                ++used;
            if (colPtr < i)
                return false;
            offsets.push_back(r[colPtr - i] + uint32_t(used * 256));
        }
    }
    for (size_t i = 0; i + 1 < offsets.size(); ++i)
        if (offsets[i] > offsets[i + 1] || offsets[i + 1] > len)
            return false;
    return true;
}

// Splits a row into its columns' bytes, keyed by column number; null
// columns are left out. Returns false when the row is malformed.
bool Checker::rowValues(const TableInfo& t, const uint8_t* b, const RowSpan& s,
                        RowValues& values, bool& fine)
{
    const uint8_t* r = b + s.start;
    size_t len = s.end - s.start;
    size_t countSize = f_.jet4() ? 2 : 1;
    if (len < countSize + 1) {
        fine = false;
        return false;
    }
    uint32_t rowCols = f_.jet4() ? get16(r) : r[0];
    size_t mask = (rowCols + 7) / 8;
    if (mask + countSize + (f_.jet4() ? 2 : 1) > len) {
        fine = false;
        return false;
    }
    const uint8_t* nullMask = r + len - mask;
    std::vector<uint32_t> offsets;
    uint32_t varCount = 0;
    if (t.varColumns > 0 && !varOffsets(r, len, mask, offsets, varCount)) {
        fine = false;
        return false;
    }
    uint32_t fixedCols = rowCols - varCount;
    uint32_t fixedFound = 0;
    // A row written before columns were added holds only the first ones, by
    // column number.
    std::vector<const Column*> byNumber;
    for (const auto& c : t.columns)
        byNumber.push_back(&c);
    std::sort(byNumber.begin(), byNumber.end(), [](auto* a, auto* b) { return a->number < b->number; });
    for (const Column* cp : byNumber) {
        const Column& c = *cp;
        bool present = c.number / 8 < mask && (nullMask[c.number / 8] & (1 << (c.number % 8)));
        if (c.fixed()) {
            if (fixedFound >= fixedCols)
                continue;
            ++fixedFound;
            if (c.type == uint8_t(ColumnType::Boolean)) {
                // Yes/no lives in the mask alone: present means yes.
                if (present)
                    values[c.number] = {r, 0};
                continue;
            }
            if (countSize + c.fixedOffset + c.length > len) {
                fine = false;
                return false;
            }
            if (present)
                values[c.number] = {r + countSize + c.fixedOffset, c.length};
        } else if (c.varIndex < varCount && present) {
            values[c.number] = {r + offsets[c.varIndex], offsets[c.varIndex + 1] - offsets[c.varIndex]};
        }
    }
    return true;
}

void Checker::checkTable(TableInfo& t, bool system)
{
    const std::string label = "table " + t.name;
    for (uint32_t p : t.definitionPages)
        own(p, "the definition of " + label);
    ++report_.tables;
    const std::set<uint32_t> dataPages = claimDataPages(t, label);
    const LongValuePages lvPages = claimLongValuePages(t, label);
    IndexPlans plans = planIndexes(t, label);
    const uint64_t found = checkRows(t, label, dataPages, lvPages, plans);
    checkIndexes(t, label, plans);

    report_.rows += found;
    // Access leaves the counts of its own system tables stale at times;
    // readers go by the rows.
    if (found != t.rowCount && system)
        note(label, ": its row count says ", t.rowCount, " but its pages hold ", found, " rows");
    else if (found != t.rowCount)
        problem(label, ": its row count says ", t.rowCount, " but its pages hold ", found, " rows");
}

// Data pages: the owned map lists exactly the data pages naming this table.
std::set<uint32_t> Checker::claimDataPages(const TableInfo& t, const std::string& label)
{
    std::set<uint32_t> dataPages;
    if (auto owned = usageMap(t.ownedMap, label)) {
        for (uint32_t p : *owned) {
            const uint8_t* b = pages_.get(p);
            if (!b) {
                problem(label, ": its map lists page ", p, ", beyond the end of the file");
                continue;
            }
            if (b[0] != kPageData || get32(b + 4) != t.page) {
                problem(label, ": its map lists page ", p, ", which is not one of its data pages");
                continue;
            }
            own(p, "the data of " + label);
            dataPages.insert(p);
        }
    }
    if (auto freeMap = usageMap(t.freeMap, label + " (free space)")) {
        for (uint32_t p : *freeMap)
            if (!dataPages.count(p))
                problem(label, ": its free-space map lists page ", p, ", which is not one of its data pages");
    }
    for (uint32_t p : dataPagesOf_[t.page])
        if (!dataPages.count(p))
            problem(label, ": data page ", p, " names the table but its map does not list it");
    return dataPages;
}

// A row moved elsewhere leaves a pointer behind; the row it points to is
// counted there only.
std::set<uint32_t> Checker::movedRowTargets(const std::set<uint32_t>& dataPages)
{
    std::set<uint32_t> targets;
    uint32_t turns = 0;
    for (uint32_t p : dataPages) {
        if (++turns % 1024 == 0)
            pages_.pager.releaseMemory();
        const uint8_t* b = pages_.get(p);
        uint32_t count = get16(b + f_.dataRowCountOffset);
        if (count > f_.maxRowsPerPage)
            continue;  // reported by checkRows
        for (uint32_t r = 0; r < count; ++r) {
            uint16_t off = get16(b + f_.dataHeaderSize + 2 * r);
            if ((off & kRowOverflow) && !(off & kRowDeleted) && uint32_t(off & kRowOffsetMask) + 4 <= f_.pageSize)
                targets.insert(get32(b + (off & kRowOffsetMask)));
        }
    }
    return targets;
}

// Rows: count them, check their values and long values, and note what each
// index must hold. Returns the rows found.
uint64_t Checker::checkRows(const TableInfo& t, const std::string& label, const std::set<uint32_t>& dataPages,
                            const LongValuePages& lvPages, IndexPlans& plans)
{
    const std::set<uint32_t> overflowTargets = movedRowTargets(dataPages);
    // Page pointers live only within one page's turn, so the cache can be
    // trimmed between pages: a table of any size is checked in bounded memory.
    uint32_t turns = 0;
    uint64_t found = 0;
    for (uint32_t p : dataPages) {
        if (++turns % 1024 == 0)
            pages_.pager.releaseMemory();
        const uint8_t* b = pages_.get(p);
        uint32_t count = get16(b + f_.dataRowCountOffset);
        if (count > f_.maxRowsPerPage || f_.dataHeaderSize + 2 * count > f_.pageSize) {
            problem(label, ": data page ", p, " claims ", count, " rows");
            continue;
        }
        for (uint32_t r = 0; r < count; ++r) {
            auto span = row(p, r, label);
            if (!span || span->deleted)
                continue;
            uint32_t at = p;
            uint32_t rowNumber = r;
            if (span->overflow) {
                if (span->end - span->start < 4) {
                    problem(label, ": row ", r, " of page ", p, " is too short to point to its moved row");
                    continue;
                }
                uint32_t target = get32(b + span->start);
                at = target >> 8;
                rowNumber = target & 0xFF;
                if (!dataPages.count(at)) {
                    problem(label, ": row ", r, " of page ", p, " points to page ", at, ", not one of its data pages");
                    continue;
                }
                // Access flags the moved row itself as deleted, so that a
                // scan of its page passes over it.
                span = row(at, rowNumber, label);
                if (!span)
                    continue;
            } else if (overflowTargets.count((p << 8) | r)) {
                continue;
            }
            ++found;
            RowValues values;
            bool fine = true;
            if (!rowValues(t, pages_.get(at), *span, values, fine) || !fine) {
                problem(label, ": row ", rowNumber, " of page ", at, " is malformed");
                continue;
            }
            checkRowValues(t, values, at, rowNumber, lvPages);
            // Index entries point to the row's original place.
            expectIndexEntries(t, label, plans, values, p, r);
        }
    }
    return found;
}

void Checker::checkRowValues(const TableInfo& t, const RowValues& values, uint32_t page, uint32_t rowNumber,
                             const LongValuePages& lvPages)
{
    for (const auto& c : t.columns) {
        if (!c.longValue())
            continue;
        auto v = values.find(c.number);
        auto pages = lvPages.find(c.number);
        static const std::set<uint32_t> kNone;
        if (v != values.end())
            checkLongValue(t, c, v->second.first, v->second.second, page, rowNumber,
                           pages == lvPages.end() ? kNone : pages->second);
    }
}

}  // namespace jet::checking
