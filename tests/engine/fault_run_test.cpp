// Faults during a conversion: the server dies in the middle of a table, the
// disk refuses a write, the format's size limit is reached, the target file
// is gone, read-only or held by another program. Each ends with a clear log
// line or message, the right exit status, and a file that every reader opens
// with the rows committed before the fault.
#include "fault_support.h"
#include "run_fixture.h"

#include "jet/database.h"
#include "jet/table.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/file.h>

using namespace ferrowane;
using namespace ferrowane::testing;

namespace {

// Calls `action` once, at the given progress point (1-based).
class ActingLog : public MemoryProgressLog {
public:
    int atPoint = -1;
    std::function<void()> action;
    void onProgress(qint64) override
    {
        if (progressPoints() == atPoint && action)
            action();
    }
};

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The ids of a table's rows as our engine reads them.
std::vector<std::string> engineIds(const QString& file, const QString& table)
{
    auto db = jet::Database::open(file.toStdString(), false);
    std::vector<std::string> ids;
    for (const auto& row : db->table(table.toStdString()).readAll())
        ids.push_back(std::to_string(row[0].asInt()));
    return ids;
}

// The table holds rows 1..n in every reader, and the file passes check.
void expectPrefix(const QString& file, const QString& table, long n)
{
    EXPECT_TRUE(passesCheck(file));
    EXPECT_FALSE(QFile::exists(file + "-journal"));
    EXPECT_EQ(engineIds(file, table), idsUpTo(n));
    if (auto ids = mdbtoolsFirstColumn(file, table)) {
        EXPECT_EQ(*ids, idsUpTo(n)) << "mdb-export";
    }
    if (readers::mdbReaderAvailable()) {
        const auto result = readers::mdbReader(file.toStdString(), {table.toStdString()});
        EXPECT_EQ(*mdbReaderFirstColumn(result, table), idsUpTo(n)) << "mdb-reader";
    }
}

// The line repeated three times, as a failed transfer writes its message.
int threefold(const QStringList& lines, const QString& needle)
{
    for (int i = 0; i + 2 < lines.size(); ++i)
        if (lines[i].contains(needle) && lines[i + 1] == lines[i] && lines[i + 2] == lines[i])
            return i;
    return -1;
}

}  // namespace

// The server is killed while rows stream: the transfer ends with the client
// library's message, what was posted is committed, and the next table's
// column list cannot be read, which ends the run with the server's error.
TEST(FaultRun, ServerKilledInTheMiddleOfATable)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(shared);
    (void)shared;
    OwnServer server;
    ASSERT_TRUE(server.ok()) << server.error().toStdString();
    const MySqlTestEnv& env = server.env();
    QTemporaryDir dir;
    const QString file = dir.filePath("killed.mdb");
    {
        ScratchDatabase db(env, ownName("fault_server"));
        db.exec("create table big (id int primary key, s varchar(220))");
        // About 20 MB, far more than the sockets buffer between the two.
        db.exec("insert into big select seq, concat(repeat(md5(seq), 6), ' row ', seq) from seq_1_to_100000");
        db.exec("create table after_it (id int)");
        db.exec("insert into after_it values (1), (2)");

        MySqlConnection source;
        source.setParams(env.params(db.name()));
        source.open();
        AccessConnection connection;
        AccessDataset dataset(connection);
        ActingLog log;
        bool killed = false;
        log.atPoint = 60;  // row 6000, after the commit at row 5100
        log.action = [&] { killed = server.kill(); };
        ConversionSettings settings;
        settings.accessfilename = file;
        settings.accessformat = 1;
        ConversionRun run(source, connection, dataset, log);
        EXPECT_THROW(run.run(settings, {"big", "after_it"}), MySqlError);
        dataset.close();
        connection.close();
        ASSERT_TRUE(killed);

        const QStringList lines = log.lines();
        const int failure = threefold(lines, QString());
        ASSERT_GE(failure, 1) << lines.join('\n').toStdString();
        const QString message = lines[failure];
        // The library's own words, such as "Lost connection to server during query".
        EXPECT_TRUE(message.contains("server", Qt::CaseInsensitive)) << message.toStdString();
        const QRegularExpression progress("^Insert table big (\\d+) Rows $");
        const auto m = progress.match(lines[failure - 1]);
        ASSERT_TRUE(m.hasMatch()) << lines[failure - 1].toStdString();
        const long lastProgress = m.captured(1).toLong();
        EXPECT_GE(lastProgress, 6000);
        // The run ends where the table's key list cannot be read, the next
        // table is not begun.
        EXPECT_EQ(lines.mid(failure + 3), QStringList({QString()}))
            << lines.join('\n').toStdString();

        // Every row posted before the failure was committed by it.
        const long n = long(engineIds(file, "big").size());
        std::printf("server killed at row 6000: last progress %ld, %ld rows kept, message \"%s\"\n", lastProgress,
                    n, qPrintable(message));
        EXPECT_GE(n, lastProgress);
        EXPECT_LT(n, lastProgress + 100);
        expectPrefix(file, "big", n);
    }
}

