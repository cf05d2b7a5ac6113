// Appends rows (Long, Text(50), Double, Date, Long, Text(100)) to a new
// Jet 4 and a new Jet 3 file through the row-set interface the converter
// uses, committing every 5000 rows, and prints speed, memory and density.
#include "jet/data_page.h"
#include "jet/database_int.h"
#include "jet/pager.h"
#include "jet/row_set.h"
#include "jet/statement.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>

using namespace jet;

static double cpuSeconds()
{
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

static long peakRssKb()
{
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

static void run(Version v, long rows, const std::string& path, long batch)
{
    std::filesystem::remove(path);
    Database::create(path, v);
    auto db = Database::open(path);
    execute(*db, "Create table [bench] ([id] int , [name] text(50) , [amount] double , [created] Date , "
                 "[qty] int , [note] text(100))");
    auto rs = openQuery(*db, "select * from [bench] where 1=0");
    auto start = std::chrono::steady_clock::now();
    double cpuStart = cpuSeconds();
    db->begin();
    for (long i = 0; i < rows; ++i) {
        rs->append();
        rs->setField("id", Value::integer(i));
        rs->setField("name", Value::text("customer name " + std::to_string(i)));
        rs->setField("amount", Value::real(double(i) * 1.25));
        rs->setField("created", Value::date(DateTime{2020, 1 + int(i % 12), 1 + int(i % 28), int(i % 24), 30, 15, 0}));
        rs->setField("qty", Value::integer(i % 1000));
        rs->setField("note", Value::text("a note of moderate length for row " + std::to_string(i)));
        rs->post();
        if (batch > 0 && i % batch == batch - 1) {
            db->commit();
            db->begin();
        }
    }
    db->commit();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long rssAfterAppend = peakRssKb();
    double cpu = cpuSeconds() - cpuStart;
    // Fill of the data pages.
    Table& t = db->table("bench");
    const Format& f = db->format();
    auto pages = t.dataPages();
    uint64_t used = 0;
    for (uint32_t p : pages) {
        used += f.pageSize - data_page::freeSpace(f, internals(*db).pager().read(p));
        internals(*db).pager().trimClean();
    }
    double fill = pages.empty() ? 0 : double(used) / (double(pages.size()) * f.pageSize);
    auto size = std::filesystem::file_size(path);
    std::printf("%s: %ld rows (commit every %ld) in %.2f s = %.0f rows/s (CPU %.2f s = %.0f rows per CPU second), peak RSS %.1f MB, file %.1f MB, %.1f bytes/row, "
                "%zu data pages %.1f%% full\n",
                v == Version::Jet4 ? "Jet 4" : "Jet 3", rows, batch, secs, rows / secs, cpu, rows / cpu, rssAfterAppend / 1024.0,
                size / 1048576.0, double(size) / rows, pages.size(), fill * 100);
}

int main(int argc, char** argv)
{
    long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    std::string dir = argc > 2 ? argv[2] : "/tmp";
    // Rows per transaction; the converter commits every 5000 rows.
    long batch = argc > 3 ? std::atol(argv[3]) : 5000;
    try {
        run(Version::Jet4, rows, dir + "/bench_jet4.mdb", batch);
        run(Version::Jet3, rows, dir + "/bench_jet3.mdb", batch);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    return 0;
}
