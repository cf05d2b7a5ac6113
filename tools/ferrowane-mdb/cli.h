// ferrowane-mdb: the command line over the Access file engine, for users
// and for tests. Exit codes: 0 done, 1 failed (message on stderr), 2 usage.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace mdbtool {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Command {
    enum class Kind { Help, Version, Create, Exec, Import, Tables, Dump, Check } kind = Kind::Help;
    std::string file;
    std::string table;
    std::string statement;
    std::optional<std::string> tsvPath;  // import: standard input when absent
    int format = 0;                      // create: 97 or 2000
    bool schema = false;                 // tables: columns, indexes and relationships too
};

struct UsageError {
    std::string message;
};

// Parses the arguments after the program name; throws UsageError.
Command parseCommand(const std::vector<std::string>& args);

const char* usageText();

// Runs the tool as main() does, on the given streams.
int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace mdbtool
