// ferrowane-convert as a program: its log on standard output and its exit codes.
#include "test_mysql_env.h"

#include "jet/database.h"
#include "jet/table.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace ferrowane;
using ferrowane::testing::ScratchDatabase;

namespace {

const QString kProgram = QStringLiteral(FERROWANE_BINARY_DIR "/tools/ferrowane-convert");

struct Outcome {
    int code = -1;
    QString out;
    QString err;
};

Outcome convert(const QStringList& args, const QString& password = QString())
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    if (!password.isNull())
        e.insert("MYSQL_PWD", password);
    p.setProcessEnvironment(e);
    p.start(kProgram, args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QStringList login(const ferrowane::testing::MySqlTestEnv& env, const QString& db)
{
    return {"--host", env.host, "--port", env.port, "--user", env.user, "--database", db};
}

}  // namespace

TEST(ConvertCli, ConvertsAndPrintsTheLog)
{
    if (!QFile::exists(kProgram))
        GTEST_SKIP() << "ferrowane-convert is not built";
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, "conv_cli");
    db.exec("create table a (id int primary key, s varchar(20))");
    db.exec("create table b (id int)");
    db.exec("insert into a values (1, 'x'), (2, 'y')");
    QTemporaryDir dir;
    const QString out = dir.filePath("cli.mdb");
    Outcome o = convert(login(env, db.name()) + QStringList{"--output", out, "--format", "2000", "--table", "b",
                                                            "--table", "a"},
                        env.password);
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    EXPECT_EQ(o.out, QStringLiteral("Create table b...Done\n\nInsert table b 0 Rows ...Done\n\n"
                                    "Create table a...Done\n\nInsert table a 2 Rows ...Done\n\n"
                                    "Create keys of table a: PRIMARYa1...Done\n\n"
                                    "Conversion is Completed\n"
                                    "Wizard has migrated your MySQL database to Access successfully.\n"
                                    "Click 'Finish' to exit the wizard.\n"));
    EXPECT_TRUE(o.err.isEmpty()) << o.err.toStdString();  // no terminal: no progress bar
    auto file = jet::Database::open(out.toStdString(), false);
    EXPECT_EQ(file->version(), jet::Version::Jet4);
    EXPECT_EQ(file->table("a").readAll().size(), 2u);
    file.reset();

    // Again, skipping what exists, with the password as an option.
    o = convert(login(env, db.name()) + QStringList{"--output", out, "--existing", "skip", "--password", env.password,
                                                    "--definitions-only"});
    EXPECT_EQ(o.code, 0);
    EXPECT_TRUE(o.out.startsWith("Skip table a... \n\nSkip table b... \n\nConversion is Completed\n"))
        << o.out.toStdString();
}

TEST(ConvertCli, ExitCodes)
{
    if (!QFile::exists(kProgram))
        GTEST_SKIP() << "ferrowane-convert is not built";
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, "conv_cli_codes");
    // Access takes at most 255 columns: the create step fails.
    QByteArray columns = "c0 int";
    for (int i = 1; i < 256; ++i)
        columns += ", c" + QByteArray::number(i) + " int";
    db.exec("create table wide (" + columns + ")");
    db.exec("create table good (id int)");
    QTemporaryDir dir;
    const QString out = dir.filePath("codes.mdb");

    Outcome o = convert(login(env, db.name()) + QStringList{"--output", out}, env.password);
    EXPECT_EQ(o.code, 1);
    EXPECT_TRUE(o.out.contains("Create table wide... \n")) << o.out.toStdString();
    EXPECT_TRUE(o.out.contains("Skip table wide\n"));
    EXPECT_TRUE(o.out.contains("Insert table good 0 Rows ...Done\n"));
    EXPECT_TRUE(o.out.endsWith("Conversion finished with 1 failed table: see the lines above\n"
                               "Click 'Finish' to exit the wizard.\n"))
        << o.out.toStdString();

    // Every table made, but a value changed: 3, and the caption says so. A
    // duration kept as text with --time-to-text changes nothing: 0.
    db.exec("create table times (t time)");
    db.exec("insert into times values ('100:00:00')");
    o = convert(login(env, db.name()) + QStringList{"--output", dir.filePath("t.mdb"), "--table", "times"},
                env.password);
    EXPECT_EQ(o.code, 3) << o.err.toStdString();
    EXPECT_TRUE(o.out.contains("Conversion finished with 1 value changed: see the lines above\n"))
        << o.out.toStdString();
    o = convert(login(env, db.name())
                    + QStringList{"--output", dir.filePath("t2.mdb"), "--table", "times", "--time-to-text"},
                env.password);
    EXPECT_EQ(o.code, 0) << o.out.toStdString();
    auto times = jet::Database::open(dir.filePath("t2.mdb").toStdString(), false);
    EXPECT_EQ(times->table("times").readAll().at(0).at(0).str(), "100:00:00");
    times.reset();

    // Could not start: options, login, unknown table, target folder.
    EXPECT_EQ(convert(login(env, db.name()), env.password).code, 2);  // no --output
    EXPECT_EQ(convert(login(env, db.name()) + QStringList{"--output", out, "--format", "95"}, env.password).code, 2);
    EXPECT_EQ(convert(login(env, db.name()) + QStringList{"--output", out, "--existing", "keep"}, env.password).code, 2);
    EXPECT_EQ(convert(login(env, db.name()) + QStringList{"--output", out}, "wrong password").code, 2);
    EXPECT_EQ(convert(login(env, db.name()) + QStringList{"--output", out, "--table", "nosuch"}, env.password).code, 2);
    o = convert(login(env, db.name()) + QStringList{"--output", dir.filePath("no/dir/x.mdb")}, env.password);
    EXPECT_EQ(o.code, 2);
    EXPECT_TRUE(o.out.isEmpty());
    EXPECT_TRUE(o.err.contains("Cannot create file")) << o.err.toStdString();
}

