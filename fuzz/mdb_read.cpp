// Reading a database file from hostile bytes: open it, list every table
// (system ones too), read every row with its long values, walk every index
// tree, then run the structural checker over the same file.
#include "fuzz/fuzz_common.h"

#include "jet/checker.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/index_store.h"
#include "jet/index_tree.h"

#include <string>

namespace {

void readEverything(const std::string& path)
{
    std::unique_ptr<jet::Database> db;
    try {
        db = jet::Database::open(path, false);
    } catch (const jet::Error&) {
        return;
    }
    std::vector<std::string> names;
    try {
        names = db->tableNames(true);
    } catch (const jet::Error&) {
        return;
    }
    for (const auto& name : names) {
        try {
            jet::Table& t = db->table(name);
            size_t rows = 0;
            t.scan([&](const std::vector<jet::Value>&, uint32_t) { return ++rows < 100000; });
            t.readAll();
            for (const auto& idx : t.def().physicalIndexes) {
                try {
                    jet::IndexStore store(*db, idx.usageMap);
                    jet::IndexTree tree(store, t.def().page, idx.firstPage);
                    tree.entries();
                    tree.verify();
                    tree.distinctKeyCount();
                } catch (const jet::Error&) {
                }
            }
        } catch (const jet::Error&) {
        }
    }
}

}  // namespace

void fuzzMdbRead(const uint8_t* data, size_t size)
{
    static const std::string path = fuzz::scratchPath("mdb");
    fuzz::writeFile(path, data, size);
    readEverything(path);
    try {
        jet::checkDatabase(path);
    } catch (const jet::Error&) {
    }
    try {
        jet::catalogTables(path);
    } catch (const jet::Error&) {
    }
    fuzz::removeFile(path);
}
