// The wizard's own options, --help and --version: answered on standard output
// before any window or job, so that they work without a display too.
#pragma once

#include <optional>

namespace ferrowane {

// When the only argument is -h/--help or -v/--version, prints the answer and
// returns the exit status; otherwise returns nothing and the program goes on.
std::optional<int> answerWizardInfoOption(int argc, char** argv);

}  // namespace ferrowane
