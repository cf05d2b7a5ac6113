#include "cli.h"

#include "jet/checker.h"
#include "jet/error.h"
#include "tsv.h"

#include <exception>
#include <ostream>

namespace mdbtool {

const char* usageText()
{
    return "usage: ferrowane-mdb COMMAND ...\n"
           "  create FILE --format 97|2000   make a new empty database (Access 97 or 2000)\n"
           "  exec FILE STATEMENT            run one statement\n"
           "  import FILE TABLE [TSV]        append the rows of a TSV file (standard input when none)\n"
           "  tables FILE                    list the user tables\n"
           "  dump FILE TABLE                write the table's rows as TSV\n"
           "  check FILE                     verify the file's structure\n"
           "TSV: one row per line, fields in table order separated by tabs, no header;\n"
           "\\N is NULL; \\t \\n \\r \\\\ escape text; bytes in hex; dates yyyy-MM-dd HH:mm:ss;\n"
           "yes/no 1 or 0; GUIDs {...}; numbers in plain decimal.\n";
}

Command parseCommand(const std::vector<std::string>& args)
{
    if (args.empty())
        throw UsageError{"no command given"};
    const std::string& name = args[0];
    if (name == "-h" || name == "--help" || name == "help")
        return Command{};

    // Options may stand anywhere after the command; "--" ends them.
    std::vector<std::string> positional;
    std::optional<std::string> format;
    bool optionsDone = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsDone && a == "--") {
            optionsDone = true;
        } else if (!optionsDone && (a == "--format" || a.rfind("--format=", 0) == 0)) {
            if (name != "create")
                throw UsageError{"--format belongs to create only"};
            if (format)
                throw UsageError{"--format given twice"};
            if (a == "--format") {
                if (i + 1 == args.size())
                    throw UsageError{"--format needs 97 or 2000"};
                format = args[++i];
            } else {
                format = a.substr(9);
            }
        } else if (!optionsDone && a.size() > 1 && a[0] == '-' && a != "-") {
            throw UsageError{"unknown option " + a};
        } else {
            positional.push_back(a);
        }
    }

    auto expect = [&](size_t min, size_t max, const char* shape) {
        if (positional.size() < min || positional.size() > max)
            throw UsageError{std::string("usage: ferrowane-mdb ") + shape};
    };
    Command c;
    if (name == "create") {
        expect(1, 1, "create FILE --format 97|2000");
        if (!format)
            throw UsageError{"create needs --format 97 or --format 2000"};
        if (*format == "97")
            c.format = 97;
        else if (*format == "2000")
            c.format = 2000;
        else
            throw UsageError{"--format is 97 or 2000, not \"" + *format + "\""};
        c.kind = Command::Kind::Create;
    } else if (name == "exec") {
        expect(2, 2, "exec FILE STATEMENT");
        c.kind = Command::Kind::Exec;
        c.statement = positional[1];
    } else if (name == "import") {
        expect(2, 3, "import FILE TABLE [TSV]");
        c.kind = Command::Kind::Import;
        c.table = positional[1];
        if (positional.size() == 3 && positional[2] != "-")
            c.tsvPath = positional[2];
    } else if (name == "tables") {
        expect(1, 1, "tables FILE");
        c.kind = Command::Kind::Tables;
    } else if (name == "dump") {
        expect(2, 2, "dump FILE TABLE");
        c.kind = Command::Kind::Dump;
        c.table = positional[1];
    } else if (name == "check") {
        expect(1, 1, "check FILE");
        c.kind = Command::Kind::Check;
    } else {
        throw UsageError{"unknown command \"" + name + "\""};
    }
    c.file = positional[0];
    return c;
}

namespace {

int runCheck(const Command& c, std::ostream& out, std::ostream& err)
{
    jet::CheckReport report = jet::checkDatabase(c.file);
    for (const auto& problem : report.problems)
        err << c.file << ": " << problem << "\n";
    if (!report.ok()) {
        err << "ferrowane-mdb: " << c.file << ": " << report.problems.size() << " problem"
            << (report.problems.size() == 1 ? "" : "s") << " found\n";
        return kExitFailure;
    }
    out << c.file << ": ok (" << report.pages << " pages, " << report.tables << " tables, " << report.rows
        << " rows)\n";
    return kExitOk;
}

int runTables(const Command& c, std::ostream& out)
{
    for (const auto& t : jet::catalogTables(c.file))
        if (!t.system)
            out << t.name << "\n";
    return kExitOk;
}

}  // namespace

int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err)
{
    (void)in;
    Command c;
    try {
        c = parseCommand(args);
    } catch (const UsageError& e) {
        err << "ferrowane-mdb: " << e.message << "\n" << usageText();
        return kExitUsage;
    }
    try {
        switch (c.kind) {
        case Command::Kind::Help:
            out << usageText();
            return kExitOk;
        case Command::Kind::Check:
            return runCheck(c, out, err);
        case Command::Kind::Tables:
            return runTables(c, out);
        case Command::Kind::Create:
        case Command::Kind::Exec:
        case Command::Kind::Import:
        case Command::Kind::Dump:
            err << "ferrowane-mdb: " << args[0] << " is not available in this build yet\n";
            return kExitFailure;
        }
    } catch (const jet::Error& e) {
        err << "ferrowane-mdb: " << e.what() << "\n";
    } catch (const TsvError& e) {
        err << "ferrowane-mdb: " << e.what() << "\n";
    } catch (const std::exception& e) {
        err << "ferrowane-mdb: " << e.what() << "\n";
    }
    return kExitFailure;
}

}  // namespace mdbtool
