// Job files and runs without a window, below the shortcut window.
#include "settings/job_file.h"
#include "settings/unattended_run.h"
#include "test_mysql_env.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace ferrowane;

namespace {

QStringList crlfLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

}  // namespace

TEST(JobFile, ExtensionsOnlyFromTheFileName)
{
    EXPECT_EQ(replaceExtension("/a.b/night", ".log"), "/a.b/night.log");
    EXPECT_EQ(replaceExtension("/a/night.job.sh", ".frwjob"), "/a/night.job.frwjob");
    EXPECT_EQ(replaceExtension("C:\\x.y\\n", ".log"), "C:\\x.y\\n.log");
    EXPECT_EQ(replaceExtension("/a/.hidden", ".log"), "/a/.log");
}

TEST(JobFile, RewritingNarrowsAReadableFile)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/j.frwjob";
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("a long earlier content that must not survive\r\n");
    old.close();
    old.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    JobContent job;
    job.mysqlp = "secret";
    ASSERT_EQ(writeJobFile(path, job), QString());
    EXPECT_EQ(QFile::permissions(path) & 0x0077, QFileDevice::Permissions());
    const QStringList lines = crlfLines(path);
    ASSERT_EQ(lines.size(), 19);  // with the five schema options last
    EXPECT_EQ(lines[4], "mysqlp=secret");
}

TEST(JobFile, TimeToTextIsWrittenOnlyWhenSet)
{
    JobContent job;
    EXPECT_FALSE(jobLines(job).join('|').contains("timetotext"));
    job.timetotext = true;
    const QStringList lines = jobLines(job);
    EXPECT_TRUE(lines.contains("timetotext=1"));
    ConversionSettings s;
    SettingsRecordSink sink(s);
    EXPECT_EQ(ApplyJobSettings(JobFile(lines), sink), QString());
    EXPECT_TRUE(s.timetotext);
    // A job without the key behaves as before: TIME stays Date/Time.
    job.timetotext = false;
    EXPECT_EQ(ApplyJobSettings(JobFile(jobLines(job)), sink), QString());
    EXPECT_FALSE(s.timetotext);
}

TEST(JobFile, LineBreaksInValuesAreRefused)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/j.frwjob";
    JobContent earlier;
    earlier.mysqlp = "kept";
    ASSERT_EQ(writeJobFile(path, earlier), QString());

    // A password cut at its line break, a table name that adds a key: nothing is written.
    JobContent job;
    job.mysqlp = "se\r\ncret";
    QString error = writeJobFile(path, job);
    EXPECT_TRUE(error.contains("\"mysqlp\"")) << error.toStdString();
    EXPECT_FALSE(error.contains("cret"));
    job.mysqlp = "secret";
    job.alltables = 0;
    job.tables = {"a", "evil\r\nmysqlp=stolen", "b\nc", "d\re"};
    error = writeJobFile(path, job);
    EXPECT_TRUE(error.contains("evil\\r\\nmysqlp=stolen")) << error.toStdString();
    job.tables = {"a", "b\nc"};
    EXPECT_FALSE(writeJobFile(path, job).isEmpty());
    EXPECT_EQ(crlfLines(path), jobLines(earlier));
    // Every table: the names are not in the job.
    job.alltables = 1;
    EXPECT_EQ(writeJobFile(path, job), QString());
}

TEST(JobFile, EveryOtherCharacterReadsBackAsWritten)
{
    // What earlier versions wrote reads as before: no escapes are taken out.
    QTemporaryDir dir;
    const QString path = dir.path() + "/j.frwjob";
    JobContent job;
    job.mysqldatabase = "d=b %41 \\r";
    job.mysqlp = " p\\n\"w\t=\u00e9\u4e2d ";
    job.host = "h%0D%0A";
    job.accessfilename = "C:\\new\\rates.mdb";
    job.alltables = 0;
    job.tables = {"t\\n1", "\u00e9=\u00e9", "%0A"};
    ASSERT_EQ(writeJobFile(path, job), QString());
    const std::optional<JobFile> read = JobFile::read(path, nullptr);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->value("mysqldatabase"), job.mysqldatabase);
    EXPECT_EQ(read->value("mysqlp"), job.mysqlp);
    EXPECT_EQ(read->value("host"), job.host);
    EXPECT_EQ(read->value("accessfilename"), job.accessfilename);
    EXPECT_EQ(read->tableEntries(), job.tables);
}

TEST(JobFile, ReadingAFolderFails)
{
    QTemporaryDir dir;
    QString error;
    EXPECT_FALSE(JobFile::read(dir.path(), &error).has_value());
    EXPECT_FALSE(error.isEmpty());
}

// A job that converts nothing has not succeeded: each missing table is named.
TEST(HeadlessJob, NoTableFoundFailsWithALinePerTable)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ferrowane::testing::ScratchDatabase db(env, "job_none");
    db.exec("create table t (id int)");
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", (dir.path() + "/.config").toUtf8());
    const QString jobPath = dir.path() + "/none.frwjob";
    QFile f(jobPath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(("accessmode=1\r\nmysqldatabase=job_none\r\nport=" + env.port + "\r\nmysqlu=" + env.user
             + "\r\nmysqlp=" + env.password + "\r\nhost=" + env.host + "\r\naccessfilename=" + dir.path()
             + "/n.mdb\r\naccessformat=0\r\nprocesstable=0\r\ncharacter_set=Default\r\nalltables=0\r\n"
               "tables1=T\r\n")
                .toUtf8());
    f.close();
    MemoryProgressLog echo;
    EXPECT_EQ(runJobHeadless(jobPath, &echo), JobTableFailed);
    const QStringList log = crlfLines(dir.path() + "/none.log");
    ASSERT_EQ(log.size(), 3);
    EXPECT_TRUE(log[0].startsWith("Start time:"));
    EXPECT_EQ(log[1], "Table T is not in database job_none (names must match in letter case): not converted");
    EXPECT_EQ(log[2], "No table to convert: the job selects no table of database job_none");
    EXPECT_EQ(echo.lines(), log);
    EXPECT_FALSE(QFile::exists(dir.path() + "/n.mdb"));
}
