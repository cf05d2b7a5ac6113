#include "wizard/command_line.h"

#include "ferrowane_version.h"

#include <cstdio>
#include <cstring>

namespace ferrowane {

namespace {

constexpr const char* kUsage =
    "Usage: ferrowane [JOBFILE]\n"
    "The wizard that copies a MySQL database into an Access file (.mdb).\n"
    "\n"
    "With JOBFILE, a job file (.frwjob) saved by the wizard, the job runs unattended\n"
    "and its log is saved beside it (the job's name with .log). Without a display\n"
    "(no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM) it runs with no window; its\n"
    "exit status is then 0 every table, key and value converted; 1 a table failed,\n"
    "a key could not be made, or the run was stopped or ended by an error; 2 the\n"
    "job could not start; 3 every table and key made, but values were not stored\n"
    "as they were (the \"Column\" lines of the log). A run with a window ends\n"
    "with the same status.\n"
    "\n"
    "Options:\n"
    "  -h, --help     Displays help on commandline options.\n"
    "  -v, --version  Displays version information.\n"
    "\n"
    "Arguments:\n"
    "  JOBFILE        A job file to run unattended.\n";

}  // namespace

std::optional<int> answerWizardInfoOption(int argc, char** argv)
{
    if (argc != 2)
        return std::nullopt;
    const char* option = argv[1];
    if (std::strcmp(option, "-h") == 0 || std::strcmp(option, "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (std::strcmp(option, "-v") == 0 || std::strcmp(option, "--version") == 0) {
        std::fputs("ferrowane " FERROWANE_VERSION "\n", stdout);
        return 0;
    }
    return std::nullopt;
}

}  // namespace ferrowane
