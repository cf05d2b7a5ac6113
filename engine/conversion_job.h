// One conversion job as every front end runs it (the window step by step, the
// unattended run of a job file, ferrowane-convert): log in and list the
// server's databases, open the chosen database and list its tables, run the
// chosen tables, and for a job file the start and end lines and the log file
// beside it. The job owns the connections its steps share, keeps every line
// written through it, and knows how far it got, which gives the exit status.
#pragma once

#include "engine/conversion_run.h"
#include "engine/conversion_settings.h"
#include "engine/mysql_source.h"
#include "engine/progress_log.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace ferrowane {

class AccessConnection;
class AccessDataset;

// How far a job got.
enum class JobOutcome {
    NotStarted,    // refused before the run: login, database, tables, options
    TargetFailed,  // the run could not make or open the target file; no table was touched
    Ended,         // an error ended the run after it began on the tables
    Stopped,       // a Stop ended the run
    TableFailed,   // the run went through, but a table failed or a key could not be made
    Changed,       // every table and key made, but values were not stored as they were
    Converted,     // every table converted, every value as it was
};

// The exit statuses of the command line and of unattended runs.
enum ExitStatus {
    ExitConverted = 0,      // every table, key and value went across
    ExitFailed = 1,         // a table failed, a key was not made, a Stop or an error ended the run
    ExitNotStarted = 2,     // the conversion could not start
    ExitValuesChanged = 3,  // every table and key made, but values changed (the "Column" lines)
};
// The help text's account of them.
QString exitStatusHelp();

// A path with its extension (from the last dot of the file name on) replaced
// by `extension` (given with its dot); a path without one gets it added.
QString replaceExtension(const QString& path, const QString& extension);

class ConversionJob {
public:
    // Every line also goes to `frontEnd` (the window's memo, the console),
    // whose progress points and Stop requests are the run's. May be null.
    explicit ConversionJob(ProgressLog* frontEnd = nullptr);
    ~ConversionJob();
    ConversionJob(const ConversionJob&) = delete;
    ConversionJob& operator=(const ConversionJob&) = delete;

    // The per-user data folder: the user's data location followed by "Orvanel/".
    static QString dataFolder();
    // The date and time of "Start time:" and "The end time:": the user's short
    // date and long time; at exactly midnight the time is left out.
    static QString dateTimeText(const QDateTime& when = QDateTime::currentDateTime());
    // The log file of a job file: its path with ".log" in place of the extension.
    static QString logPath(const QString& jobPath);
    // Writes lines with CR LF after each, UTF-8 without a byte-order mark,
    // replacing the file only once all is written. Returns an error text,
    // empty on success.
    static QString saveLines(const QString& path, const QStringList& lines);

    // Connection page: logs in with the settings' login fields and the typed
    // database name, and lists the server's databases. Throws Error (Input
    // for a blank name, Source when the server refuses).
    DatabaseList logIn(const ConversionSettings& settings, const QString& typedDatabase);

    // Settings page: logs in again to the chosen database with the character
    // set at charsetPosition of characterSetNames() (0: none) and lists its
    // tables. Throws Error (Input when no database is chosen).
    QStringList openDatabase(const ConversionSettings& settings, const QString& database, int charsetPosition);

    // A login made on a connection of its own (the window connects on another
    // thread, so that it can be abandoned) becomes the job's source.
    void adoptSource(MySqlConnection& connected);

    // The tables of a job file: every listed table (allTables), or each name
    // of `named` that `listed` holds exactly (letter case counts), once, in
    // the job's order. Every named table that is not listed gets a log line
    // naming it and `database`, and makes the exit status at least 1.
    QStringList jobTables(bool allTables, const QStringList& named, const QStringList& listed,
                          const QString& database);
    // The log line of a job whose selection holds no table.
    static QString noTableLine(const QString& database);

    // Table page: converts `tables` in order into settings.accessfilename on
    // the database openDatabase opened. A Stop comes through the front end's
    // log. An error that ends the run is recorded (outcome, failure) and
    // thrown on.
    RunResult run(const ConversionSettings& settings, const QStringList& tables, const RunTexts& texts = RunTexts());
    // Runs after the completion captions and before the last one (see ConversionRun).
    std::function<void()> beforeFinishLine;

    // Commits what the target file holds pending and closes it. Throws Error.
    void closeTarget();

    // The lines of a job file's run: "Start time:" and "The end time:" with the
    // date and time, and the log saved as logPath(jobPath). saveLog returns an
    // error text, empty on success.
    void writeStartLine();
    void writeEndLine();
    QString saveLog(const QString& jobPath) const;

    // The log the run writes to; every line also reaches the front end's.
    ProgressLog& log();
    // Every line written through the job so far.
    const QStringList& lines() const;

    JobOutcome outcome() const { return m_outcome; }
    // The message of the error that ended the run; empty when none did.
    QString failure() const { return m_failure; }
    // The command line's status, an ExitStatus; a job's table that the
    // database does not have makes it ExitFailed.
    int exitStatus() const;

    MySqlConnection& source();
    AccessConnection& target();
    AccessDataset& dataset();

private:
    struct State;
    std::unique_ptr<State> d;
    JobOutcome m_outcome = JobOutcome::NotStarted;
    QString m_failure;
    bool m_tableMissing = false;  // a job named a table the database does not list
};

}  // namespace ferrowane
