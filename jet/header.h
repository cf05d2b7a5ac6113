// Page 0: the database header, partly hidden under RC4 with a fixed key.
#pragma once

#include "jet/format.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace jet {

// RC4 over `data` in place (the same call hides and reveals).
void rc4(const uint8_t* key, size_t keyLength, uint8_t* data, size_t n);

// Page 0 of a new database: code page 1252, sort order General, no
// password, the given creation date (days since 1899-12-30).
std::vector<uint8_t> buildHeaderPage(const Format& f, double creationDate);

// Throws jet::Error for a header the engine cannot use (password set).
void checkHeaderPage(const Format& f, const uint8_t* page);

} // namespace jet
