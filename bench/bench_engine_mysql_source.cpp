// Streams a table through the MySQL source (text, integer and value reads of
// every column) and through a bare client-library scan of the same rows; prints
// both times, their ratio and how much the resident memory grew.
//
//   source /tmp/fwtest/env; build/bench/bench_engine_mysql_source [rows]
#include "engine/mysql_source.h"

#include <mysql.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

using namespace ferrowane;

namespace {

QString env(const char* name) { return qEnvironmentVariable(name); }

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long residentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

ConnectionParams params(const QString& database)
{
    ConnectionParams p;
    p.host = env("FERROWANE_MYSQL_HOST");
    p.port = env("FERROWANE_MYSQL_PORT");
    p.user = env("FERROWANE_MYSQL_USER");
    p.password = env("FERROWANE_MYSQL_PASSWORD");
    p.database = database;
    return p;
}

}  // namespace

int main(int argc, char** argv)
{
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    if (env("FERROWANE_MYSQL_HOST").isEmpty()) {
        std::fprintf(stderr, "source the FERROWANE_MYSQL_* environment first\n");
        return 2;
    }
    const QString db = QStringLiteral("src_bench");
    try {
        MySqlConnection admin;
        admin.setParams(params(QStringLiteral("mysql")));
        admin.open();
        admin.query("drop database if exists " + quoteIdentifier(db));
        admin.query("create database " + quoteIdentifier(db) + " character set utf8mb4");
        admin.query("create table " + quoteIdentifier(db) + ".t (id int primary key, name varchar(60),"
                    " price decimal(12,2), added datetime, note text, data blob) engine=MyISAM");
        admin.query("insert into " + quoteIdentifier(db) + ".t select seq, concat('Name ', seq, ' \u00e9\u4e2d'),"
                    " seq / 100, '2024-01-01' + interval seq second, repeat('n', seq % 200),"
                    " unhex(repeat('AB', seq % 50)) from seq_1_to_" + QString::number(rows));

        // Bare client library: fetch only.
        MYSQL* m = mysql_init(nullptr);
        mysql_options(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
        const QByteArray host = env("FERROWANE_MYSQL_HOST").toUtf8(), user = env("FERROWANE_MYSQL_USER").toUtf8(),
                         pw = env("FERROWANE_MYSQL_PASSWORD").toUtf8(), dbName = db.toUtf8();
        if (!mysql_real_connect(m, host, user, pw, dbName, env("FERROWANE_MYSQL_PORT").toUInt(), nullptr, 0)) {
            std::fprintf(stderr, "%s\n", mysql_error(m));
            return 2;
        }
        auto start = std::chrono::steady_clock::now();
        mysql_query(m, "select * from t");
        MYSQL_RES* res = mysql_use_result(m);
        long bare = 0;
        while (mysql_fetch_row(res))
            ++bare;
        mysql_free_result(res);
        const double bareSeconds = seconds(start);
        mysql_close(m);

        // Through the source, reading every column the way the row transfer does.
        MySqlConnection c;
        c.setParams(params(db));
        c.open();
        const long before = residentKiB();
        long peak = before;
        start = std::chrono::steady_clock::now();
        MySqlResult r = c.query(selectAllStatement("t"));
        long read = 0;
        qint64 checksum = 0;
        while (r.next()) {
            ++read;
            checksum += r.integer(0);
            for (int i = 1; i < r.columnCount(); ++i)
                checksum += r.value(i).toString().size() + r.bytes(i).size();
            if (read % 50000 == 0)
                peak = std::max(peak, residentKiB());
        }
        const double sourceSeconds = seconds(start);
        c.query("drop database " + quoteIdentifier(db));

        std::printf("rows %ld (bare scan %ld)\n", read, bare);
        std::printf("bare client scan   %.3f s\n", bareSeconds);
        std::printf("MySQL source read  %.3f s  (%.0f rows/s, %.2fx the bare scan)\n", sourceSeconds,
                    read / sourceSeconds, sourceSeconds / bareSeconds);
        std::printf("resident growth    %ld KiB (checksum %lld)\n", peak - before, (long long)checksum);
    } catch (const MySqlError& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
    return 0;
}
