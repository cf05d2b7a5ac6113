// Converts 1,000,000-row tables from the local server to Jet 4 with their
// keys by ferrowane-convert and, in the same run, reads each with a plain
// client-library scan (mysql_use_result); prints both times, their ratio and
// the converter's peak memory. Tables: "big" (six columns, an int primary
// key) and "users" (a UUID primary key, indexes on a surname and a date, a
// unique e-mail key, 5% NULL notes; every key in random order).
//
//   source /tmp/fwtest/env; build/bench/bench_engine_convert [rows] [big|users]
#include <mysql.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <fcntl.h>
#include <sys/resource.h>
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

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// One benchmark table: how it is made and filled from the sequence engine.
struct BenchTable {
    const char* name;
    const char* create;
    const char* fill;  // "insert ... from seq_1_to_" + rows
};

const BenchTable kTables[] = {
    // Six columns, an int primary key in order.
    {"big",
     "create table if not exists big (id int primary key, name varchar(50), price decimal(10,2), qty int, "
     "placed datetime, note varchar(100))",
     "insert into big select seq, concat('customer ', seq), (seq % 100000) / 100 + 0.05, seq % 1000, "
     "'2020-01-01' + interval (seq % 100000) minute, repeat(char(97 + seq % 26), 20 + seq % 70) "
     "from seq_1_to_"},
    // A users table: every key arrives in random order.
    {"users",
     "create table if not exists users (id char(36) primary key, surname varchar(50), email varchar(100), "
     "visits int, created datetime, note varchar(100), key surname (surname), unique key email (email), "
     "key created (created))",
     "insert into users select concat_ws('-', substr(h, 1, 8), substr(h, 9, 4), substr(h, 13, 4), "
     "substr(h, 17, 4), substr(h, 21, 12)), "
     "concat(elt(1 + crc32(seq) % 12, 'Smith', 'Garcia', 'Muller', 'Rossi', 'Novak', 'Tanaka', 'Dubois', "
     "'Kowalski', 'Jensen', 'Silva', 'Okafor', 'Nguyen'), '-', crc32(seq * 7) % 40000), "
     "concat(lower(hex(crc32(seq * 3))), '.', seq, '@example.com'), seq % 1000, "
     "'2015-01-01' + interval (crc32(seq * 11) % 300000000) second, "
     "if(seq % 20 = 0, null, repeat(char(97 + seq % 26), 10 + seq % 80)) "
     "from (select seq, md5(seq) as h from seq_1_to_"},
};

// Fills the table with `rows` rows when it holds another number.
void prepare(MYSQL* m, const BenchTable& t, long rows)
{
    check(m, mysql_query(m, t.create), "create table");
    check(m, mysql_query(m, (std::string("select count(*) from ") + t.name).c_str()), "count");
    MYSQL_RES* res = mysql_store_result(m);
    const long have = std::atol(mysql_fetch_row(res)[0]);
    mysql_free_result(res);
    if (have == rows)
        return;
    std::fprintf(stderr, "filling %s with %ld rows...\n", t.name, rows);
    check(m, mysql_query(m, (std::string("truncate table ") + t.name).c_str()), "truncate");
    std::string fill = t.fill + std::to_string(rows);
    if (std::string(t.name) == "users")
        fill += ") s";
    check(m, mysql_query(m, fill.c_str()), "fill");
}

// The plain client-library scan of a table, in seconds.
double scan(MYSQL* m, const char* table, long& scanned)
{
    const auto t0 = std::chrono::steady_clock::now();
    check(m, mysql_query(m, (std::string("select * from `") + table + "`").c_str()), "select");
    MYSQL_RES* res = mysql_use_result(m);
    scanned = 0;
    while (MYSQL_ROW row = mysql_fetch_row(res)) {
        (void)row;
        ++scanned;
    }
    mysql_free_result(res);
    return seconds(t0);
}

struct Conversion {
    double seconds = 0;
    int exitCode = -1;
    double peakMb = 0;
};

// ferrowane-convert of one table to Jet 4 with its keys, as a child process
// so that its peak memory is its own.
Conversion convert(const std::string& self, const std::string& host, const std::string& port,
                   const std::string& user, const std::string& password, const std::string& db, const char* table)
{
    std::string exe = self.substr(0, self.rfind('/') + 1) + "../tools/ferrowane-convert";
    const std::string out = std::string("/tmp/bench_run_convert_") + table + ".mdb";
    std::remove(out.c_str());
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("MYSQL_PWD", password.c_str(), 1);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        std::vector<std::string> args = {exe, "--host", host, "--port", port, "--user", user, "--database", db,
                                         "--table", table, "--output", out, "--format", "2000"};
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
    Conversion c;
    c.seconds = seconds(t0);
    c.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    c.peakMb = usage.ru_maxrss / 1024.0;
    return c;
}

}  // namespace

int main(int argc, char** argv)
{
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    const std::string only = argc > 2 ? argv[2] : "";
    const std::string host = env("FERROWANE_MYSQL_HOST"), port = env("FERROWANE_MYSQL_PORT"),
                      user = env("FERROWANE_MYSQL_USER"), password = env("FERROWANE_MYSQL_PASSWORD");
    if (host.empty() || port.empty()) {
        std::fprintf(stderr, "set FERROWANE_MYSQL_HOST/PORT/USER/PASSWORD (source the server's env file)\n");
        return 2;
    }
    const std::string db = "bench_run_convert";

    MYSQL* m = mysql_init(nullptr);
    if (!mysql_real_connect(m, host.c_str(), user.c_str(), password.c_str(), nullptr, unsigned(std::stoi(port)),
                            nullptr, 0)) {
        std::fprintf(stderr, "login: %s\n", mysql_error(m));
        return 2;
    }
    check(m, mysql_query(m, ("create database if not exists " + db).c_str()), "create database");
    check(m, mysql_select_db(m, db.c_str()), "use");

    int failures = 0;
    for (const BenchTable& t : kTables) {
        if (!only.empty() && only != t.name)
            continue;
        prepare(m, t, rows);
        long scanned = 0;
        const double scanTime = scan(m, t.name, scanned);
        const Conversion c = convert(argv[0], host, port, user, password, db, t.name);
        failures += c.exitCode != 0;
        std::printf("table:              %s\n", t.name);
        std::printf("rows:               %ld\n", scanned);
        std::printf("plain scan:         %.2f s\n", scanTime);
        std::printf("ferrowane-convert:  %.2f s (exit %d, Jet 4 with keys)\n", c.seconds, c.exitCode);
        std::printf("ratio:              %.2f\n", scanTime > 0 ? c.seconds / scanTime : 0.0);
        std::printf("peak memory:        %.1f MB\n\n", c.peakMb);
    }
    mysql_close(m);
    return failures == 0 ? 0 : 1;
}
