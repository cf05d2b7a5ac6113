// Checking an index against its table for `check`: the tree's own
// structure, then its entries against the ones the table's rows encode to.
#pragma once

#include "jet/index_tree.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace jet {

// Gives a page's bytes, or nullptr when the page does not exist.
using PageReader = std::function<const std::uint8_t*(std::uint32_t page)>;

struct IndexCheckInput {
    Version format = Version::Jet4;
    std::uint32_t tdefPage = 0;
    std::uint32_t rootPage = 0;
    std::string name;                  // for the messages
    std::vector<IndexEntry> expected;  // one per row (leave out null keys of an ignore-nulls index)
    const std::set<std::uint32_t>* mapPages = nullptr;  // the index's usage map, when known
};

// One sentence per problem; empty when the index is sound and complete.
std::vector<std::string> checkIndex(const PageReader& pages, IndexCheckInput input);

}  // namespace jet
