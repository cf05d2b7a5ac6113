#include "cli.h"

#include "ferrowane_version.h"
#include "jet/checker.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/row_set.h"
#include "jet/statement.h"
#include "schema_listing.h"
#include "tsv.h"
#include "values.h"

#include <cctype>
#include <exception>
#include <filesystem>
#include <fstream>
#include <istream>
#include <ostream>

namespace mdbtool {

const char* usageText()
{
    return "usage: ferrowane-mdb COMMAND ...\n"
           "Reads and writes Access files (.mdb) with Ferrowane's own Jet engine.\n"
           "  create FILE --format 97|2000   make a new empty database (Access 97 or 2000)\n"
           "  exec FILE STATEMENT            run one statement\n"
           "  import FILE TABLE [TSV]        append the rows of a TSV file (standard input when none)\n"
           "  tables FILE [--schema]         list the user tables; with --schema each column's type,\n"
           "                                 size, AutoNumber, required, default and description,\n"
           "                                 each index and each relationship\n"
           "  dump FILE TABLE                write the table's rows as TSV\n"
           "  check FILE                     verify the file's structure\n"
           "TSV: one row per line, fields in table order separated by tabs, no header;\n"
           "\\N is NULL; \\t \\n \\r \\\\ escape text; bytes in hex; dates yyyy-MM-dd HH:mm:ss;\n"
           "yes/no 1 or 0; GUIDs {...}; numbers in plain decimal.\n"
           "  --help                         show this help\n"
           "  --version                      show the program's name and version\n"
           "Exit status: 0 done, 1 failed (message on standard error), 2 wrong usage.\n";
}

Command parseCommand(const std::vector<std::string>& args)
{
    if (args.empty())
        throw UsageError{"no command given"};
    const std::string& name = args[0];
    if (name == "-h" || name == "--help" || name == "help")
        return Command{};
    if (name == "--version")
        return Command{Command::Kind::Version};

    // Options may stand anywhere after the command; "--" ends them.
    std::vector<std::string> positional;
    std::optional<std::string> format;
    bool schema = false;
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
        } else if (!optionsDone && a == "--schema") {
            if (name != "tables")
                throw UsageError{"--schema belongs to tables only"};
            schema = true;
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
        expect(1, 1, "tables FILE [--schema]");
        c.kind = Command::Kind::Tables;
        c.schema = schema;
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
    auto db = jet::Database::open(c.file, false);
    if (c.schema) {
        printSchema(*db, out);
        return kExitOk;
    }
    for (const auto& name : db->tableNames())
        out << name << "\n";
    return kExitOk;
}

int runCreate(const Command& c, std::ostream& err)
{
    jet::Database::create(c.file, c.format == 2000 ? jet::Version::Jet4 : jet::Version::Jet3);
    (void)err;
    return kExitOk;
}

bool isQuery(const std::string& statement)
{
    size_t i = 0;
    while (i < statement.size() && std::isspace(static_cast<unsigned char>(statement[i])))
        ++i;
    std::string word;
    while (i < statement.size() && std::isalpha(static_cast<unsigned char>(statement[i])))
        word += char(std::tolower(static_cast<unsigned char>(statement[i++])));
    return word == "select";
}

int runExec(const Command& c, std::ostream& out)
{
    auto db = jet::Database::open(c.file, true);
    if (isQuery(c.statement)) {
        // The probes yield no rows; show the columns they found.
        auto rows = jet::openQuery(*db, c.statement);
        std::vector<TsvField> names;
        for (const auto& n : rows->columnNames())
            names.emplace_back(n);
        out << formatLine(names) << "\n";
        return kExitOk;
    }
    jet::execute(*db, c.statement);
    return kExitOk;
}

// The columns in table order (the order of "select *") and where each one
// sits in the engine's value vectors.
struct Layout {
    std::vector<const jet::ColumnDef*> columns;
    std::vector<size_t> slot;
};

Layout layoutOf(const jet::TableDef& def)
{
    Layout l;
    l.columns = def.columnsInOrder();
    for (const auto* c : l.columns)
        l.slot.push_back(size_t(c - def.columns.data()));
    return l;
}

int runImport(const Command& c, std::istream& stdinStream)
{
    std::ifstream file;
    std::istream* in = &stdinStream;
    if (c.tsvPath) {
        // The name is UTF-8 on every platform (on Windows too, see main.cpp).
        file.open(std::filesystem::path(std::u8string(c.tsvPath->begin(), c.tsvPath->end())), std::ios::binary);
        if (!file)
            throw jet::Error("Cannot open '" + *c.tsvPath + "'");
        in = &file;
    }
    auto db = jet::Database::open(c.file, true);
    jet::Table& table = db->table(c.table);
    const Layout layout = layoutOf(table.def());
    const size_t width = table.def().columns.size();

    // All rows or none: a bad line leaves the table as it was.
    db->begin();
    try {
        TsvReader reader(*in);
        std::vector<TsvField> fields;
        std::vector<jet::Value> values;
        while (reader.next(fields)) {
            const std::string where = "line " + std::to_string(reader.lineNumber());
            if (fields.size() != layout.columns.size())
                throw jet::Error(where + ": " + std::to_string(fields.size()) + " fields, but table '" +
                                 table.name() + "' has " + std::to_string(layout.columns.size()) + " columns");
            values.assign(width, jet::Value::null());
            for (size_t i = 0; i < fields.size(); ++i) {
                try {
                    values[layout.slot[i]] = fieldToValue(*layout.columns[i], fields[i]);
                } catch (const TsvError& e) {
                    throw jet::Error(where + ", column '" + layout.columns[i]->name + "': " + e.what());
                }
            }
            try {
                table.append(values);
            } catch (const jet::Error& e) {
                throw jet::Error(where + ": " + e.what());
            }
            // Keeps the page cache in bounds: an import larger than it
            // waits for its commit in the journal's tail.
            db->statementDone();
        }
        db->commit();
    } catch (...) {
        db->rollback();
        throw;
    }
    return kExitOk;
}

int runDump(const Command& c, std::ostream& out)
{
    auto db = jet::Database::open(c.file, false);
    jet::Table& table = db->table(c.table);
    const Layout layout = layoutOf(table.def());
    std::vector<TsvField> fields(layout.columns.size());
    std::string line;
    table.scan([&](const std::vector<jet::Value>& values, uint32_t) {
        for (size_t i = 0; i < layout.columns.size(); ++i)
            fields[i] = valueToField(*layout.columns[i], values[layout.slot[i]]);
        line = formatLine(fields);
        line += '\n';
        out.write(line.data(), std::streamsize(line.size()));
        return bool(out);
    });
    if (!out)
        throw jet::Error("cannot write the output");
    return kExitOk;
}

}  // namespace

int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err)
{
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
        case Command::Kind::Version:
            out << "ferrowane-mdb " FERROWANE_VERSION "\n";
            return kExitOk;
        case Command::Kind::Check:
            return runCheck(c, out, err);
        case Command::Kind::Tables:
            return runTables(c, out);
        case Command::Kind::Create:
            return runCreate(c, err);
        case Command::Kind::Exec:
            return runExec(c, out);
        case Command::Kind::Import:
            return runImport(c, in);
        case Command::Kind::Dump:
            return runDump(c, out);
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
