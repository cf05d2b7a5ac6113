// The file that starts this program with a job: a shell link on Windows, an
// executable shell script elsewhere.
#pragma once

#include <QString>

namespace ferrowane {

// The text as one word of a POSIX shell: in single quotes, each single quote
// inside written as '\''. Blanks, double quotes and dollar signs stay literal.
QString shellQuote(const QString& text);

// The launcher script: starts the program in its own folder with the job
// file's full path as its only argument.
QString launcherScript(const QString& programPath, const QString& jobPath);

// A launcher named like its job file (".frwjob") or its log (".log") would be
// overwritten by them, or overwrite the job: the path it clashes with, empty
// when there is none.
QString launcherPathClash(const QString& launcherPath);

// Writes the launcher for a job at launcherPath, replacing any file there:
// on Windows a shell link (CreateShellLink with the job path in double
// quotes), elsewhere the launcher script, executable. Returns an error text,
// empty on success.
QString writeLauncher(const QString& programPath, const QString& jobPath, const QString& launcherPath);

#ifdef _WIN32
// A shell link with the program as target, the arguments as given and the
// program's folder as working folder. Failures inside the link object are not
// detected; only a failure to create it is.
void CreateShellLink(const QString& programPath, const QString& arguments, const QString& linkPath);
#endif

}  // namespace ferrowane
