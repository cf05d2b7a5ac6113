// Writing into a database file made of hostile bytes: import a few rows into
// its first table, create a table, index it, drop it. Each step either is
// refused with the engine's error or leaves a file the checker accepts when
// it accepted the file before.
#include "fuzz/fuzz_common.h"

#include "jet/checker.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/statement.h"
#include "jet/table.h"
#include "jet/table_def.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Rows of nulls and short texts for every column of the table.
void importRows(jet::Database& db, const std::string& name)
{
    jet::Table& t = db.table(name);
    for (int i = 0; i < 3; ++i) {
        std::vector<jet::Value> values(t.def().columns.size());
        for (size_t k = 0; k < values.size(); ++k)
            if (t.def().columns[k].isText() && !t.def().columns[k].isAutoNumber())
                values[k] = jet::Value::text(std::string(size_t(i) * 700, char('a' + i)));
        t.append(values);
    }
}

void writeEverything(const std::string& path)
{
    std::unique_ptr<jet::Database> db;
    try {
        db = jet::Database::open(path, true);
    } catch (const jet::Error&) {
        return;
    }
    auto step = [&](auto&& fn) {
        try {
            fn();
        } catch (const jet::Error&) {
            try {
                if (db->inTransaction())
                    db->rollback();
            } catch (const jet::Error&) {
            }
        }
    };
    step([&] {
        std::vector<std::string> names = db->tableNames();
        if (!names.empty()) {
            db->begin();
            importRows(*db, names.front());
            db->commit();
        }
    });
    step([&] { jet::execute(*db, "create table [FuzzNew] ([a] long, [b] text(20), [m] memo)"); });
    step([&] {
        db->begin();
        jet::Table& t = db->table("FuzzNew");
        for (int i = 0; i < 20; ++i)
            t.append({jet::Value::integer(i), jet::Value::text("b"), jet::Value::text(std::string(3000, 'm'))});
        db->commit();
    });
    step([&] { jet::execute(*db, "create index [ia] on [FuzzNew] ([a])"); });
    step([&] { jet::execute(*db, "drop table [FuzzNew]"); });
}

}  // namespace

void fuzzMdbWrite(const uint8_t* data, size_t size)
{
    static const std::string path = fuzz::scratchPath("mdbw");
    fuzz::writeFile(path, data, size);
    bool soundBefore = false;
    try {
        soundBefore = jet::checkDatabase(path).ok();
    } catch (const jet::Error&) {
    }
    writeEverything(path);
    if (soundBefore) {
        // A sound file must stay sound whatever was refused on the way.
        jet::CheckReport after = jet::checkDatabase(path);
        if (!after.ok()) {
            std::fprintf(stderr, "mdb_write: a sound file became damaged: %s\n", after.problems[0].c_str());
            std::abort();
        }
    }
    fuzz::removeFile(path);
}
