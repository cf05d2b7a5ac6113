// Running a job file without anyone at the screen. With a display the wizard
// walks its own pages (the window calls the pieces here); without one, or from
// the command line, runJobHeadless does the same walk with no window at all
// and writes every message it would have shown into the log file instead.
#pragma once

#include "engine/conversion_job.h"
#include "engine/progress_log.h"
#include "settings/job_file.h"

#include <QString>
#include <QStringList>

namespace ferrowane {

// Whether a window can be shown here: on Linux a display is named
// (DISPLAY or WAYLAND_DISPLAY) or a window platform was chosen explicitly
// (QT_QPA_PLATFORM, such as "offscreen"). Other systems always have one.
bool displayAvailable();

// For a job run with a window: lets the window platform fall back to
// "offscreen" when the display (or the platform chosen by QT_QPA_PLATFORM)
// cannot be opened, instead of the program aborting. Sets QT_QPA_PLATFORM
// to a list of platforms tried in order; call before the application object
// is made. No effect on Windows and macOS.
void addOffscreenFallback();

// Exit statuses of a run without a window.
enum JobExit {
    JobConverted = ExitConverted,          // every table, key and value converted
    JobTableFailed = ExitFailed,           // a table failed, a key was not made, a job's table was missing, the
                                           // job selects no table, or a Stop or an error ended the run
    JobNotStarted = ExitNotStarted,        // the job could not be read or applied, or a step before the run refused
    JobValuesChanged = ExitValuesChanged,  // every table and key made, but values changed
};


// Runs the job file as an unattended run does, without a window: start line,
// job load, settings applied over the stored ones, login, database, tables of
// the job, the run, end line, log file beside the job, settings stored. Where
// the window would show a message and wait, the message becomes the last line
// of the log file and the run ends. `echo` (optional) receives every line
// too, and its progress points and Stop requests are the run's.
// When the log file cannot be written either, that error goes to standard
// error. Returns a JobExit value.
// Whether the run stores its options as the window's: the wizard's own
// unattended run does; ferrowane-convert --job leaves them as they are.
enum class StoredOptions { Update, Leave };
int runJobHeadless(const QString& jobPath, ProgressLog* echo = nullptr,
                   StoredOptions storedOptions = StoredOptions::Update);

}  // namespace ferrowane
