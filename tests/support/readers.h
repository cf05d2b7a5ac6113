// The independent readers that judge the files we write: mdbtools
// (mdb-tables, mdb-schema, mdb-export) and the npm package mdb-reader (through
// tests/node/read_mdb.mjs). Plain C++ without Qt or GoogleTest so that every
// test program can use it. Failures throw ReaderError with the reader's own
// message.
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace readers {

struct ReaderError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Runs a program (no shell) with the given standard input; collects both
// output streams. exitCode is the exit status, or 128 + signal number.
struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input = {});

using Value = std::optional<std::string>;  // nullopt is NULL
using Row = std::vector<Value>;

// ---- mdbtools ---------------------------------------------------------------

bool mdbtoolsAvailable();

// `mdb-tables -1`: the user tables (with system = true also the MSys ones).
std::vector<std::string> mdbTables(const std::string& file, bool system = false);

struct SchemaColumn {
    std::string name;
    std::string type;  // as mdb-schema words it: "Text (50)", "Long Integer", "Memo/Hyperlink", ...
    bool notNull = false;
};
struct SchemaTable {
    std::string name;
    std::vector<SchemaColumn> columns;
};
// `mdb-schema FILE`, the CREATE TABLE statements parsed (user tables only,
// or the one table named).
std::vector<SchemaTable> mdbSchema(const std::string& file, const std::string& table = {});

struct SchemaIndex {
    std::string name;  // empty for a primary key (mdb-schema names none)
    bool primary = false;
    bool unique = false;
    std::vector<std::string> columns;
};
// The indexes of one table as `mdb-schema --indexes FILE mysql` lists them.
std::vector<SchemaIndex> mdbIndexes(const std::string& file, const std::string& table);

// `mdb-export` with settings that make the output exact to parse: tabs and
// new lines inside text come escaped, NULL as \N, binary as hex. The values:
//   text, memo   the text (UTF-8); mdbtools reads an empty text as NULL
//   binary, OLE  upper-case hex
//   GUID         "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (the hyphen that
//                mdbtools 1.0 leaves out is put back)
//   date         "yyyy-MM-dd HH:mm:ss" (whole seconds, rounded)
//   yes/no       "1" / "0"
//   numbers      as mdbtools prints them (doubles with 16 significant digits)
struct ExportedTable {
    std::vector<SchemaColumn> columns;
    std::vector<Row> rows;
};
ExportedTable mdbExport(const std::string& file, const std::string& table);

// ---- mdb-reader -------------------------------------------------------------

bool mdbReaderAvailable();

struct ReaderColumn {
    std::string name;
    std::string type;  // "text", "long", "boolean", "datetime", "ole", "memo", "repid", "numeric", ...
    long size = 0;
    bool fixedLength = false;
    bool nullable = false;
    bool autoLong = false;
    bool autoUUID = false;
    std::optional<int> precision;
    std::optional<int> scale;
};
// Values: bytes upper-case hex, dates ISO "yyyy-MM-ddTHH:mm:ss.sssZ" (the
// stored wall-clock time), yes/no "1"/"0", numbers as the shortest text that
// reads back exactly, currency and decimal as exact text, GUID "{...}".
struct ReaderTable {
    std::string name;
    long rowCount = 0;  // the count in the table definition
    std::vector<ReaderColumn> columns;
    std::vector<Row> rows;  // the rows found on the data pages
};
struct ReaderResult {
    std::vector<std::string> tables;  // user tables (and system ones if asked)
    std::vector<ReaderTable> data;
    const ReaderTable* find(const std::string& name) const;
};
// Reads the named tables, or every listed table when none is named.
ReaderResult mdbReader(const std::string& file, const std::vector<std::string>& tables = {},
                       bool system = false, bool withRows = true);

// "1981-12-12T00:00:00.000Z" -> "1981-12-12 00:00:00" (milliseconds must be
// zero, else the text is returned unchanged so that a comparison fails).
std::string isoToTsvDate(const std::string& iso);

// ---- a small JSON reader ------------------------------------------------------

struct Json {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    bool boolean = false;
    std::string text;  // the number's text or the string
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    const Json* get(const std::string& key) const;
    static Json parse(const std::string& text);  // throws ReaderError
};

}  // namespace readers
