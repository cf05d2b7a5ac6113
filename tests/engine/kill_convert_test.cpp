// ferrowane-convert killed (SIGKILL) at random moments of a long conversion.
// Every file left behind passes check, reads in mdbtools and mdb-reader, and
// holds for each table exactly the rows of one of its commits: a prefix of
// the source's rows whose length is a commit point (100, 5100, 10100, ... or
// the whole table) and not shorter than the last commit the log showed.
// Running the same conversion again (Overwrite) then gives the whole result.
//
// FERROWANE_KILL_ROUNDS sets the number of kills (10 by default; the script
// scripts/kill-test.sh runs 100), FERROWANE_KILL_SEED the random seed.
#include "fault_support.h"

#include "jet/database.h"
#include "jet/table.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <random>

using namespace ferrowane;
using namespace ferrowane::testing;

namespace {

struct SourceTable {
    QString name;
    long rows = 0;
};

// What the log printed for one table before the kill.
struct Seen {
    bool created = false;   // "Create table T...Done"
    long lastCommit = 0;    // rows known to be committed
};

bool isCommitPoint(long n, long total)
{
    return n == 0 || n == total || (n >= 100 && n % 5000 == 100);
}

std::map<QString, Seen> readLog(const QString& out, const QList<SourceTable>& tables)
{
    std::map<QString, Seen> seen;
    const QRegularExpression progress("^Insert table (\\S+) (\\d+) Rows (\\.\\.\\.Done)?$");
    for (const QString& line : out.split('\n')) {
        for (const SourceTable& t : tables)
            if (line == "Create table " + t.name + "...Done")
                seen[t.name].created = true;
        const auto m = progress.match(line);
        if (!m.hasMatch())
            continue;
        const long n = m.captured(2).toLong();
        const bool done = m.capturedLength(3) > 0;
        // A progress line follows its commit; the last one of a table is
        // only committed once "...Done" is added to it.
        if ((n % 5000 == 100) || done)
            seen[m.captured(1)].lastCommit = std::max(seen[m.captured(1)].lastCommit, n);
    }
    return seen;
}

// The ids of every listed table the file has, as our engine reads it.
std::map<QString, std::vector<std::string>> engineView(const QString& file, const QList<SourceTable>& tables,
                                                        bool writable)
{
    auto db = jet::Database::open(file.toStdString(), writable);
    std::map<QString, std::vector<std::string>> view;
    for (const SourceTable& t : tables) {
        if (!db->hasTable(t.name.toStdString()))
            continue;
        std::vector<std::string>& ids = view[t.name];
        for (const auto& row : db->table(t.name.toStdString()).readAll())
            ids.push_back(std::to_string(row[0].asInt()));
    }
    return view;
}

// Problems of a file left by a kill (or of a complete one with `complete`).
// A kill in the middle of a commit leaves the journal beside the file: our
// programs read the last commit through it, and the next writer (the rerun)
// puts it back into the file; only then can readers that know nothing of the
// journal see that commit, so they are asked after that step.
QStringList judge(const QString& file, const QList<SourceTable>& tables, const std::map<QString, Seen>& seen,
                  bool complete, bool withReaders)
{
    QStringList problems;
    if (!QFile::exists(file)) {
        for (const auto& [name, s] : seen)
            if (s.created)
                problems << "no file, but the log showed " + name + " created";
        return problems;
    }
    if (auto c = passesCheck(file); !c)
        problems << QString::fromStdString(c.message());
    std::map<QString, std::vector<std::string>> view;
    try {
        view = engineView(file, tables, false);
        // What the next writer sees after putting the journal back.
        if (engineView(file, tables, true) != view)
            problems << "the rows read through the journal differ from those after it was applied";
    } catch (const std::exception& e) {
        return problems << QString("our engine cannot open the file: ") + e.what();
    }
    if (auto c = passesCheck(file); !c)
        problems << "after the journal was applied: " + QString::fromStdString(c.message());
    std::optional<readers::ReaderResult> reader;
    if (withReaders && readers::mdbReaderAvailable()) {
        try {
            reader = readers::mdbReader(file.toStdString());
        } catch (const std::exception& e) {
            problems << QString("mdb-reader: ") + e.what();
        }
    }
    for (const SourceTable& t : tables) {
        const auto it = seen.find(t.name);
        const Seen s = it == seen.end() ? Seen{} : it->second;
        const auto v = view.find(t.name);
        if (v == view.end()) {
            if (s.created || complete)
                problems << t.name + " is missing";
            continue;
        }
        const std::vector<std::string>& ids = v->second;
        const long n = long(ids.size());
        if (ids != idsUpTo(n))
            problems << t.name + ": the rows are not the source's first " + QString::number(n);
        if (complete ? n != t.rows : !isCommitPoint(n, t.rows))
            problems << t.name + ": " + QString::number(n) + " rows is not a commit point";
        if (n < s.lastCommit)
            problems << t.name + ": " + QString::number(n) + " rows, but the log showed a commit at " +
                            QString::number(s.lastCommit);
        if (!withReaders)
            continue;
        try {
            if (auto m = mdbtoolsFirstColumn(file, t.name); m && *m != ids)
                problems << t.name + ": mdb-export reads " + QString::number(m->size()) + " rows, not " +
                                QString::number(n);
        } catch (const std::exception& e) {
            problems << t.name + ": mdb-export: " + e.what();
        }
        if (reader) {
            const auto r = *mdbReaderFirstColumn(*reader, t.name);
            if (r != ids)
                problems << t.name + ": mdb-reader reads " + QString::number(r.size()) + " rows, not " +
                                QString::number(n);
        }
    }
    return problems;
}

int envInt(const char* name, int fallback)
{
    bool ok = false;
    const int v = envText(name).toInt(&ok);
    return ok ? v : fallback;
}

}  // namespace

