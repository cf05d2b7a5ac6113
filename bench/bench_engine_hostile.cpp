// Peak memory of ferrowane-convert on hostile data, measured with wait4:
//   blobs  a table of long BLOBs (default 128 rows of 8 MB, 1 GB) into Jet 4;
//   jet3   the same table into Jet 3, which reaches the format's 1 GB limit
//          and must stop before it with a clear message and a valid file;
//   wide   rows of 255 long-text columns (default 160 KB each, 40 MB a row).
//
//   source /tmp/fwtest/env; build/bench/bench_engine_hostile [blob-rows [blob-MB [wide-rows [wide-KB]]]]
// The server's max_allowed_packet must hold a whole row (scripts/mariadb.sh
// gives 256 MB).
#include <mysql.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::string env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

void check(MYSQL* m, int rc, const char* what)
{
    if (rc != 0) {
        std::fprintf(stderr, "%s: %s\n", what, mysql_error(m));
        std::exit(2);
    }
}

long count(MYSQL* m, const std::string& table)
{
    if (mysql_query(m, ("select count(*) from " + table).c_str()) != 0)
        return -1;
    MYSQL_RES* res = mysql_store_result(m);
    const long n = std::atol(mysql_fetch_row(res)[0]);
    mysql_free_result(res);
    return n;
}

struct Outcome {
    int code = -1;
    double seconds = 0;
    double peakMb = 0;
    long long fileBytes = 0;
    std::string lastLines;
};

Outcome convert(const std::string& exe, const std::vector<std::string>& extra, const std::string& out)
{
    std::remove(out.c_str());
    const std::string logPath = out + ".log";
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("MYSQL_PWD", env("FERROWANE_MYSQL_PASSWORD").c_str(), 1);
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(log, 1);
        std::vector<std::string> args = {exe,         "--host", env("FERROWANE_MYSQL_HOST"),
                                         "--port",    env("FERROWANE_MYSQL_PORT"),
                                         "--user",    env("FERROWANE_MYSQL_USER"),
                                         "--database", "bench_hostile", "--output", out};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> cargs;
        for (auto& a : args)
            cargs.push_back(a.data());
        cargs.push_back(nullptr);
        execv(exe.c_str(), cargs.data());
        std::perror("execv");
        _exit(2);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Outcome o;
    o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.peakMb = usage.ru_maxrss / 1024.0;
    struct stat st{};
    if (stat(out.c_str(), &st) == 0)
        o.fileBytes = st.st_size;
    if (FILE* f = std::fopen(logPath.c_str(), "r")) {
        std::string all;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            all.append(buf, n);
        std::fclose(f);
        o.lastLines = all.size() > 700 ? all.substr(all.size() - 700) : all;
    }
    return o;
}

int checkFile(const std::string& mdb, const std::string& file)
{
    const std::string cmd = "'" + mdb + "' check '" + file + "' >/dev/null";
    return std::system(cmd.c_str()) == 0 ? 0 : 1;
}

