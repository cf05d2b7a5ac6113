// The checker's own encoding of index keys, written apart from the
// writer's (index_key.cpp, sort_codes.cpp) so that `check` can catch a key
// the writer gets wrong. Only the generated sort-code tables are shared.
#pragma once

#include "jet/format.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace jet::checkkeys {

// One column's value as the checker finds it in a row.
struct Part {
    ColumnType type = ColumnType::Long;
    bool ascending = true;
    bool null = true;                      // for Yes/No: "No"
    const std::uint8_t* bytes = nullptr;   // the stored value (fixed-size types, Binary)
    std::size_t size = 0;
    std::u16string_view text;              // Text and Memo, decoded
};

// Appends the part's flag byte and value to `key`. Returns false, with the
// reason in `why`, when the value cannot be part of a key.
bool appendPart(std::vector<std::uint8_t>& key, Version version, const Part& part, std::string& why);

}  // namespace jet::checkkeys