TEST(KillConvert, EveryKilledFileHoldsACommittedPrefix)
{
    if (!QFile::exists(convertProgram()) || !QFile::exists(mdbProgram()))
        GTEST_SKIP() << "ferrowane-convert or ferrowane-mdb is not built";
    FERROWANE_MYSQL_ENV_OR_SKIP(env);
    const int rounds = envInt("FERROWANE_KILL_ROUNDS", 10);
    const unsigned seed = unsigned(envInt("FERROWANE_KILL_SEED", int(std::random_device{}() & 0x7fffffff)));
    std::mt19937 rng(seed);
    std::printf("kill test: %d rounds, seed %u\n", rounds, seed);

    ScratchDatabase db(env, ownName("kill_convert"));
    // Rows of every kind of page: a key, short texts, and every 50th row a
    // memo long enough for a chain of long-value pages.
    db.exec("create table k_main (id int primary key, s varchar(40), m text)");
    db.exec("insert into k_main select seq, md5(seq), if(seq % 50 = 0, repeat(md5(seq), 140), md5(seq)) "
            "from seq_1_to_30017");
    db.exec("create table k_second (id int, v double, d datetime)");
    db.exec("insert into k_second select seq, seq / 7, '2026-12-08 22:00:00' + interval seq second "
            "from seq_1_to_12011");
    const QList<SourceTable> tables{{"k_main", 30017}, {"k_second", 12011}};

    QTemporaryDir dir;
    const QStringList base = loginArgs(env, db.name()) + QStringList{"--progress-lines"};
    auto argsFor = [&](const QString& file, int round) {
        return base + QStringList{"--output", file, "--format", round % 2 ? "97" : "2000"};
    };

    // A whole run, for the time a conversion takes.
    QElapsedTimer timer;
    timer.start();
    const QString reference = dir.filePath("reference.mdb");
    const ProgramOutcome whole = runProgram(convertProgram(), argsFor(reference, 0));
    const qint64 fullMs = std::max<qint64>(timer.elapsed(), 200);
    ASSERT_EQ(whole.code, 0) << whole.err.toStdString();
    {
        const QStringList problems = judge(reference, tables, readLog(whole.out, tables), true, true);
        ASSERT_TRUE(problems.isEmpty()) << problems.join('\n').toStdString();
    }
    std::printf("kill test: a whole conversion takes %lld ms\n", (long long)fullMs);

    int killedMidway = 0;
    for (int round = 0; round < rounds; ++round) {
        const QString file = dir.filePath(QString("k%1.mdb").arg(round));
        QProcess p;
        p.start(convertProgram(), argsFor(file, round));
        ASSERT_TRUE(p.waitForStarted());
        const int delay = int(std::uniform_int_distribution<qint64>(0, fullMs * 11 / 10)(rng));
        const bool finished = p.waitForFinished(delay);
        if (!finished) {
            ::kill(pid_t(p.processId()), SIGKILL);
            p.waitForFinished(30000);
            ++killedMidway;
        }
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const auto seen = readLog(out, tables);
        const QStringList problems = judge(file, tables, seen, false, true);
        EXPECT_TRUE(problems.isEmpty()) << "round " << round << " (killed after " << delay << " ms):\n"
                                        << problems.join('\n').toStdString() << "\nlog:\n"
                                        << out.right(600).toStdString();

        // The same job again, over what the kill left.
        const ProgramOutcome again = runProgram(convertProgram(), argsFor(file, round));
        EXPECT_EQ(again.code, 0) << "round " << round << ": " << again.err.toStdString();
        const QStringList after = judge(file, tables, readLog(again.out, tables), true, round == rounds - 1);
        EXPECT_TRUE(after.isEmpty()) << "round " << round << " rerun:\n" << after.join('\n').toStdString();
        QFile::remove(file);
        if (::testing::Test::HasFailure())
            break;
    }
    std::printf("kill test: %d of %d runs killed before they ended\n", killedMidway, rounds);
}
