#include "jet/index_store.h"

#include "jet/database_int.h"
#include "jet/pager.h"
#include "jet/usage_map.h"

#include <cstring>

namespace jet {

Version IndexStore::version() const
{
    return db_.format().version;
}

void IndexStore::readPage(uint32_t page, std::span<uint8_t> out)
{
    std::memcpy(out.data(), internals(db_).pager().read(page), out.size());
}

void IndexStore::writePage(uint32_t page, std::span<const uint8_t> data)
{
    std::memcpy(internals(db_).pager().write(page), data.data(), data.size());
}

uint32_t IndexStore::allocatePage()
{
    uint32_t p = internals(db_).allocatePage();
    if (mapRow_)
        UsageMap(internals(db_).pager(), db_.format(), mapRow_, [this] { return internals(db_).allocatePage(); }).add(p);
    return p;
}

void IndexStore::freePage(uint32_t page)
{
    if (mapRow_)
        UsageMap(internals(db_).pager(), db_.format(), mapRow_).remove(page);
    internals(db_).freePage(page);
}

} // namespace jet
