// The MariaDB server that MySQL tests run against, from the FERROWANE_MYSQL_*
// variables (scripts/mariadb.sh writes them). Without them a test is skipped,
// unless FERROWANE_REQUIRE_MYSQL=1 makes that a failure.
//
//   TEST(Foo, Bar) {
//       FERROWANE_MYSQL_ENV_OR_SKIP(env);
//       ferrowane::testing::ScratchDatabase db(env, "conv_bar");   // dropped at the end
//       db.exec("create table t (id int)");
//       ferrowane::MySqlConnection c;
//       c.setParams(env.params(db.name()));
//       c.open();
//   }
#pragma once

#include "engine/conversion_settings.h"
#include "engine/mysql_source.h"

#include <gtest/gtest.h>
#include <mysql.h>

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QProcess>
#include <QString>

#include <cstdlib>
#include <optional>
#include <stdexcept>

namespace ferrowane::testing {

inline QString envText(const char* name)
{
    const char* v = std::getenv(name);
    return v ? QString::fromLocal8Bit(v) : QString();
}

inline bool mysqlRequired() { return envText("FERROWANE_REQUIRE_MYSQL") == QLatin1String("1"); }

struct MySqlTestEnv {
    QString host;
    QString port;
    QString socket;
    QString user;
    QString password;
    QString client;  // root client command line, reads SQL on standard input

    static std::optional<MySqlTestEnv> fromEnvironment()
    {
        MySqlTestEnv e{envText("FERROWANE_MYSQL_HOST"),   envText("FERROWANE_MYSQL_PORT"),
                       envText("FERROWANE_MYSQL_SOCKET"), envText("FERROWANE_MYSQL_USER"),
                       envText("FERROWANE_MYSQL_PASSWORD"), envText("FERROWANE_MYSQL_CLIENT")};
        if (e.host.isEmpty() || e.port.isEmpty() || e.user.isEmpty())
            return std::nullopt;
        return e;
    }

    // Settings that log in over TCP (remote mode) as the test user.
    ConversionSettings remoteSettings() const
    {
        ConversionSettings s;
        s.accessmode = 1;
        s.host = host;
        s.port = port;
        s.mysqlu = user;
        s.mysqlp = password;
        return s;
    }

    ConnectionParams params(const QString& database = QString(), const QString& charset = QString()) const
    {
        ConnectionParams p;
        p.host = host;
        p.port = port;
        p.user = user;
        p.password = password;
        p.database = database;
        p.characterSet = charset;
        return p;
    }
};

// Runs SQL through the root client command; returns its exit code, output in *output.
inline int runRootClient(const MySqlTestEnv& env, const QByteArray& sql, QByteArray* output = nullptr)
{
    QStringList args = QProcess::splitCommand(env.client);
    if (args.isEmpty())
        return -1;
    const QString program = args.takeFirst();
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted())
        return -1;
    p.write(sql);
    p.closeWriteChannel();
    p.waitForFinished(300000);
    if (output)
        *output = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// A plain libmariadb session as the test user (utf8mb4), for setting up data
// independently of the code under test. Throws std::runtime_error on failure.
class AdminSession {
public:
    explicit AdminSession(const MySqlTestEnv& env, const QString& database = QString())
    {
        m_mysql = mysql_init(nullptr);
        mysql_options(m_mysql, MYSQL_SET_CHARSET_NAME, "utf8mb4");
        const QByteArray host = env.host.toUtf8(), user = env.user.toUtf8(),
                         password = env.password.toUtf8(), db = database.toUtf8();
        if (!mysql_real_connect(m_mysql, host.constData(), user.constData(), password.constData(),
                                db.isEmpty() ? nullptr : db.constData(), env.port.toUInt(), nullptr, 0)) {
            const std::string error = mysql_error(m_mysql);
            mysql_close(m_mysql);
            throw std::runtime_error("admin login failed: " + error);
        }
    }
    ~AdminSession() { mysql_close(m_mysql); }
    AdminSession(const AdminSession&) = delete;
    AdminSession& operator=(const AdminSession&) = delete;

