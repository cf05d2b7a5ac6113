// Hostile sizes: long BLOBs adding up to more than the memory bound, and a
// row of 255 long texts of 40 MB. ferrowane-convert must stay under 150 MB
// (its own peak, from wait4) and write every value whole. The 1 GB variant
// is bench/bench_engine_hostile.
#include "fault_support.h"

#include "jet/database.h"
#include "jet/table.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace ferrowane;
using namespace ferrowane::testing;

namespace {

constexpr double kBoundMb = 150;

struct Measured {
    int code = -1;
    double peakMb = 0;   // the program's own high-water mark (VmHWM), polled while it runs
    double wait4Mb = 0;  // ru_maxrss from wait4: also counts what this process held when it forked
};

double highWaterMb(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

// Runs ferrowane-convert and returns its exit status and peak resident size.
// A forked child starts with the high-water mark of this process, which
// wait4 reports as well; the mark of the program itself starts at its exec.
Measured convertMeasured(const QStringList& args)
{
    const QString program = QFileInfo(convertProgram()).canonicalFilePath();
    std::vector<std::string> argv{program.toStdString()};
    for (const QString& a : args)
        argv.push_back(a.toStdString());
    std::vector<char*> cargs;
    for (auto& a : argv)
        cargs.push_back(a.data());
    cargs.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        execv(cargs[0], cargs.data());
        _exit(127);
    }
    Measured m;
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        // Until the child has replaced itself with the program, its mark is
        // this test process's own.
        if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget() == program)
            m.peakMb = std::max(m.peakMb, highWaterMb(pid));
        usleep(5000);
    }
    m.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m.wait4Mb = usage.ru_maxrss / 1024.0;
    return m;
}

QByteArray sha(const std::string& bytes)
{
    return QCryptographicHash::hash(QByteArrayView(bytes.data(), qsizetype(bytes.size())),
                                    QCryptographicHash::Sha1);
}

}  // namespace

// 24 rows of 8 MB: more than the bound in all, so no copy of the table may
// pile up; each row's copies must stay few.
TEST(FaultMemory, LongBlobsStayUnderTheBound)
{
    if (!QFile::exists(convertProgram()))
        GTEST_SKIP() << "ferrowane-convert is not built";
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, ownName("fault_mem_blobs"));
    db.exec("create table blobs (id int primary key, b longblob) engine=MyISAM");
    for (int i = 1; i <= 24; ++i)
        db.exec(QString("insert into blobs values (%1, repeat(unhex(md5(%1)), 524288))").arg(i));
    QTemporaryDir dir;
    const QString file = dir.filePath("blobs.mdb");
    const Measured m = convertMeasured(loginArgs(env, db.name()) + QStringList{"--output", file, "--format", "2000"});
    EXPECT_EQ(m.code, 0);
    EXPECT_GT(m.peakMb, 0);
    EXPECT_LT(m.peakMb, kBoundMb);
    std::printf("24 BLOBs of 8 MB: peak memory %.1f MB (wait4: %.1f MB)\n", m.peakMb, m.wait4Mb);
    EXPECT_TRUE(passesCheck(file));
    auto target = jet::Database::open(file.toStdString(), false);
    const auto rows = target->table("blobs").readAll();
    ASSERT_EQ(rows.size(), 24u);
    for (const int i : {0, 23}) {
        const auto source = db.session().rows(QString("select sha1(b) from blobs where id = %1").arg(i + 1).toUtf8());
        EXPECT_EQ(rows[size_t(i)][1].str().size(), size_t(8 << 20));
        EXPECT_EQ(sha(rows[size_t(i)][1].str()).toHex(), source[0][0]) << "row " << i + 1;
    }
}

// One row of 255 long texts, 160 KB of UTF-8 each (about 40 MB, twice that
// as UTF-16: the euro sign keeps Jet 4 from storing it compressed).
TEST(FaultMemory, RowOf255LongTextsStaysUnderTheBound)
{
    if (!QFile::exists(convertProgram()))
        GTEST_SKIP() << "ferrowane-convert is not built";
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, ownName("fault_mem_wide"));
    QStringList columns, values;
    for (int c = 1; c <= 255; ++c) {
        columns << QString("c%1 longtext").arg(c);
        values << QString("repeat(concat(md5(%1), 'ä€'), 4428)").arg(c);  // 37 bytes each
    }
    db.exec("create table wide (" + columns.join(", ") + ") engine=MyISAM");
    db.exec("insert into wide values (" + values.join(", ") + ")");
    QTemporaryDir dir;
    const QString file = dir.filePath("wide.mdb");
    const Measured m = convertMeasured(loginArgs(env, db.name()) + QStringList{"--output", file, "--format", "2000"});
    EXPECT_EQ(m.code, 0);
    EXPECT_GT(m.peakMb, 0);
    EXPECT_LT(m.peakMb, kBoundMb);
    std::printf("255 long texts of 160 KB in one row: peak memory %.1f MB (wait4: %.1f MB)\n", m.peakMb,
                m.wait4Mb);
    EXPECT_TRUE(passesCheck(file));
    auto target = jet::Database::open(file.toStdString(), false);
    const auto rows = target->table("wide").readAll();
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_EQ(rows[0].size(), 255u);
    const auto source = db.session().rows("select c1, c128, c255 from wide");
    EXPECT_EQ(rows[0][0].str(), source[0][0].toStdString());
    EXPECT_EQ(rows[0][127].str(), source[0][1].toStdString());
    EXPECT_EQ(rows[0][254].str(), source[0][2].toStdString());
}
