// The job object every front end runs: its steps against the real server, the
// outcome and exit status each way a job can end, and the job file's log.
#include "engine/conversion_job.h"
#include "run_fixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace ferrowane;
using ferrowane::testing::ScratchDatabase;
using ferrowane::testing::StoppingLog;

TEST(ConversionJob, StepByStepAsTheWindowCallsIt)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, "job_steps");
    db.exec("create table b (id int)");
    db.exec("create table a (id int primary key)");
    db.exec("insert into a values (1), (2)");
    QTemporaryDir dir;
    MemoryProgressLog window;
    ConversionJob job(&window);
    ConversionSettings settings = env.remoteSettings();
    settings.accessfilename = dir.filePath("steps.mdb");

    // Connection page: the typed name is the chosen entry.
    const DatabaseList databases = job.logIn(settings, db.name());
    ASSERT_GE(databases.selectedIndex, 0);
    EXPECT_EQ(databases.names[databases.selectedIndex], db.name());
    // Settings page.
    const QStringList tables = job.openDatabase(settings, db.name(), 0);
    EXPECT_EQ(tables, QStringList({"a", "b"}));
    // Table page, as the window's texts say it.
    RunTexts texts;
    texts.completed = "fertig";
    const RunResult result = job.run(settings, {"a"}, texts);
    EXPECT_EQ(result.convertedTables, 1);
    EXPECT_EQ(job.outcome(), JobOutcome::Converted);
    EXPECT_EQ(job.exitStatus(), 0);
    EXPECT_EQ(window.lines(), job.lines());
    EXPECT_EQ(job.lines().first(), "Create table a...Done");
    EXPECT_TRUE(job.lines().contains("fertig"));
    EXPECT_TRUE(job.lines().contains("Insert table a 2 Rows ...Done"));

    // The job file's end: its lines beside the job, the last caption after the save.
    const QString jobPath = dir.filePath("night.frwjob");
    job.beforeFinishLine = [&] {
        job.writeEndLine();
        EXPECT_EQ(job.saveLog(jobPath), QString());
    };
    job.writeStartLine();
    job.run(settings, {});
    QFile log(ConversionJob::logPath(jobPath));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QStringList saved = QString::fromUtf8(log.readAll()).split("\r\n");
    EXPECT_EQ(saved.size(), job.lines().size());  // the final CR LF opens no line; "Click 'Finish'" is missing
    EXPECT_TRUE(saved[saved.size() - 5].startsWith("Start time:"));
    EXPECT_TRUE(saved[saved.size() - 2].startsWith("The end time:"));
    EXPECT_EQ(job.lines().last(), "Click 'Finish' to exit the wizard.");
}

TEST(ConversionJob, OutcomesAndExitStatuses)
{
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, "job_ends");
    db.exec("create table big (id int)");
    db.exec("insert into big select seq from seq_1_to_250");
    db.exec("create table little (id int)");
    QTemporaryDir dir;
    ConversionSettings settings = env.remoteSettings();
    settings.skipindex = true;

    {
        // A refused login and no chosen database: errors of their kind, nothing started.
        ConversionJob job;
        ConversionSettings wrong = settings;
        wrong.mysqlp = "not the password";
        try {
            job.logIn(wrong, db.name());
            ADD_FAILURE() << "the login went through";
        } catch (const Error& e) {
            EXPECT_EQ(e.kind(), ErrorKind::Source);
        }
        try {
            job.openDatabase(settings, QString(), 0);
            ADD_FAILURE() << "no database was refused";
        } catch (const Error& e) {
            EXPECT_EQ(e.kind(), ErrorKind::Input);
        }
        EXPECT_EQ(job.outcome(), JobOutcome::NotStarted);
        EXPECT_EQ(job.exitStatus(), 2);
    }
    {
        // A target file that cannot be made: no table touched.
        ConversionJob job;
        job.openDatabase(settings, db.name(), 0);
        settings.accessfilename = dir.filePath("no/such/folder/x.mdb");
        EXPECT_THROW(job.run(settings, {"little"}), Error);
        EXPECT_EQ(job.outcome(), JobOutcome::TargetFailed);
        EXPECT_FALSE(job.failure().isEmpty());
        EXPECT_EQ(job.exitStatus(), 2);
    }
    settings.accessfilename = dir.filePath("ends.mdb");
    {
        // A table the server cannot list fails alone; a Stop from the front end ends the run.
        StoppingLog frontEnd;
        frontEnd.stopAtPoint = 1;
        ConversionJob job(&frontEnd);
        job.openDatabase(settings, db.name(), 0);
        job.run(settings, {"little", "gone"});
        EXPECT_EQ(job.outcome(), JobOutcome::TableFailed);
        EXPECT_EQ(job.exitStatus(), 1);
        const RunResult stopped = job.run(settings, {"big", "little"});
        EXPECT_TRUE(stopped.stopped);
        EXPECT_EQ(job.outcome(), JobOutcome::Stopped);
        EXPECT_EQ(job.exitStatus(), 1);
        job.closeTarget();
    }
}

TEST(ConversionJob, SharedTexts)
{
    EXPECT_EQ(ConversionJob::logPath("/a.b/night"), "/a.b/night.log");
    EXPECT_EQ(ConversionJob::logPath("C:\\jobs\\night.frwjob"), "C:\\jobs\\night.log");
    EXPECT_TRUE(ConversionJob::dataFolder().endsWith("/Orvanel/"));
    EXPECT_FALSE(ConversionJob::dataFolder().contains("//Orvanel"));
    const QDateTime midnight(QDate(2024, 2, 29), QTime(0, 0));
    EXPECT_EQ(ConversionJob::dateTimeText(midnight), QLocale::system().toString(midnight.date(), QLocale::ShortFormat));
    EXPECT_GT(ConversionJob::dateTimeText(midnight.addSecs(1)).size(), ConversionJob::dateTimeText(midnight).size());
}
