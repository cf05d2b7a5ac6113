// Data pages: rows stored from the end of the page backwards, an offset
// table after the header. Also the pages of usage maps and long values.
#pragma once

#include "jet/format.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace jet {

class Pager;

namespace data_page {

void init(const Format& f, uint8_t* page, uint32_t owner);
uint16_t rowCount(const Format& f, const uint8_t* page);
uint16_t rowOffsetRaw(const Format& f, const uint8_t* page, uint16_t row);
// Start and end (exclusive) of a row, flags removed.
std::pair<uint32_t, uint32_t> rowBounds(const Format& f, const uint8_t* page, uint16_t row);
uint32_t freeSpace(const Format& f, const uint8_t* page);
// Whether a row of `length` bytes fits.
bool fits(const Format& f, const uint8_t* page, uint32_t length);
// Adds a row; returns its number. The caller checked fits().
uint16_t addRow(const Format& f, uint8_t* page, const uint8_t* row, uint32_t length);
// Marks a row deleted.
void deleteRow(const Format& f, uint8_t* page, uint16_t row);
// Whether the row table can be trusted for a change: a count the page
// holds, and every offset, deleted rows' too, inside the row area and no
// higher than the one before (rows are stored from the end backwards).
// addRow and deleteRow move bytes by these offsets.
bool rowTableSound(const Format& f, const uint8_t* page);
// Refuses a page that is no data page or has a damaged row table.
const uint8_t* checked(Pager& pager, const Format& f, uint32_t pg);
// The page for changing rows, checked before anything is written.
uint8_t* forChange(Pager& pager, const Format& f, uint32_t pg);
// Adds a row to page pg when it has room, checking the page once (the
// append path's every row comes here); returns the row's number, or
// nothing when the row does not fit.
std::optional<uint16_t> addRowIfRoom(Pager& pager, const Format& f, uint32_t pg, const uint8_t* row,
                                     uint32_t length);

} // namespace data_page

// Refuses a change to a damaged file: `what` says what is wrong.
[[noreturn]] void throwDamaged(const std::string& path, const std::string& what);

namespace data_page {

} // namespace data_page

// Bytes of the row a row pointer names; throws on a bad pointer.
std::vector<uint8_t> readRowAt(Pager& pager, const Format& f, uint32_t rowPointer);

} // namespace jet
