// Helpers of the fault tests: ferrowane-convert and ferrowane-mdb run as
// programs (with limits or without root's overrides where a test needs
// them), a MariaDB server of a test's own that it may kill, and the checks
// that a file is sound in our checker and in the independent readers.
#pragma once

#include "test_mysql_env.h"

#include "readers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ferrowane::testing {

// A scratch database name of this process alone: every engineer's and CI's
// test runs may share one server.
inline QString ownName(const char* base) { return QStringLiteral("%1_%2").arg(QLatin1String(base)).arg(getpid()); }

inline QString convertProgram() { return QStringLiteral(FERROWANE_BINARY_DIR "/tools/ferrowane-convert"); }
inline QString mdbProgram() { return QStringLiteral(FERROWANE_BINARY_DIR "/tools/ferrowane-mdb"); }

struct ProgramOutcome {
    int code = -1;  // exit status, -1 when killed or not started
    QString out;
    QString err;
};

// In the child before exec: no file may grow beyond `bytes` (a write past it
// fails with EFBIG, SIGXFSZ ignored), the way a full disk refuses a write.
inline void limitFileSizeInChild(rlim_t bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &rl);
}

// In the child before exec: root loses the capabilities that let it write
// into read-only files and folders, for it and the program it becomes.
inline void dropFileOverridesInChild()
{
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
        prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
    __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &head, data) != 0)
        return;
    const unsigned mask = ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
    data[0].effective &= mask;
    data[0].permitted &= mask;
    data[0].inheritable &= mask;
    syscall(SYS_capset, &head, data);
}

// Whether a write into a read-only file is refused for a child that ran
// dropFileOverridesInChild (false where root keeps its overrides).
inline bool readOnlyHoldsForChildren(const QString& scratchDir)
{
    const QString probe = scratchDir + "/ro-probe";
    QFile f(probe);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.close();
    QFile::setPermissions(probe, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    QProcess p;
    p.setChildProcessModifier([] { dropFileOverridesInChild(); });
    p.start("/bin/sh", {"-c", "echo x >> \"$0\"", probe});
    p.waitForFinished(10000);
    const bool refused = p.exitStatus() == QProcess::NormalExit && p.exitCode() != 0;
    QFile::setPermissions(probe, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QFile::remove(probe);
    return refused;
}

inline ProgramOutcome runProgram(const QString& program, const QStringList& args,
                                 const std::function<void()>& inChild = {}, int timeoutMs = 180000)
{
    QProcess p;
    if (inChild)
        p.setChildProcessModifier(inChild);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

inline QStringList loginArgs(const MySqlTestEnv& env, const QString& database)
{
    return {"--host", env.host, "--port", env.port, "--user", env.user, "--password", env.password,
            "--database", database};
}

// `ferrowane-mdb check FILE` passes.
inline ::testing::AssertionResult passesCheck(const QString& file)
{
    const ProgramOutcome o = runProgram(mdbProgram(), {"check", file});
    if (o.code == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "ferrowane-mdb check " << file.toStdString() << " exited " << o.code
                                         << ": " << o.err.left(2000).toStdString();
}

// The first column of every row of a table, as mdbtools and mdb-reader read
// it; a reader that is not installed gives nullopt.
inline std::optional<std::vector<std::string>> mdbtoolsFirstColumn(const QString& file, const QString& table)
{
    if (!readers::mdbtoolsAvailable())
        return std::nullopt;
    std::vector<std::string> out;
    for (const readers::Row& r : readers::mdbExport(file.toStdString(), table.toStdString()).rows)
        out.push_back(r.empty() || !r[0] ? std::string("NULL") : *r[0]);
    return out;
}

inline std::optional<std::vector<std::string>> mdbReaderFirstColumn(const readers::ReaderResult& result,
                                                                    const QString& table)
{
    const readers::ReaderTable* t = result.find(table.toStdString());
    if (!t)
        return std::vector<std::string>{"<no table>"};
    std::vector<std::string> out;
    for (const readers::Row& r : t->rows)
        out.push_back(r.empty() || !r[0] ? std::string("NULL") : *r[0]);
    return out;
}

// "1".."n" in order.
inline std::vector<std::string> idsUpTo(long n)
{
    std::vector<std::string> v;
    for (long i = 1; i <= n; ++i)
        v.push_back(std::to_string(i));
    return v;
}

// A MariaDB server of this test alone (scripts/mariadb.sh in a scratch
// folder), which the test may kill. Stopped and removed at the end.
class OwnServer {
public:
    OwnServer()
    {
        m_dir = m_parent.path() + "/server";
        const ProgramOutcome o = runProgram("/bin/bash", {QStringLiteral(FERROWANE_SOURCE_DIR "/scripts/mariadb.sh"),
                                                          "start", m_dir});
        if (o.code != 0) {
            m_error = o.err + o.out;
            return;
        }
        QFile envFile(m_dir + "/env");
        if (!envFile.open(QIODevice::ReadOnly)) {
            m_error = "no env file";
            return;
        }
        const QString text = QString::fromUtf8(envFile.readAll());
        auto get = [&](const QString& key) {
            const QRegularExpression re("export " + key + "=\"?([^\"\\n]*)\"?");
            const auto m = re.match(text);
            return m.hasMatch() ? m.captured(1) : QString();
        };
        m_env.host = get("FERROWANE_MYSQL_HOST");
        m_env.port = get("FERROWANE_MYSQL_PORT");
        m_env.socket = get("FERROWANE_MYSQL_SOCKET");
        m_env.user = get("FERROWANE_MYSQL_USER");
        m_env.password = get("FERROWANE_MYSQL_PASSWORD");
        m_env.client = get("FERROWANE_MYSQL_CLIENT");
    }
    ~OwnServer() { runProgram("/bin/bash", {QStringLiteral(FERROWANE_SOURCE_DIR "/scripts/mariadb.sh"), "stop", m_dir}); }

    bool ok() const { return m_error.isEmpty(); }
    const QString& error() const { return m_error; }
    const MySqlTestEnv& env() const { return m_env; }

    // SIGKILL, and waits until the process is gone.
    bool kill()
    {
        QFile pidFile(m_dir + "/mysqld.pid");
        if (!pidFile.open(QIODevice::ReadOnly))
            return false;
        const pid_t pid = pid_t(pidFile.readAll().trimmed().toLong());
        if (pid <= 0 || ::kill(pid, SIGKILL) != 0)
            return false;
        for (int i = 0; i < 500 && alive(pid); ++i)
            usleep(10000);
        return !alive(pid);
    }

private:
    // A zombie that nobody reaped yet counts as gone.
    static bool alive(pid_t pid)
    {
        if (::kill(pid, 0) != 0)
            return false;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray s = stat.readAll();
        const qsizetype close = s.lastIndexOf(')');
        return !(close > 0 && close + 2 < s.size() && s.at(close + 2) == 'Z');
    }

    QTemporaryDir m_parent;
    QString m_dir;
    QString m_error;
    MySqlTestEnv m_env;
};

}  // namespace ferrowane::testing