// A write the system refuses (here the file size limit of the process, which
// fails a write the way a full disk does): the table's last commit stays,
// the message says why, and the next table, which fits, is converted.
TEST(FaultRun, RefusedWriteKeepsTheLastCommit)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, ownName("fault_fsize"));
    db.exec("create table rows_a (id int primary key, t text)");
    db.exec("insert into rows_a select seq, repeat(md5(seq), 30) from seq_1_to_3000");
    db.exec("create table more (id int)");
    db.exec("insert into more values (1), (2), (3)");
    QTemporaryDir dir;
    const QString file = dir.filePath("fsize.mdb");
    const rlim_t limit = 1024 * 1024;
    const ProgramOutcome o = runProgram(
        convertProgram(),
        loginArgs(env, db.name()) + QStringList{"--output", file, "--format", "2000", "--table", "rows_a", "--table", "more"},
        [limit] { limitFileSizeInChild(limit); });
    EXPECT_EQ(o.code, 1) << o.err.toStdString();
    const QStringList lines = o.out.split('\n');
    const int failure =
        threefold(lines, "Cannot write '" + file + "': the file has reached the largest size this system allows it");
    EXPECT_GE(failure, 0) << o.out.toStdString();
    EXPECT_TRUE(o.out.contains("\nInsert table more 3 Rows ...Done\n")) << o.out.toStdString();
    // Never the success caption after a failed table.
    EXPECT_TRUE(o.out.endsWith("Conversion finished with 1 failed table: see the lines above\n"
                               + completion().last() + '\n'))
        << o.out.toStdString();
    EXPECT_LE(QFileInfo(file).size(), qint64(limit));
    expectPrefix(file, "rows_a", 100);  // the commit at row 100
    expectPrefix(file, "more", 3);
}

// The format's size limit (lowered here, the engine's real 1 GB one is the
// same check): a clear message before the file would grow past it, every row
// that fitted kept.
TEST(FaultRun, SizeLimitEndsTheTableBeforeItIsCrossed)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, ownName("fault_limit"));
    db.exec("create table blobs (id int, b longblob)");
    db.exec("insert into blobs select seq, repeat(unhex(md5(seq)), 3200) from seq_1_to_100");  // 51,200 bytes each
    QTemporaryDir dir;
    const QString file = dir.filePath("limit.mdb");
    const qint64 limit = 2 * 1024 * 1024;
    const ProgramOutcome o =
        runProgram(convertProgram(), loginArgs(env, db.name()) + QStringList{"--output", file, "--format", "97",
                                                                             "--max-file-size", QString::number(limit)});
    EXPECT_EQ(o.code, 1) << o.err.toStdString();
    const QStringList lines = o.out.split('\n');
    EXPECT_GE(threefold(lines, "The database '" + file + "' has reached its size limit of 2 MB"), 0)
        << o.out.toStdString();
    EXPECT_LE(QFileInfo(file).size(), limit);
    const long n = long(engineIds(file, "blobs").size());
    EXPECT_GT(n, 20);
    EXPECT_LT(n, 100);
    expectPrefix(file, "blobs", n);
    // The values that made it are whole.
    auto target = jet::Database::open(file.toStdString(), false);
    const auto rows = target->table("blobs").readAll();
    const auto source = db.session().rows("select b from blobs order by id limit 5");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(rows[size_t(i)][1].str(), source[i][0].toStdString()) << "row " << i + 1;
}

