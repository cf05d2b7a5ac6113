// The pages of one physical index, as the index trees see them: allocation
// goes through the database and into the index's usage map.
#pragma once

#include "jet/index_tree.h"

#include <cstdint>

namespace jet {

class Database;

class IndexStore : public IndexPageStore {
public:
    IndexStore(Database& db, uint32_t mapRow) : db_(db), mapRow_(mapRow) {}
    Version version() const override;
    void readPage(uint32_t page, std::span<uint8_t> out) override;
    void writePage(uint32_t page, std::span<const uint8_t> data) override;
    uint32_t allocatePage() override;
    void freePage(uint32_t page) override;

private:
    Database& db_;
    uint32_t mapRow_;
};

} // namespace jet
