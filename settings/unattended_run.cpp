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

void addOffscreenFallback()
{
#if !defined(Q_OS_WIN) && !defined(Q_OS_MACOS)
    QByteArray platforms = qgetenv("QT_QPA_PLATFORM");
    if (platforms.isEmpty()) {
        // Qt's own choice, spelled out: a Wayland compositor, then X.
        if (!qgetenv("WAYLAND_DISPLAY").isEmpty())
            platforms = "wayland;";
        platforms += "xcb";
    }
    if (!platforms.split(';').contains("offscreen"))
        qputenv("QT_QPA_PLATFORM", platforms + ";offscreen");
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
        s.characterSetName = s.characterSet == -1 ? c.character_set : QString();
        s.oracleh = state.oracleh;
        s.oracleu = state.oracleu;
        s.oraclep = state.oraclep;
        s.processtable = c.processtable;
        s.tabledefonly = c.tabledefonly;
        s.nameuppercase = c.nameuppercase;
        s.skipindex = c.skipindex;
        s.blobtotext = c.blobtotext;
        s.timetotext = c.timetotext;
        s.autonumber = c.autonumber;
        s.required = c.required;
        s.defaults = c.defaults;
        s.descriptions = c.descriptions;
        s.relationships = c.relationships;
        s.accessformat = c.accessformat;
    }
    SaveSettings(s, state.applied ? state.settings.accessfilename : QString());
}

}  // namespace

int runJobHeadless(const QString& jobPath, ProgressLog* echo, StoredOptions storedOptions)
{
    ConversionJob job(echo);
    HeadlessState state;
    state.stored = LoadSettings();
    job.writeStartLine();
    auto storeSettings = [&](const HeadlessState& s) {
        if (storedOptions == StoredOptions::Update)
            ferrowane::storeSettings(s);
    };

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
        c.character_set = st.characterSet == -1 ? st.characterSetName : characterSetNames().value(st.characterSet);
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
        if (databases.selectedIndex < 0)
            return stop(unknownDatabaseMessage(state.settings.mysqldatabase), JobNotStarted);
        const QString chosen = databases.names[databases.selectedIndex];
        // The settings page: a target file is needed before the database is opened.
        if (trimBlanks(state.settings.accessfilename).isEmpty())
            return stop(QStringLiteral("Please input Access database name"), JobNotStarted);
        const QStringList available =
            job.openDatabase(state.settings, chosen, characterSetPosition(state.settings.character_set));
        // The table page: every table, or those the job names exactly, each once;
        // each named table that is missing is logged.
        tables = job.jobTables(jobFile->allTables(), jobFile->tableEntries(), available, chosen);
    } catch (const std::exception& e) {
        return stop(messageOf(e), JobNotStarted);
    }
    // A job that converts nothing has not succeeded.
    if (tables.isEmpty())
        return stop(ConversionJob::noTableLine(state.settings.mysqldatabase), JobTableFailed);

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
