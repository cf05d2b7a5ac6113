// The commit window: how long each commit writes into pages the last commit
// left (after the new pages went out and were flushed), the only moments in
// which a killed writer leaves a file that readers ignoring the journal see
// half changed. Appends keyed long rows and short rows to a new Jet 4 and
// Jet 3 file, committing as the converter does (every 5000 rows, sooner when
// the transaction grows large), then builds an index, and prints per kind of
// work the commits, the pages they wrote, the longest window and the share of
// the run's time that lies inside windows (the chance a random kill hits one).
#include "jet/database_int.h"
#include "jet/pager.h"
#include "jet/statement.h"
#include "jet/table.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace jet;

namespace {

struct Windows {
    int commits = 0;
    uint64_t newPages = 0, linkPages = 0;
    uint32_t maxLinkPages = 0, maxWrites = 0;
    double maxMs = 0, sumMs = 0;
    void add(const Pager::CommitWindow& w)
    {
        ++commits;
        newPages += w.newPages;
        linkPages += w.linkPages;
        maxLinkPages = std::max(maxLinkPages, w.linkPages);
        maxWrites = std::max(maxWrites, w.linkWrites);
        maxMs = std::max(maxMs, w.linkMs);
        sumMs += w.linkMs;
    }
};

void print(const char* format, const char* work, const Windows& w, double runMs)
{
    std::printf("%s %-22s %5d commits, %8llu new pages, %6llu linking pages (at most %u in one, in %u writes), window at most "
                "%.3f ms, %.3f ms in all = %.4f%% of %.0f ms\n",
                format, work, w.commits, (unsigned long long)w.newPages, (unsigned long long)w.linkPages,
                w.maxLinkPages, w.maxWrites, w.maxMs, w.sumMs, runMs > 0 ? 100 * w.sumMs / runMs : 0, runMs);
}

void run(Version v, long rows, const std::string& path)
{
    const char* format = v == Version::Jet4 ? "Jet 4" : "Jet 3";
    std::filesystem::remove(path);
    Database::create(path, v);
    auto db = Database::open(path);
    execute(*db, "Create table [long] ([id] int , [t] memo)");
    execute(*db, "alter table [long]  add constraint [pk] primary key ([id])");
    execute(*db, "Create table [short] ([id] int , [s] text(40) , [d] double)");
    Pager& pager = internals(*db).pager();
    const std::string text(5600, 'x');

    auto append = [&](const char* table, long count, auto row) {
        Windows w;
        const auto start = std::chrono::steady_clock::now();
        Table& t = db->table(table);
        db->begin();
        for (long i = 1; i <= count; ++i) {
            t.append(row(i));
            db->statementDone();
            if (i % 100 == 0 && (i % 5000 == 100 || db->transactionIsLarge())) {
                db->commit();
                w.add(pager.lastCommitWindow());
                db->begin();
            }
        }
        db->commit();
        w.add(pager.lastCommitWindow());
        print(format, table, w, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    };
    append("long", rows / 10, [&](long i) { return std::vector<Value>{Value::integer(int32_t(i)), Value::text(text)}; });
    append("short", rows, [&](long i) {
        return std::vector<Value>{Value::integer(int32_t(i)), Value::text("row " + std::to_string(i)), Value::real(i / 7.0)};
    });

    Windows w;
    const auto start = std::chrono::steady_clock::now();
    execute(*db, "create index [ix] on [short] ([s])");
    w.add(pager.lastCommitWindow());
    print(format, "index on short", w, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
}

} // namespace

int main(int argc, char** argv)
{
    long rows = argc > 1 ? std::atol(argv[1]) : 100000;
    std::string dir = argc > 2 ? argv[2] : "/tmp";
    try {
        run(Version::Jet4, rows, dir + "/bench_window_jet4.mdb");
        run(Version::Jet3, rows, dir + "/bench_window_jet3.mdb");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    return 0;
}