TEST(ConvertCli, JobFile)
{
    if (!QFile::exists(kProgram))
        GTEST_SKIP() << "ferrowane-convert is not built";
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, "conv_cli_job");
    db.exec("create table a (id int)");
    db.exec("insert into a values (1), (2)");
    QTemporaryDir dir;
    const QString out = dir.filePath("job.mdb");
    QFile job(dir.filePath("j.frwjob"));
    ASSERT_TRUE(job.open(QIODevice::WriteOnly));
    job.write(QStringLiteral("accessmode=1\r\nhost=%1\r\nport=%2\r\nmysqlu=%3\r\nmysqlp=%4\r\nmysqldatabase=%5\r\n"
                             "character_set=Default\r\naccessfilename=%6\r\naccessformat=0\r\nprocesstable=0\r\n"
                             "tabledefonly=0\r\nskipindex=0\r\nblobtotext=0\r\nalltables=1\r\n")
                  .arg(env.host, env.port, env.user, env.password, db.name(), out)
                  .toUtf8());
    job.close();
    const Outcome o = convert({"--job", job.fileName()});
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    EXPECT_TRUE(o.out.contains("Insert table a 2 Rows ...Done\n")) << o.out.toStdString();
    QFile log(dir.filePath("j.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    EXPECT_TRUE(text.contains("Insert table a 2 Rows ...Done\r\n"));
    EXPECT_TRUE(text.contains("The end time:"));
    EXPECT_FALSE(text.contains("Click 'Finish'"));
}

TEST(ConvertCli, PasswordOutOfTheProcessList)
{
    if (!QFile::exists(kProgram))
        GTEST_SKIP() << "ferrowane-convert is not built";
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    ScratchDatabase db(env, "conv_cli_pwd");
    db.exec("create table a (id int)");
    QTemporaryDir dir;
    // Without MYSQL_PWD; the password comes from a file or standard input.
    auto run = [&](const QStringList& extra, const QByteArray& input = QByteArray()) {
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.remove("MYSQL_PWD");
        p.setProcessEnvironment(e);
        p.start(kProgram, login(env, db.name()) + QStringList{"--list-tables"} + extra);
        p.write(input);
        p.closeWriteChannel();
        p.waitForFinished(60000);
        return Outcome{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                       QString::fromUtf8(p.readAllStandardError())};
    };
    auto file = [&](const QString& name, const QByteArray& content) {
        QFile f(dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(content);
        return f.fileName();
    };

    // The first line only, without its CR LF.
    Outcome o = run({"--password-file", file("pw", env.password.toUtf8() + "\r\nnot this line\n")});
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    EXPECT_EQ(o.out, "a\n");
    EXPECT_EQ(run({"--password-file", file("wrong", "wrong\n" + env.password.toUtf8())}).code, 2);
    o = run({"--password", "-"}, env.password.toUtf8() + "\n");
    EXPECT_EQ(o.code, 0) << o.err.toStdString();
    EXPECT_EQ(o.out, "a\n");

    o = run({"--password-file", dir.filePath("missing")});
    EXPECT_EQ(o.code, 2);
    EXPECT_TRUE(o.err.contains("missing")) << o.err.toStdString();
    EXPECT_EQ(run({"--password", "x", "--password-file", file("pw2", "x")}).code, 2);

    QProcess help;
    help.start(kProgram, {"--help"});
    help.waitForFinished(60000);
    const QString text = QString::fromUtf8(help.readAllStandardOutput());
    EXPECT_TRUE(text.contains("--password-file")) << text.toStdString();
    EXPECT_TRUE(text.contains("MYSQL_PWD"));
    EXPECT_TRUE(text.contains("3 every table and key made")) << text.toStdString();
}