    void exec(const QByteArray& sql)
    {
        if (mysql_real_query(m_mysql, sql.constData(), (unsigned long)sql.size()) != 0)
            throw std::runtime_error("admin statement failed: " + std::string(mysql_error(m_mysql))
                                     + " in: " + sql.left(200).toStdString());
        if (MYSQL_RES* res = mysql_store_result(m_mysql))
            mysql_free_result(res);
    }
    void exec(const QString& sql) { exec(sql.toUtf8()); }
    void exec(const char* sql) { exec(QByteArray(sql)); }

    // Every row of a query, each column's raw bytes (a NULL gives a null QByteArray).
    QList<QByteArrayList> rows(const QByteArray& sql)
    {
        if (mysql_real_query(m_mysql, sql.constData(), (unsigned long)sql.size()) != 0)
            throw std::runtime_error("admin query failed: " + std::string(mysql_error(m_mysql)));
        QList<QByteArrayList> out;
        MYSQL_RES* res = mysql_store_result(m_mysql);
        if (!res)
            return out;
        const unsigned int n = mysql_num_fields(res);
        while (MYSQL_ROW row = mysql_fetch_row(res)) {
            const unsigned long* len = mysql_fetch_lengths(res);
            QByteArrayList r;
            for (unsigned int i = 0; i < n; ++i)
                r.append(row[i] ? QByteArray(row[i], qsizetype(len[i])) : QByteArray());
            out.append(r);
        }
        mysql_free_result(res);
        return out;
    }
    QList<QByteArrayList> rows(const char* sql) { return rows(QByteArray(sql)); }

    MYSQL* handle() const { return m_mysql; }

private:
    MYSQL* m_mysql = nullptr;
};

// A database made for one test and dropped when the object goes, also when the test fails.
class ScratchDatabase {
public:
    ScratchDatabase(const MySqlTestEnv& env, const QString& name) : m_env(env), m_name(name)
    {
        AdminSession admin(env);
        admin.exec("drop database if exists " + quoteIdentifier(name));
        admin.exec("create database " + quoteIdentifier(name) + " character set utf8mb4");
        m_session.emplace(env, name);
    }
    ~ScratchDatabase()
    {
        try {
            m_session.reset();
            AdminSession admin(m_env);
            admin.exec("drop database if exists " + quoteIdentifier(m_name));
        } catch (...) {
        }
    }
    ScratchDatabase(const ScratchDatabase&) = delete;
    ScratchDatabase& operator=(const ScratchDatabase&) = delete;

    const QString& name() const { return m_name; }
    // Runs SQL inside the database.
    void exec(const QByteArray& sql) { m_session->exec(sql); }
    void exec(const QString& sql) { m_session->exec(sql); }
    void exec(const char* sql) { m_session->exec(sql); }
    AdminSession& session() { return *m_session; }

private:
    MySqlTestEnv m_env;
    QString m_name;
    std::optional<AdminSession> m_session;
};

}  // namespace ferrowane::testing

// Declares `var` (a MySqlTestEnv) or leaves the test: skipped, or failed when
// FERROWANE_REQUIRE_MYSQL=1. Usable in a test body or a fixture's SetUp.
#define FERROWANE_MYSQL_ENV_OR_SKIP(var)                                                    \
    const auto var##_found = ::ferrowane::testing::MySqlTestEnv::fromEnvironment();          \
    if (!var##_found) {                                                                       \
        if (::ferrowane::testing::mysqlRequired())                                            \
            FAIL() << "FERROWANE_MYSQL_* are not set and FERROWANE_REQUIRE_MYSQL=1";          \
        else                                                                                  \
            GTEST_SKIP() << "no MariaDB server (FERROWANE_MYSQL_* not set)";                  \
    }                                                                                         \
    const ::ferrowane::testing::MySqlTestEnv& var = *var##_found