void report(const char* name, const Outcome& o, int checked)
{
    std::printf("%-6s exit %d, %.1f s, peak memory %.1f MB, file %.1f MB, check %s\n", name, o.code, o.seconds,
                o.peakMb, o.fileBytes / 1048576.0, checked == 0 ? "ok" : "FAILED");
    std::printf("       log ends: %s\n", o.lastLines.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    const long blobRows = argc > 1 ? std::atol(argv[1]) : 128;
    const long blobMb = argc > 2 ? std::atol(argv[2]) : 8;
    const long wideRows = argc > 3 ? std::atol(argv[3]) : 3;
    const long wideKb = argc > 4 ? std::atol(argv[4]) : 160;
    if (env("FERROWANE_MYSQL_HOST").empty()) {
        std::fprintf(stderr, "set FERROWANE_MYSQL_HOST/PORT/USER/PASSWORD (source the server's env file)\n");
        return 2;
    }
    MYSQL* m = mysql_init(nullptr);
    if (!mysql_real_connect(m, env("FERROWANE_MYSQL_HOST").c_str(), env("FERROWANE_MYSQL_USER").c_str(),
                            env("FERROWANE_MYSQL_PASSWORD").c_str(), nullptr,
                            unsigned(std::stoi(env("FERROWANE_MYSQL_PORT"))), nullptr, 0)) {
        std::fprintf(stderr, "login: %s\n", mysql_error(m));
        return 2;
    }
    check(m, mysql_query(m, "create database if not exists bench_hostile"), "create database");
    check(m, mysql_select_db(m, "bench_hostile"), "use");
    // MyISAM: a gigabyte goes in without the redo log's detour.
    check(m, mysql_query(m, "create table if not exists blobs (id int primary key, b longblob) engine=MyISAM"),
          "create blobs");
    if (count(m, "blobs") != blobRows) {
        std::fprintf(stderr, "filling blobs: %ld rows of %ld MB...\n", blobRows, blobMb);
        check(m, mysql_query(m, "truncate table blobs"), "truncate");
        for (long i = 1; i <= blobRows; ++i) {
            // 16 bytes of md5 repeated: every row differs, nothing compresses it away in transit.
            const std::string sql = "insert into blobs values (" + std::to_string(i) + ", repeat(unhex(md5(" +
                                    std::to_string(i) + ")), " + std::to_string(blobMb * 65536) + "))";
            check(m, mysql_query(m, sql.c_str()), "fill blobs");
        }
    }
    std::string columns, values;
    for (int c = 1; c <= 255; ++c) {
        columns += (c > 1 ? ", c" : "c") + std::to_string(c) + " longtext";
        values += (c > 1 ? ", " : "") + std::string("repeat(concat(md5(seq + ") + std::to_string(c) +
                  "), 'ä€'), " + std::to_string(wideKb * 1024 / 37) + ")";
    }
    check(m, mysql_query(m, ("create table if not exists wide (" + columns + ") engine=MyISAM").c_str()),
          "create wide");
    if (count(m, "wide") != wideRows) {
        std::fprintf(stderr, "filling wide: %ld rows of 255 x %ld KB...\n", wideRows, wideKb);
        check(m, mysql_query(m, "truncate table wide"), "truncate");
        check(m, mysql_query(m, ("insert into wide select " + values + " from seq_1_to_" + std::to_string(wideRows))
                                    .c_str()),
              "fill wide");
    }
    mysql_close(m);

    std::string dir = argv[0];
    dir = dir.substr(0, dir.rfind('/') + 1);
    const std::string exe = dir + "../tools/ferrowane-convert", mdb = dir + "../tools/ferrowane-mdb";
    std::system("uptime");

    const Outcome blobs = convert(exe, {"--table", "blobs", "--format", "2000"}, "/tmp/bench_hostile_blobs.mdb");
    report("blobs", blobs, checkFile(mdb, "/tmp/bench_hostile_blobs.mdb"));
    const Outcome jet3 = convert(exe, {"--table", "blobs", "--format", "97"}, "/tmp/bench_hostile_jet3.mdb");
    report("jet3", jet3, checkFile(mdb, "/tmp/bench_hostile_jet3.mdb"));
    const Outcome wide = convert(exe, {"--table", "wide", "--format", "2000"}, "/tmp/bench_hostile_wide.mdb");
    report("wide", wide, checkFile(mdb, "/tmp/bench_hostile_wide.mdb"));
    std::system("uptime");
    for (const char* f : {"/tmp/bench_hostile_blobs.mdb", "/tmp/bench_hostile_jet3.mdb", "/tmp/bench_hostile_wide.mdb"})
        std::remove(f);
    const bool ok = blobs.code == 0 && wide.code == 0 && blobs.peakMb < 150 && wide.peakMb < 150 &&
                    jet3.peakMb < 150;
    return ok ? 0 : 1;
}