// The target file deleted between runs is made again; one made read-only, or
// in a folder that takes no new files, is refused before anything changes.
TEST(FaultRun, TargetGoneOrReadOnly)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, ownName("fault_target"));
    db.exec("create table t (id int primary key, s varchar(10))");
    db.exec("insert into t values (1, 'a'), (2, 'b'), (3, 'c')");
    QTemporaryDir dir;
    const QString file = dir.filePath("target.mdb");
    const QStringList args = loginArgs(env, db.name()) + QStringList{"--format", "2000", "--existing", "merge"};
    ASSERT_EQ(runProgram(convertProgram(), args + QStringList{"--output", file}).code, 0);
    ASSERT_TRUE(QFile::remove(file));
    ProgramOutcome o = runProgram(convertProgram(), args + QStringList{"--output", file});
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    EXPECT_TRUE(o.out.startsWith("Create table t...Done\n\nInsert table t 3 Rows ...Done\n")) << o.out.toStdString();
    expectPrefix(file, "t", 3);

    if (!readOnlyHoldsForChildren(dir.path()))
        GTEST_SKIP() << "this system lets the test's children write into read-only files";
    const QByteArray before = fileBytes(file);
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    o = runProgram(convertProgram(), args + QStringList{"--output", file}, [] { dropFileOverridesInChild(); });
    EXPECT_EQ(o.code, 2);
    EXPECT_TRUE(o.out.isEmpty()) << o.out.toStdString();
    EXPECT_TRUE(o.err.contains("Cannot open '" + file + "': Permission denied")) << o.err.toStdString();
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(fileBytes(file), before);

    // A folder that takes no new file: neither a new target nor the journal
    // that changes to an existing one need.
    const QString locked = dir.filePath("locked");
    ASSERT_TRUE(QDir().mkdir(locked));
    ASSERT_TRUE(QFile::copy(file, locked + "/old.mdb"));
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    o = runProgram(convertProgram(), args + QStringList{"--output", locked + "/new.mdb"},
                   [] { dropFileOverridesInChild(); });
    EXPECT_EQ(o.code, 2);
    EXPECT_TRUE(o.err.contains("Cannot create file " + locked + "/new.mdb")) << o.err.toStdString();
    o = runProgram(convertProgram(), args + QStringList{"--output", locked + "/old.mdb"},
                   [] { dropFileOverridesInChild(); });
    EXPECT_EQ(o.code, 2);
    EXPECT_TRUE(o.out.isEmpty()) << o.out.toStdString();
    EXPECT_TRUE(o.err.contains("Cannot write in the folder of '" + locked + "/old.mdb': Permission denied"))
        << o.err.toStdString();
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(fileBytes(locked + "/old.mdb"), before);
    EXPECT_EQ(QDir(locked).entryList(QDir::Files), QStringList{"old.mdb"});
}

// Another program holding the file (a writer, or a reader's shared lock):
// the run does not start and the file is not touched; once it is let go,
// the same run goes through.
TEST(FaultRun, SecondProgramHoldsTheFile)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, ownName("fault_held"));
    db.exec("create table t (id int)");
    db.exec("insert into t values (1), (2), (3)");
    QTemporaryDir dir;
    const QString file = dir.filePath("held.mdb");
    const QStringList args = loginArgs(env, db.name()) + QStringList{"--output", file, "--format", "2000"};
    ASSERT_EQ(runProgram(convertProgram(), args).code, 0);
    const QByteArray before = fileBytes(file);

    {
        auto writer = jet::Database::open(file.toStdString(), true);
        const ProgramOutcome o = runProgram(convertProgram(), args);
        EXPECT_EQ(o.code, 2);
        EXPECT_TRUE(o.out.isEmpty()) << o.out.toStdString();
        EXPECT_TRUE(o.err.contains("The database '" + file + "' is in use by another program")) << o.err.toStdString();
    }
    {
        const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::flock(fd, LOCK_SH), 0);
        const ProgramOutcome o = runProgram(convertProgram(), args);
        EXPECT_EQ(o.code, 2);
        EXPECT_TRUE(o.err.contains("is in use by another program")) << o.err.toStdString();
        ::close(fd);
    }
    EXPECT_EQ(fileBytes(file), before);
    const ProgramOutcome o = runProgram(convertProgram(), args);
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    EXPECT_TRUE(o.out.startsWith("Drop table t...Done\n")) << o.out.toStdString();
    expectPrefix(file, "t", 3);
}
