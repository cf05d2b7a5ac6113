// Appends rows to a Jet 4 table with a Long primary key and an index on a
// Text(50) column: once with both keys made before loading (kept current on
// every append), once with the keys made after loading (built bottom-up).
// Each run goes in its own process so that its peak memory is its own.
// Usage: bench_jet_index [rows] [dir] [commitEvery] [before|after]
#include "jet/database.h"
#include "jet/index_ddl.h"
#include "jet/row_set.h"
#include "jet/statement.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace jet;

static long peakRssKb()
{
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// User plus system time: on a shared machine the wall time says little.
static double cpuSeconds()
{
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

static const char* kWords[] = {"Meyer", "Schmidt", "Lefèvre", "García", "O'Brien", "Nakamura", "Kowalski",
                               "Øster", "Smith", "Jones", "Dubois", "Rossi", "Müller", "Novák", "Andersson",
                               "Cohen"};

static void run(bool keysFirst, long rows, const std::string& path, long batch)
{
    std::filesystem::remove(path);
    Database::create(path, Version::Jet4);
    auto db = Database::open(path);
    registerIndexStatements();
    execute(*db, "Create table [bench] ([id] int , [name] text(50) , [amount] double)");
    auto addKeys = [&] {
        execute(*db, "alter table bench  add constraint PRIMARYbench1 primary key (id)");
        execute(*db, "create index idx_namebench on bench (name)");
    };
    auto start = std::chrono::steady_clock::now();
    const double cpuStart = cpuSeconds();
    if (keysFirst)
        addKeys();
    auto rs = openQuery(*db, "select * from [bench] where 1=0");
    std::mt19937 rng(42);
    db->begin();
    for (long i = 0; i < rows; ++i) {
        rs->append();
        rs->setField("id", Value::integer(i));
        rs->setField("name", Value::text(std::string(kWords[rng() % 16]) + " " + std::to_string(rng() % 1000000)));
        rs->setField("amount", Value::real(double(i) * 1.25));
        rs->post();
        if (batch > 0 && i % batch == batch - 1) {
            db->commit();
            db->begin();
        }
    }
    db->commit();
    double loaded = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpuLoaded = cpuSeconds() - cpuStart;
    if (!keysFirst)
        addKeys();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = cpuSeconds() - cpuStart;
    std::printf("Jet 4, keys made %s loading, %s: %ld rows in %.2f s (rows %.2f s, keys %.2f s) = %.0f rows/s, "
                "CPU %.2f s (rows %.2f s) = %.0f rows per CPU second, peak RSS %.1f MB, file %.1f MB\n",
                keysFirst ? "before" : "after",
                batch > 0 ? ("a commit every " + std::to_string(batch) + " rows").c_str() : "one transaction", rows,
                secs, loaded, secs - loaded, rows / secs, cpu, cpuLoaded, rows / cpu, peakRssKb() / 1024.0,
                std::filesystem::file_size(path) / 1048576.0);
    std::fflush(stdout);
}

int main(int argc, char** argv)
{
    long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    std::string dir = argc > 2 ? argv[2] : "/tmp";
    // Without a commit interval: a commit every 5000 rows (as the converter
    // does), then one transaction (0).
    std::vector<long> batches;
    if (argc > 3)
        batches.push_back(std::atol(argv[3]));
    else
        batches = {5000, 0};
    std::string only = argc > 4 ? argv[4] : "";  // "before" or "after": one run only
    int status = 0;
    for (long batch : batches) {
        for (bool keysFirst : {true, false}) {
            if ((only == "before" && !keysFirst) || (only == "after" && keysFirst))
                continue;
            pid_t pid = fork();
            if (pid == 0) {
                try {
                    run(keysFirst, rows, dir + (keysFirst ? "/bench_index_before.mdb" : "/bench_index_after.mdb"),
                        batch);
                } catch (const std::exception& e) {
                    std::fprintf(stderr, "error: %s\n", e.what());
                    _exit(1);
                }
                _exit(0);
            }
            int st = 0;
            waitpid(pid, &st, 0);
            if (!WIFEXITED(st) || WEXITSTATUS(st) != 0)
                status = 1;
        }
    }
    return status;
}
