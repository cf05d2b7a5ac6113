#include "settings/unattended_run.h"

#include "engine/access_provider.h"
#include "engine/conversion_run.h"
#include "engine/mysql_source.h"
#include "settings/settings_store.h"

#include <QTextStream>

#include <cstdlib>

namespace ferrowane {

bool displayAvailable()
{
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    return true;
#else
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
#endif
}

namespace {

// The lines of the run in memory (they become the log file), each also
// handed to the caller's log when there is one.
class JobLog : public ProgressLog {
public:
    explicit JobLog(ProgressLog* echo) : m_echo(echo) {}

    void appendLine(const QString& line) override
    {
        m_lines.append(line);
        if (m_echo)
            m_echo->appendLine(line);
    }
    void replaceLastLine(const QString& line) override
    {
        if (m_lines.isEmpty())
            m_lines.append(line);
        else
            m_lines.last() = line;
        if (m_echo)
            m_echo->replaceLastLine(line);
    }
    QString lastLine() const override { return m_lines.isEmpty() ? QString() : m_lines.last(); }
    bool progressPoint(qint64 rowsWritten) override { return m_echo && m_echo->progressPoint(rowsWritten); }
    bool stopRequested() const override { return m_echo && m_echo->stopRequested(); }
    void clearStopRequest() override
    {
        if (m_echo)
            m_echo->clearStopRequest();
    }
    void rowTotal(const QString& table, qint64 total) override
    {
        if (m_echo)
            m_echo->rowTotal(table, total);
    }

    const QStringList& lines() const { return m_lines; }

private:
    ProgressLog* m_echo;
    QStringList m_lines;
};

// What the window's page for the second server holds, which jobs may set.
struct HeadlessState {
    ConversionSettings settings;
    QString oracleh, oracleu, oraclep;
    StoredSettings stored;
    bool applied = false;
};

bool saveLog(const QString& path, const QStringList& lines)
{
    const QString error = writeTextLines(path, lines);
    if (error.isEmpty())
        return true;
    QTextStream(stderr) << error << "\n";
    return false;
}

// The options go back to the store at every way out, as the window does when it closes.
void storeSettings(const HeadlessState& state)
{
    StoredSettings s = state.stored;
    if (state.applied) {
        const ConversionSettings& c = state.settings;
        s.accessmode = c.accessmode;
        s.mysqldatabase = c.mysqldatabase;
        s.mysqlu = c.mysqlu;
        s.mysqlp = c.mysqlp;
        s.host = c.host;
        s.port = c.port;
        s.characterSet = characterSetPosition(c.character_set);
        s.oracleh = state.oracleh;
        s.oracleu = state.oracleu;
        s.oraclep = state.oraclep;
        s.processtable = c.processtable;
        s.tabledefonly = c.tabledefonly;
        s.nameuppercase = c.nameuppercase;
        s.skipindex = c.skipindex;
        s.blobtotext = c.blobtotext;
        s.accessformat = c.accessformat;
    }
    SaveSettings(s, state.applied ? state.settings.accessfilename : QString());
}

}  // namespace

int runJobHeadless(const QString& jobPath, ProgressLog* echo)
{
    JobLog log(echo);
    const QString logPath = jobLogPath(jobPath);
    HeadlessState state;
    state.stored = LoadSettings();
    log.appendLine(QStringLiteral("Start time:") + jobDateTimeText());

    // Where the window would show a message and wait: the message ends the log.
    auto stop = [&](const QString& message, int status) {
        log.appendLine(message);
        saveLog(logPath, log.lines());
        storeSettings(state);
        return status;
    };

    QString error;
    const std::optional<JobFile> job = JobFile::read(jobPath, &error);
    if (!job) {
        // Nothing was applied, so the store keeps what it had.
        log.appendLine(error);
        saveLog(logPath, log.lines());
        storeSettings(state);
        return JobNotStarted;
    }

    // The job goes over the stored options, as it goes over the window's controls.
    {
        const StoredSettings& st = state.stored;
        ConversionSettings& c = state.settings;
        c.accessmode = st.accessmode;
        c.mysqldatabase = st.mysqldatabase;
        c.mysqlu = st.mysqlu;
        c.mysqlp = st.mysqlp;
        c.host = st.host;
        c.port = st.port;
        c.character_set = characterSetNames().value(st.characterSet);
        c.processtable = st.processtable;
        c.tabledefonly = st.tabledefonly;
        c.nameuppercase = st.nameuppercase;
        c.skipindex = st.skipindex;
        c.blobtotext = st.blobtotext;
        c.accessformat = st.accessformat;
    }
    SettingsRecordSink sink(state.settings);
    state.oracleh = state.stored.oracleh;
    state.oracleu = state.stored.oracleu;
    state.oraclep = state.stored.oraclep;
    const QString bad = ApplyJobSettings(*job, sink);
    // A job that stopped at a bad value has changed the fields before it.
    state.applied = true;
    state.oracleh = sink.oracleh.isNull() ? state.oracleh : sink.oracleh;
    state.oracleu = sink.oracleu.isNull() ? state.oracleu : sink.oracleu;
    state.oraclep = sink.oraclep.isNull() ? state.oraclep : sink.oraclep;
    if (!bad.isEmpty())
        return stop(bad, JobNotStarted);

    MySqlConnection source;
    AccessConnection target;
    AccessDataset dataset(target);
    QStringList tables;
    try {
        // The connection page: log in and find the job's database in the server's list.
        const DatabaseList databases = listDatabases(source, state.settings, state.settings.mysqldatabase);
        const QString chosen = databases.selectedIndex >= 0 ? databases.names[databases.selectedIndex] : QString();
        // The settings page: a target file is needed before the database is opened.
        if (trimBlanks(state.settings.accessfilename).isEmpty())
            return stop(QStringLiteral("Please input Access database name"), JobNotStarted);
        openDatabase(source, state.settings, chosen, characterSetPosition(state.settings.character_set));
        // The table page: every table, or those the job names exactly, each once.
        QStringList available = listTables(source);
        if (job->allTables()) {
            tables = available;
        } else {
            for (const QString& name : job->tableEntries()) {
                const qsizetype at = available.indexOf(name);
                if (at >= 0)
                    tables.append(available.takeAt(at));
            }
        }
    } catch (const SourceInputError& e) {
        return stop(e.message(), JobNotStarted);
    } catch (const MySqlError& e) {
        return stop(e.message(), JobNotStarted);
    } catch (const std::exception& e) {
        return stop(QString::fromUtf8(e.what()), JobNotStarted);
    }

    ConversionRun run(source, target, dataset, log);
    bool logSaved = false;
    run.beforeFinishLine = [&] {
        log.appendLine(QStringLiteral("The end time:") + jobDateTimeText());
        logSaved = saveLog(logPath, log.lines());
    };
    RunResult result;
    try {
        result = run.run(state.settings, tables);
    } catch (const AccessError& e) {
        return stop(e.message(), JobTableFailed);
    } catch (const MySqlError& e) {
        return stop(e.message(), JobTableFailed);
    } catch (const std::exception& e) {
        return stop(QString::fromUtf8(e.what()), JobTableFailed);
    }
    if (result.stopped)
        return stop(QStringLiteral("Operation aborted"), JobTableFailed);
    storeSettings(state);
    if (!logSaved)
        return JobTableFailed;
    return result.failedTables > 0 ? JobTableFailed : JobConverted;
}

}  // namespace ferrowane
