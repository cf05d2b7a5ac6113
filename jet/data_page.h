// Data pages: rows stored from the end of the page backwards, an offset
// table after the header. Also the pages of usage maps and long values.
#pragma once

#include "jet/format.h"

#include <cstdint>
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

} // namespace data_page

// Bytes of the row a row pointer names; throws on a bad pointer.
std::vector<uint8_t> readRowAt(Pager& pager, const Format& f, uint32_t rowPointer);

} // namespace jet
