// The wizard's side of an unattended run: at start-up the job file named on
// the command line is loaded and applied to the pages; after every Next the
// cascade presses the next Next and selects the job's tables, so that one
// chain of clicks walks from the first step to the end of the run.
#pragma once

#include <QString>

namespace ferrowane {

class WizardWindow;

// What the window does with the job it was started with.
struct JobStart {
    enum Outcome {
        Armed,         // applied: start the timer that presses Next
        BadValue,      // applying stopped: show `message`; no run
        EndProgram,    // the job could not be read; the log is written: close the window
        LogUnwritable  // neither could the log be written: show `message`; no run
    } outcome = Armed;
    QString message;
};

// Loads the job named by the window's first argument into its job lines and
// applies it to the pages. The "Start time:" line must be in the window's log already.
JobStart startJob(WizardWindow& window);

// The end of every Next in an unattended run: on steps 1, 2 and 4 Next again;
// on step 5 the job's tables are selected (all of them, or each "tables"
// entry that names an available table exactly; the others are logged) and
// Next starts the run. A selection without a table ends the run with status 1.
void continueUnattendedRun(WizardWindow& window);

}  // namespace ferrowane
