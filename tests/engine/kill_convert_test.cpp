// ferrowane-convert killed (SIGKILL) at random moments of a long conversion
// (several tables, keys, long rows). The file left behind is first judged as
// it lies, by the readers that know nothing of our journal (mdbtools'
// mdb-schema and mdb-export, mdb-reader), before any program of ours opens
// it: each must accept it and find for each table exactly the rows of one of
// its commits: a prefix of the source's rows whose length is a commit point
// (100, 5100, 10100, ... or the whole table; any length for long rows, which
// commit as soon as they fill a quarter of the page cache), not shorter than
// the last commit the log showed, with the values the source holds. Our own
// reading must agree; check passes, or reports a kill inside a commit as
// "needs recovery" (then the readers may see the commit it was writing).
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

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <set>
#include <random>

using namespace ferrowane;
using namespace ferrowane::testing;

namespace {

struct SourceTable {
    QString name;
    long rows = 0;
    bool longRows = false;  // commits come sooner than every 5000 rows, at any row
};

// The text of k_long's second column in row `id` (as the source makes it).
std::string longText(long id)
{
    char eight[16];
    std::snprintf(eight, sizeof eight, "%08ld", id);
    std::string s;
    for (int i = 0; i < 700; ++i)
        s += eight;
    return s;
}

// What the log printed for one table before the kill.
struct Seen {
    bool created = false;   // "Create table T...Done"
    long lastCommit = 0;    // rows known to be committed
};

bool isCommitPoint(long n, const SourceTable& t)
{
    return t.longRows || n == 0 || n == t.rows || (n >= 100 && n % 5000 == 100);
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

// The first column of every listed table as the independent readers find
// the file, and what else they stumble on (a row count in a table's
// definition that differs from its rows, a long text not the source's).
struct ReadersView {
    std::map<QString, std::vector<std::string>> mdbtools, mdbReader;
    QStringList problems;
};

ReadersView readersView(const QString& file, const QList<SourceTable>& tables)
{
    ReadersView v;
    std::set<std::string> listed;
    if (readers::mdbtoolsAvailable()) {
        try {
            for (const auto& t : readers::mdbSchema(file.toStdString()))
                listed.insert(t.name);
        } catch (const std::exception& e) {
            v.problems << QString("mdb-schema: ") + e.what();
        }
    }
    for (const SourceTable& t : tables) {
        if (!readers::mdbtoolsAvailable() || !listed.count(t.name.toStdString()))
            continue;
        try {
            const auto rows = readers::mdbExport(file.toStdString(), t.name.toStdString()).rows;
            std::vector<std::string>& ids = v.mdbtools[t.name];
            for (const readers::Row& r : rows) {
                ids.push_back(r.empty() || !r[0] ? std::string("NULL") : *r[0]);
                if (t.longRows && (r.size() < 2 || !r[1] || *r[1] != longText(std::atol(ids.back().c_str()))))
                    v.problems << t.name + ": mdb-export reads another text in row " + QString::fromStdString(ids.back());
            }
        } catch (const std::exception& e) {
            v.problems << t.name + ": mdb-export: " + e.what();
        }
    }
    if (readers::mdbReaderAvailable()) {
        try {
            const readers::ReaderResult r = readers::mdbReader(file.toStdString());
            for (const SourceTable& t : tables) {
                const readers::ReaderTable* rt = r.find(t.name.toStdString());
                if (!rt)
                    continue;
                v.mdbReader[t.name] = *mdbReaderFirstColumn(r, t.name);
                if (size_t(rt->rowCount) != rt->rows.size())
                    v.problems << t.name + ": mdb-reader finds " + QString::number(rt->rows.size()) +
                                      " rows, its definition counts " + QString::number(rt->rowCount);
                for (const readers::Row& row : rt->rows)
                    if (t.longRows && (row.size() < 2 || !row[0] || !row[1] || *row[1] != longText(std::atol(row[0]->c_str())))) {
                        v.problems << t.name + ": mdb-reader reads another text in a row";
                        break;
                    }
            }
        } catch (const std::exception& e) {
            v.problems << QString("mdb-reader: ") + e.what();
        }
    }
    return v;
}

// Problems of a file left by a kill (or of a complete one with `complete`).
// The readers that know nothing of our journal come first, on the file as
// it lies; then our check (which may only say that a commit was cut short:
// "needs recovery"), our reading through the journal and after the next
// writer applied it: all must agree with what the readers found.
// `recoveries` counts the files that needed recovery.
QStringList judge(const QString& file, const QList<SourceTable>& tables, const std::map<QString, Seen>& seen,
                  bool complete, bool withReaders, int* recoveries = nullptr)
{
    QStringList problems;
    if (!QFile::exists(file)) {
        for (const auto& [name, s] : seen)
            if (s.created)
                problems << "no file, but the log showed " + name + " created";
        return problems;
    }
    ReadersView found;
    if (withReaders) {
        found = readersView(file, tables);
        problems << found.problems;
    }
    bool checkFailed = false, cutShort = false;
    if (auto c = passesCheck(file); !c) {
        checkFailed = true;
        const QString message = QString::fromStdString(c.message());
        cutShort = message.contains("needs recovery") && message.contains(": 1 problem found") && !complete;
        if (cutShort && recoveries)
            ++*recoveries;
        if (!cutShort)
            problems << message;
    }
    std::map<QString, std::vector<std::string>> view;
    try {
        view = engineView(file, tables, false);
        // What the next writer sees after putting back the journal that
        // check found (without one, a writer changes nothing).
        if (checkFailed && engineView(file, tables, true) != view)
            problems << "the rows read through the journal differ from those after it was applied";
    } catch (const std::exception& e) {
        return problems << QString("our engine cannot open the file: ") + e.what();
    }
    if (checkFailed) {
        if (auto c = passesCheck(file); !c)
            problems << "after the journal was applied: " + QString::fromStdString(c.message());
    }
    // The readers see the last commit; after a commit cut short (hot journal)
    // they may see the one it was writing, if its writes were done, where
    // our programs put the last one back: a commit point, never fewer rows.
    auto judgeReaders = [&](const SourceTable& t, const std::vector<std::string>* ids) {
        const long n = ids ? long(ids->size()) : -1;
        for (const auto& [reader, rows] : {std::pair{"mdb-export", &found.mdbtools}, {"mdb-reader", &found.mdbReader}}) {
            if (reader == std::string("mdb-export") ? !readers::mdbtoolsAvailable() : !readers::mdbReaderAvailable())
                continue;
            const auto r = rows->find(t.name);
            if (r == rows->end()) {
                if (ids)
                    problems << t.name + ": " + reader + " does not find the table";
                continue;
            }
            const long m = long(r->second.size());
            if (!ids && !cutShort)
                problems << t.name + ": " + reader + " finds a table the last commit does not have";
            else if (!cutShort ? r->second != *ids
                          : r->second != idsUpTo(m) || !isCommitPoint(m, t) || m < n)
                problems << t.name + ": " + reader + " reads " + QString::number(m) + " rows, not " +
                                QString::number(n) + (cutShort ? " or a later commit" : "");
        }
    };
    for (const SourceTable& t : tables) {
        const auto it = seen.find(t.name);
        const Seen s = it == seen.end() ? Seen{} : it->second;
        const auto v = view.find(t.name);
        if (v == view.end()) {
            if (s.created || complete)
                problems << t.name + " is missing";
            if (withReaders)
                judgeReaders(t, nullptr);
            continue;
        }
        const std::vector<std::string>& ids = v->second;
        const long n = long(ids.size());
        if (ids != idsUpTo(n))
            problems << t.name + ": the rows are not the source's first " + QString::number(n);
        if (complete ? n != t.rows : !isCommitPoint(n, t))
            problems << t.name + ": " + QString::number(n) + " rows is not a commit point";
        if (n < s.lastCommit)
            problems << t.name + ": " + QString::number(n) + " rows, but the log showed a commit at " +
                            QString::number(s.lastCommit);
        if (withReaders)
            judgeReaders(t, &ids);
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
            "from seq_1_to_20017");
    db.exec("create table k_second (id int, v double, d datetime)");
    db.exec("insert into k_second select seq, seq / 7, '2026-12-08 22:00:00' + interval seq second "
            "from seq_1_to_8011");
    // Long rows: a text of 5,600 characters each, 1,200 rows (6.7 MB,
    // beyond the quarter of the page cache that makes the converter commit
    // sooner than every 5000 rows).
    db.exec("create table k_long (id int primary key, t mediumtext)");
    db.exec("insert into k_long select seq, repeat(lpad(seq, 8, '0'), 700) from seq_1_to_1200");
    const QList<SourceTable> tables{{"k_main", 20017}, {"k_long", 1200, true}, {"k_second", 8011}};

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
    // The shortest whole run seen so far (the first one warms the server's
    // caches): kills are drawn within it, so that most land mid-run.
    qint64 fullMs = std::max<qint64>(timer.elapsed(), 200);
    ASSERT_EQ(whole.code, 0) << whole.err.toStdString();
    {
        const QStringList problems = judge(reference, tables, readLog(whole.out, tables), true, true);
        ASSERT_TRUE(problems.isEmpty()) << problems.join('\n').toStdString();
    }
    std::printf("kill test: a whole conversion takes %lld ms\n", (long long)fullMs);

    int killedMidway = 0, recoveries = 0;
    for (int round = 0; round < rounds; ++round) {
        const QString file = dir.filePath(QString("k%1.mdb").arg(round));
        QProcess p;
        p.start(convertProgram(), argsFor(file, round));
        ASSERT_TRUE(p.waitForStarted());
        const int delay = int(std::uniform_int_distribution<qint64>(0, fullMs)(rng));
        const bool finished = p.waitForFinished(delay);
        if (!finished) {
            ::kill(pid_t(p.processId()), SIGKILL);
            p.waitForFinished(30000);
            ++killedMidway;
        }
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const auto seen = readLog(out, tables);
        const QStringList problems = judge(file, tables, seen, false, true, &recoveries);
        EXPECT_TRUE(problems.isEmpty()) << "round " << round << " (killed after " << delay << " ms):\n"
                                        << problems.join('\n').toStdString() << "\nlog:\n"
                                        << out.right(600).toStdString();

        // The same job again, over what the kill left.
        timer.restart();
        const ProgramOutcome again = runProgram(convertProgram(), argsFor(file, round));
        fullMs = std::clamp<qint64>(timer.elapsed(), 200, fullMs);
        EXPECT_EQ(again.code, 0) << "round " << round << ": " << again.err.toStdString();
        const QStringList after = judge(file, tables, readLog(again.out, tables), true, round == rounds - 1);
        EXPECT_TRUE(after.isEmpty()) << "round " << round << " rerun:\n" << after.join('\n').toStdString();
        QFile::remove(file);
        if (::testing::Test::HasFailure())
            break;
    }
    std::printf("kill test: %d of %d runs killed before they ended; %d files left a commit cut short (needs "
                "recovery)\n",
                killedMidway, rounds, recoveries);
}
