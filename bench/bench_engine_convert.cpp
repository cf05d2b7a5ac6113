// Converts a 1,000,000-row table from the local server to Jet 4 with
// ferrowane-convert and, in the same run, reads the table with a plain
// client-library scan (mysql_use_result); prints both times, their ratio and
// the converter's peak memory.
//
//   source /tmp/fwtest/env; build/bench/bench_engine_convert [rows]
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

}  // namespace

int main(int argc, char** argv)
{
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
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
    check(m, mysql_query(m, "create table if not exists big (id int primary key, name varchar(50), "
                            "price decimal(10,2), qty int, placed datetime, note varchar(100))"),
          "create table");
    check(m, mysql_query(m, "select count(*) from big"), "count");
    MYSQL_RES* res = mysql_store_result(m);
    const long have = std::atol(mysql_fetch_row(res)[0]);
    mysql_free_result(res);
    if (have != rows) {
        std::fprintf(stderr, "filling big with %ld rows...\n", rows);
        check(m, mysql_query(m, "truncate table big"), "truncate");
        const std::string fill =
            "insert into big select seq, concat('customer ', seq), (seq % 100000) / 100 + 0.05, seq % 1000, "
            "'2020-01-01' + interval (seq % 100000) minute, repeat(char(97 + seq % 26), 20 + seq % 70) "
            "from seq_1_to_" + std::to_string(rows);
        check(m, mysql_query(m, fill.c_str()), "fill");
    }

    // The plain scan.
    auto t0 = std::chrono::steady_clock::now();
    check(m, mysql_query(m, "select * from `big`"), "select");
    res = mysql_use_result(m);
    long scanned = 0;
    while (MYSQL_ROW row = mysql_fetch_row(res)) {
        (void)row;
        ++scanned;
    }
    mysql_free_result(res);
    const double scanTime = seconds(t0);
    mysql_close(m);

    // The conversion, as a child process so that its peak memory is its own.
    std::string exe = argv[0];
    exe = exe.substr(0, exe.rfind('/') + 1) + "../tools/ferrowane-convert";
    const std::string out = "/tmp/bench_run_convert.mdb";
    std::remove(out.c_str());
    t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("MYSQL_PWD", password.c_str(), 1);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        std::vector<std::string> args = {exe, "--host", host, "--port", port, "--user", user, "--database", db,
                                         "--table", "big", "--output", out, "--format", "2000"};
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
    const double convertTime = seconds(t0);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

    std::printf("rows:               %ld\n", scanned);
    std::printf("plain scan:         %.2f s\n", scanTime);
    std::printf("ferrowane-convert:  %.2f s (exit %d)\n", convertTime, code);
    std::printf("ratio:              %.2f\n", scanTime > 0 ? convertTime / scanTime : 0.0);
    std::printf("peak memory:        %.1f MB\n", usage.ru_maxrss / 1024.0);
    return code == 0 ? 0 : 1;
}
