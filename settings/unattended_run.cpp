#include "settings/unattended_run.h"

#include "engine/conversion_job.h"
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

// What the window's page for the second server holds, which jobs may set.
struct HeadlessState {
    ConversionSettings settings;
    QString oracleh, oracleu, oraclep;
    StoredSettings stored;
    bool applied = false;
};

// The log file beside the job; when it cannot be written, the error goes to standard error.
bool saveLog(const ConversionJob& job, const QString& jobPath)
{
    const QString error = job.saveLog(jobPath);
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
    ConversionJob job(echo);
    HeadlessState state;
    state.stored = LoadSettings();
    job.writeStartLine();

    // Where the window would show a message and wait: the message ends the log.
    auto stop = [&](const QString& message, int status) {
        job.log().appendLine(message);
        saveLog(job, jobPath);
        storeSettings(state);
        return status;
    };

    QString error;
    const std::optional<JobFile> jobFile = JobFile::read(jobPath, &error);
    if (!jobFile) {
        // Nothing was applied, so the store keeps what it had.
        return stop(error, JobNotStarted);
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
    const QString bad = ApplyJobSettings(*jobFile, sink);
    // A job that stopped at a bad value has changed the fields before it.
    state.applied = true;
    state.oracleh = sink.oracleh.isNull() ? state.oracleh : sink.oracleh;
    state.oracleu = sink.oracleu.isNull() ? state.oracleu : sink.oracleu;
    state.oraclep = sink.oraclep.isNull() ? state.oraclep : sink.oraclep;
    if (!bad.isEmpty())
        return stop(bad, JobNotStarted);

    QStringList tables;
    try {
        // The connection page: log in and find the job's database in the server's list.
        const DatabaseList databases = job.logIn(state.settings, state.settings.mysqldatabase);
        const QString chosen = databases.selectedIndex >= 0 ? databases.names[databases.selectedIndex] : QString();
        // The settings page: a target file is needed before the database is opened.
        if (trimBlanks(state.settings.accessfilename).isEmpty())
            return stop(QStringLiteral("Please input Access database name"), JobNotStarted);
        QStringList available =
            job.openDatabase(state.settings, chosen, characterSetPosition(state.settings.character_set));
        // The table page: every table, or those the job names exactly, each once.
        if (jobFile->allTables()) {
            tables = available;
        } else {
            for (const QString& name : jobFile->tableEntries()) {
                const qsizetype at = available.indexOf(name);
                if (at >= 0)
                    tables.append(available.takeAt(at));
            }
        }
    } catch (const std::exception& e) {
        return stop(messageOf(e), JobNotStarted);
    }

    bool logSaved = false;
    job.beforeFinishLine = [&] {
        job.writeEndLine();
        logSaved = saveLog(job, jobPath);
    };
    RunResult result;
    try {
        result = job.run(state.settings, tables);
    } catch (const std::exception&) {
        // Also a target file that cannot be made: the run had begun.
        return stop(job.failure(), JobTableFailed);
    }
    if (result.stopped)
        return stop(QStringLiteral("Operation aborted"), JobTableFailed);
    storeSettings(state);
    if (!logSaved)
        return JobTableFailed;
    return job.exitStatus();
}

}  // namespace ferrowane
