#include "jet/data_page.h"

#include "jet/bytes.h"
#include "jet/error.h"
#include "jet/pager.h"

#include <cstring>

namespace jet::data_page {

void init(const Format& f, uint8_t* page, uint32_t owner)
{
    std::memset(page, 0, f.pageSize);
    page[0] = kPageData;
    page[1] = 0x01;
    put16(page + 2, uint16_t(f.pageSize - f.dataHeaderSize));
    put32(page + 4, owner);
}

uint16_t rowCount(const Format& f, const uint8_t* page) { return get16(page + f.dataRowCountOffset); }

uint16_t rowOffsetRaw(const Format& f, const uint8_t* page, uint16_t row)
{
    return get16(page + f.dataHeaderSize + 2u * row);
}

std::pair<uint32_t, uint32_t> rowBounds(const Format& f, const uint8_t* page, uint16_t row)
{
    uint16_t n = rowCount(f, page);
    if (row >= n || f.dataHeaderSize + 2u * n > f.pageSize)
        throw Error(ErrorKind::Corrupt, "A data page is damaged (row " + std::to_string(row) + " of " + std::to_string(n) + ")");
    uint32_t start = rowOffsetRaw(f, page, row) & kRowOffsetMask;
    uint32_t end = row == 0 ? f.pageSize : (rowOffsetRaw(f, page, uint16_t(row - 1)) & kRowOffsetMask);
    if (start > end || end > f.pageSize || start < f.dataHeaderSize + 2u * n)
        throw Error(ErrorKind::Corrupt, "A data page is damaged (row bounds)");
    return {start, end};
}

bool rowTableSound(const Format& f, const uint8_t* page)
{
    uint16_t n = rowCount(f, page);
    uint32_t used = f.dataHeaderSize + 2u * n;
    if (n > f.maxRowsPerPage || used > f.pageSize)
        return false;
    uint32_t above = f.pageSize;
    for (uint16_t r = 0; r < n; ++r) {
        uint32_t o = rowOffsetRaw(f, page, r) & kRowOffsetMask;
        if (o < used || o > above)
            return false;
        above = o;
    }
    return true;
}

const uint8_t* checked(Pager& pager, const Format& f, uint32_t pg)
{
    if (pg >= pager.pageCount())
        throwDamaged(pager.path(), "a reference points to page " + std::to_string(pg) + ", past its end");
    const uint8_t* p = pager.read(pg);
    if (p[0] != kPageData)
        throwDamaged(pager.path(), "page " + std::to_string(pg) + " should hold rows but is not a data page");
    if (!rowTableSound(f, p))
        throwDamaged(pager.path(), "the row table of page " + std::to_string(pg) + " is broken");
    return p;
}

uint8_t* forChange(Pager& pager, const Format& f, uint32_t pg)
{
    checked(pager, f, pg);
    return pager.write(pg);
}

namespace {

// The free space and room of a page whose row table is sound.
uint32_t soundFreeSpace(const Format& f, const uint8_t* page)
{
    uint16_t n = rowCount(f, page);
    uint32_t top = n == 0 ? f.pageSize : (rowOffsetRaw(f, page, uint16_t(n - 1)) & kRowOffsetMask);
    uint32_t used = f.dataHeaderSize + 2u * n;
    return top > used ? top - used : 0;
}

bool soundFits(const Format& f, const uint8_t* page, uint32_t length)
{
    return rowCount(f, page) < f.maxRowsPerPage && soundFreeSpace(f, page) >= length + 2;
}

uint16_t insertRow(const Format& f, uint8_t* page, const uint8_t* row, uint32_t length)
{
    uint16_t n = rowCount(f, page);
    uint32_t top = n == 0 ? f.pageSize : (rowOffsetRaw(f, page, uint16_t(n - 1)) & kRowOffsetMask);
    uint32_t start = top - length;
    std::memcpy(page + start, row, length);
    put16(page + f.dataHeaderSize + 2u * n, uint16_t(start));
    put16(page + f.dataRowCountOffset, uint16_t(n + 1));
    put16(page + 2, uint16_t(get16(page + 2) - length - 2));
    return n;
}

} // namespace

uint32_t freeSpace(const Format& f, const uint8_t* page)
{
    return rowTableSound(f, page) ? soundFreeSpace(f, page) : 0;
}

bool fits(const Format& f, const uint8_t* page, uint32_t length)
{
    return rowTableSound(f, page) && soundFits(f, page, length);
}

uint16_t addRow(const Format& f, uint8_t* page, const uint8_t* row, uint32_t length)
{
    // Last line of defence: callers check the page with forChange first.
    if (!fits(f, page, length))
        throw Error(ErrorKind::Corrupt, "A data page is damaged or full; the row was not added");
    return insertRow(f, page, row, length);
}

std::optional<uint16_t> addRowIfRoom(Pager& pager, const Format& f, uint32_t pg, const uint8_t* row,
                                     uint32_t length)
{
    const uint8_t* p = checked(pager, f, pg);
    if (!soundFits(f, p, length))
        return std::nullopt;
    return insertRow(f, pager.write(pg), row, length);
}

void deleteRow(const Format& f, uint8_t* page, uint16_t row)
{
    if (!rowTableSound(f, page))
        throw Error(ErrorKind::Corrupt, "A data page is damaged; the row was not deleted");
    auto [start, end] = rowBounds(f, page, row);
    uint32_t length = end - start;
    uint16_t n = rowCount(f, page);
    if (length > 0) {
        // Its bytes go, as Access does it: the rows stored below it move up
        // and keep their numbers, so row pointers stay valid.
        uint32_t top = rowOffsetRaw(f, page, uint16_t(n - 1)) & kRowOffsetMask;
        std::memmove(page + top + length, page + top, start - top);
        for (uint16_t r = uint16_t(row + 1); r < n; ++r) {
            uint8_t* o = page + f.dataHeaderSize + 2u * r;
            put16(o, uint16_t(get16(o) + length));
        }
        put16(page + 2, uint16_t(get16(page + 2) + length));
    }
    uint8_t* p = page + f.dataHeaderSize + 2u * row;
    // Access marks a deleted row with both flags; it keeps no bytes.
    put16(p, uint16_t(end | kRowDeleted | kRowOverflow));
}

} // namespace jet::data_page

namespace jet {

void throwDamaged(const std::string& path, const std::string& what)
{
    throw Error(ErrorKind::Corrupt, "The file '" + path + "' is damaged: " + what + "; it was not changed");
}

std::vector<uint8_t> readRowAt(Pager& pager, const Format& f, uint32_t rowPointer)
{
    uint32_t pg = rowPointer >> 8;
    uint16_t row = uint16_t(rowPointer & 0xFF);
    const uint8_t* page = pager.read(pg);
    if (page[0] != kPageData)
        throw Error(ErrorKind::Corrupt, "A row reference points to page " + std::to_string(pg) + ", which is not a data page");
    auto [s, e] = data_page::rowBounds(f, page, row);
    return std::vector<uint8_t>(page + s, page + e);
}

} // namespace jet
