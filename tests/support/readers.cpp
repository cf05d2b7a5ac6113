#include "readers.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#ifdef _WIN32
#include <io.h>
#ifndef R_OK
#define R_OK 4
#endif
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#ifndef FERROWANE_SOURCE_DIR
#define FERROWANE_SOURCE_DIR "."
#endif

namespace readers {

namespace {

#ifndef _WIN32
void setNonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}
#endif

std::string joinArgs(const std::vector<std::string>& argv)
{
    std::string s;
    for (const auto& a : argv) {
        if (!s.empty())
            s += ' ';
        s += a;
    }
    return s;
}

// Runs the program and insists on exit code 0.
std::string runChecked(const std::vector<std::string>& argv)
{
    ProcessResult r = runProcess(argv);
    if (r.exitCode != 0)
        throw ReaderError(joinArgs(argv) + " failed (exit " + std::to_string(r.exitCode) + "): " + r.err);
    return std::move(r.out);
}

bool onPath(const std::string& program)
{
#ifdef _WIN32
    // The readers are Linux programs, and under Wine a Linux program's exit
    // status does not come back: the Windows build of the tests runs none
    // (scripts/windows-build.sh reads its files with them on Linux).
    (void)program;
    return false;
#endif
    const char* path = std::getenv("PATH");
    std::string p = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= p.size()) {
        size_t end = p.find(':', start);
        if (end == std::string::npos)
            end = p.size();
        std::string dir = p.substr(start, end - start);
        if (dir.empty())
            dir = ".";
        if (access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string fromHex(const std::string& hex)
{
    if (hex.size() % 2)
        throw ReaderError("odd-length hex from mdb-export: " + hex);
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = hexDigit(hex[i]), lo = hexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0)
            throw ReaderError("bad hex from mdb-export: " + hex);
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

// Undoes mdb-export's -e escaping (\t \n \r \\); anything else stays.
std::string unescapeExport(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char c = s[i + 1];
            if (c == 't' || c == 'n' || c == 'r' || c == '\\') {
                out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : '\\';
                ++i;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

std::string sourceDir()
{
    if (const char* d = std::getenv("FERROWANE_SOURCE_DIR"))
        return d;
    return FERROWANE_SOURCE_DIR;
}

std::string readMdbScript()
{
    return sourceDir() + "/tests/node/read_mdb.mjs";
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input)
{
    if (argv.empty())
        throw ReaderError("runProcess: no program");
#ifdef _WIN32
    (void)input;
    throw ReaderError("runProcess: the Windows build of the tests runs no other program (" + argv[0] + ")");
#else
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) || pipe2(outPipe, O_CLOEXEC) || pipe2(errPipe, O_CLOEXEC))
        throw ReaderError(std::string("pipe: ") + std::strerror(errno));

    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0)
        throw ReaderError(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        execvp(args[0], args.data());
        std::string msg = std::string("cannot run ") + argv[0] + ": " + std::strerror(errno) + "\n";
        ssize_t ignored = write(2, msg.data(), msg.size());
        (void)ignored;
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    setNonBlocking(inPipe[1]);

    // A program that dies early must not kill us with SIGPIPE.
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &old);

    ProcessResult result;
    size_t written = 0;
    int inFd = inPipe[1];
    if (input.empty()) {
        close(inFd);
        inFd = -1;
    }
    int outFd = outPipe[0], errFd = errPipe[0];
    char buf[65536];
    while (outFd >= 0 || errFd >= 0 || inFd >= 0) {
        pollfd fds[3];
        int n = 0;
        if (inFd >= 0)
            fds[n++] = {inFd, POLLOUT, 0};
        if (outFd >= 0)
            fds[n++] = {outFd, POLLIN, 0};
        if (errFd >= 0)
            fds[n++] = {errFd, POLLIN, 0};
        if (poll(fds, n, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents)
                continue;
            int fd = fds[i].fd;
            if (fd == inFd) {
                ssize_t w = write(inFd, input.data() + written, input.size() - written);
                if (w > 0)
                    written += static_cast<size_t>(w);
                if (w < 0 && errno != EAGAIN && errno != EINTR)
                    written = input.size();  // the reader is gone
                if (written == input.size()) {
                    close(inFd);
                    inFd = -1;
                }
                continue;
            }
            ssize_t r = read(fd, buf, sizeof buf);
            if (r > 0) {
                (fd == outFd ? result.out : result.err).append(buf, static_cast<size_t>(r));
            } else if (r == 0 || (errno != EINTR && errno != EAGAIN)) {
                close(fd);
                (fd == outFd ? outFd : errFd) = -1;
            }
        }
    }
    if (inFd >= 0)
        close(inFd);
    sigaction(SIGPIPE, &old, nullptr);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
#endif
}

// ---- mdbtools ---------------------------------------------------------------

bool mdbtoolsAvailable()
{
    return onPath("mdb-export") && onPath("mdb-tables") && onPath("mdb-schema");
}

std::vector<std::string> mdbTables(const std::string& file, bool system)
{
    std::vector<std::string> argv{"mdb-tables", "-1"};
    if (system)
        argv.push_back("-S");
    argv.push_back(file);
    std::vector<std::string> names;
    for (auto& line : splitLines(runChecked(argv)))
        if (!line.empty())
            names.push_back(line);
    return names;
}

std::vector<SchemaIndex> mdbIndexes(const std::string& file, const std::string& table)
{
    // Lines such as: ALTER TABLE `t` ADD UNIQUE INDEX `n` (`a`, `b`);
    //                ALTER TABLE `t` ADD PRIMARY KEY (`a`);
    const std::string prefix = "ALTER TABLE `" + table + "` ADD ";
    std::vector<SchemaIndex> out;
    for (auto& line : splitLines(runChecked({"mdb-schema", "--indexes", "--no-relations", "-T", table, file,
                                             "mysql"}))) {
        if (line.rfind(prefix, 0) != 0)
            continue;
        std::string rest = line.substr(prefix.size());
        SchemaIndex index;
        if (rest.rfind("PRIMARY KEY ", 0) == 0) {
            index.primary = index.unique = true;
        } else {
            if (rest.rfind("UNIQUE ", 0) == 0) {
                index.unique = true;
                rest = rest.substr(7);
            }
            if (rest.rfind("INDEX `", 0) != 0)
                throw ReaderError("mdb-schema: cannot read " + line);
            const size_t end = rest.find('`', 7);
            if (end == std::string::npos)
                throw ReaderError("mdb-schema: cannot read " + line);
            index.name = rest.substr(7, end - 7);
        }
        const size_t open = rest.find('(');
        const size_t close = rest.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open)
            throw ReaderError("mdb-schema: cannot read " + line);
        const std::string list = rest.substr(open + 1, close - open - 1);
        for (size_t at = list.find('`'); at != std::string::npos; at = list.find('`', at)) {
            const size_t end = list.find('`', at + 1);
            if (end == std::string::npos)
                break;
            index.columns.push_back(list.substr(at + 1, end - at - 1));
            at = end + 1;
        }
        out.push_back(std::move(index));
    }
    return out;
}

std::vector<SchemaTable> mdbSchema(const std::string& file, const std::string& table)
{
    std::vector<std::string> argv{"mdb-schema", "--no-indexes", "--no-relations", "--not-null"};
    if (!table.empty()) {
        argv.push_back("-T");
        argv.push_back(table);
    }
    argv.push_back(file);
    argv.push_back("access");
    std::vector<SchemaTable> tables;
    SchemaTable* current = nullptr;
    for (auto& line : splitLines(runChecked(argv))) {
        static const std::string create = "CREATE TABLE [";
        if (line.rfind(create, 0) == 0) {
            size_t end = line.rfind(']');
            if (end == std::string::npos || end < create.size())
                throw ReaderError("mdb-schema: cannot read " + line);
            tables.push_back({line.substr(create.size(), end - create.size()), {}});
            current = &tables.back();
            continue;
        }
        if (!current)
            continue;
        if (line.rfind(");", 0) == 0) {
            current = nullptr;
            continue;
        }
        size_t open = line.find_first_not_of(" \t");
        if (open == std::string::npos || line[open] != '[')
            continue;
        size_t close = line.find(']', open);
        if (close == std::string::npos)
            throw ReaderError("mdb-schema: cannot read " + line);
        SchemaColumn col;
        col.name = line.substr(open + 1, close - open - 1);
        std::string type = line.substr(close + 1);
        while (!type.empty() && (type.back() == ' ' || type.back() == ',' || type.back() == '\r'))
            type.pop_back();
        size_t first = type.find_first_not_of(" \t");
        type = first == std::string::npos ? std::string() : type.substr(first);
        static const std::string notNull = " NOT NULL";
        if (type.size() >= notNull.size() && type.compare(type.size() - notNull.size(), notNull.size(), notNull) == 0) {
            col.notNull = true;
            type.resize(type.size() - notNull.size());
        }
        col.type = type;
        current->columns.push_back(std::move(col));
    }
    return tables;
}

ExportedTable mdbExport(const std::string& file, const std::string& table)
{
    ExportedTable result;
    auto schema = mdbSchema(file, table);
    for (auto& t : schema)
        if (t.name == table)
            result.columns = t.columns;

    // -Q -e: no quotes, and tabs, line ends and backslashes inside text come
    // escaped, so a raw tab ends a field and a raw new line ends a row. The
    // date format applies to every date column (mdbtools ignores -D then).
    const char* dateFormat = "%Y-%m-%d %H:%M:%S";
    std::string out = runChecked({"mdb-export", "-H", "-Q", "-e", "-d", "\\t", "-R", "\\n", "-0", "\\N", "-b",
                                  "hex", "-D", dateFormat, "-T", dateFormat, file, table});
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos)
            end = out.size();
        std::string line = out.substr(start, end - start);
        start = end + 1;
        Row row;
        size_t fieldStart = 0;
        for (;;) {
            size_t tab = line.find('\t', fieldStart);
            std::string field = line.substr(fieldStart, tab == std::string::npos ? std::string::npos : tab - fieldStart);
            size_t col = row.size();
            if (field == "\\N") {
                row.push_back(std::nullopt);
            } else if (col < result.columns.size() && result.columns[col].type == "Replication ID") {
                // mdbtools prints the GUID's text, and -b hex turns that text
                // into hex. mdbtools 1.0 drops the hyphen before the last
                // group; put it back so that every reader words GUIDs alike.
                std::string guid = fromHex(field);
                if (guid.size() == 37 && guid[0] == '{' && guid[24] != '-')
                    guid.insert(24, "-");
                row.push_back(guid);
            } else {
                row.push_back(unescapeExport(field));
            }
            if (tab == std::string::npos)
                break;
            fieldStart = tab + 1;
        }
        if (!result.columns.empty() && row.size() != result.columns.size())
            throw ReaderError("mdb-export " + table + ": a row of " + std::to_string(row.size()) + " fields, expected " +
                              std::to_string(result.columns.size()) + ": " + line);
        result.rows.push_back(std::move(row));
    }
    return result;
}

// ---- mdb-reader -------------------------------------------------------------

bool mdbReaderAvailable()
{
    return onPath("node") && access(readMdbScript().c_str(), R_OK) == 0 &&
           access((sourceDir() + "/tests/node/node_modules/mdb-reader/package.json").c_str(), R_OK) == 0;
}

const ReaderTable* ReaderResult::find(const std::string& name) const
{
    for (const auto& t : data)
        if (t.name == name)
            return &t;
    return nullptr;
}

namespace {

const Json& member(const Json& object, const std::string& key)
{
    const Json* j = object.get(key);
    if (!j)
        throw ReaderError("read_mdb.mjs: no \"" + key + "\" in its output");
    return *j;
}

bool flag(const Json& object, const std::string& key)
{
    const Json* j = object.get(key);
    return j && j->kind == Json::Kind::Bool && j->boolean;
}

long number(const Json& j)
{
    if (j.kind != Json::Kind::Number)
        throw ReaderError("read_mdb.mjs: a number expected");
    return std::strtol(j.text.c_str(), nullptr, 10);
}

}  // namespace

ReaderResult mdbReader(const std::string& file, const std::vector<std::string>& tables, bool system, bool withRows)
{
    std::vector<std::string> argv{"node", readMdbScript()};
    if (system)
        argv.push_back("--system");
    if (!withRows)
        argv.push_back("--no-rows");
    argv.push_back(file);
    argv.insert(argv.end(), tables.begin(), tables.end());
    Json root = Json::parse(runChecked(argv));

    ReaderResult result;
    for (const auto& name : member(root, "tables").items)
        result.tables.push_back(name.text);
    for (const auto& t : member(root, "data").items) {
        ReaderTable table;
        table.name = member(t, "name").text;
        table.rowCount = number(member(t, "rowCount"));
        for (const auto& c : member(t, "columns").items) {
            ReaderColumn col;
            col.name = member(c, "name").text;
            col.type = member(c, "type").text;
            col.size = number(member(c, "size"));
            col.fixedLength = flag(c, "fixedLength");
            col.nullable = flag(c, "nullable");
            col.autoLong = flag(c, "autoLong");
            col.autoUUID = flag(c, "autoUUID");
            if (const Json* p = c.get("precision"))
                col.precision = static_cast<int>(number(*p));
            if (const Json* s = c.get("scale"))
                col.scale = static_cast<int>(number(*s));
            table.columns.push_back(std::move(col));
        }
        if (const Json* rows = t.get("rows")) {
            for (const auto& r : rows->items) {
                Row row;
                for (const auto& v : r.items) {
                    if (v.kind == Json::Kind::Null)
                        row.push_back(std::nullopt);
                    else
                        row.push_back(v.text);
                }
                table.rows.push_back(std::move(row));
            }
        }
        result.data.push_back(std::move(table));
    }
    return result;
}

std::string isoToTsvDate(const std::string& iso)
{
    // yyyy-MM-ddTHH:mm:ss.000Z
    if (iso.size() != 24 || iso[10] != 'T' || iso.compare(19, 5, ".000Z") != 0)
        return iso;
    return iso.substr(0, 10) + " " + iso.substr(11, 8);
}

// ---- JSON ---------------------------------------------------------------------

const Json* Json::get(const std::string& key) const
{
    for (const auto& [k, v] : members)
        if (k == key)
            return &v;
    return nullptr;
}

namespace {

class JsonParser {
public:
    explicit JsonParser(const std::string& s) : s_(s) {}

    Json document()
    {
        Json j = value(0);
        skipSpace();
        if (pos_ != s_.size())
            fail("trailing characters");
        return j;
    }

private:
    [[noreturn]] void fail(const std::string& what)
    {
        throw ReaderError("JSON: " + what + " at offset " + std::to_string(pos_));
    }

    void skipSpace()
    {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t'))
            ++pos_;
    }

    bool take(char c)
    {
        skipSpace();
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    void expect(char c)
    {
        if (!take(c))
            fail(std::string("'") + c + "' expected");
    }

    bool word(const char* w)
    {
        size_t n = std::strlen(w);
        if (s_.compare(pos_, n, w) == 0) {
            pos_ += n;
            return true;
        }
        return false;
    }

    Json value(int depth)
    {
        if (depth > 64)
            fail("nesting too deep");
        skipSpace();
        if (pos_ >= s_.size())
            fail("unexpected end");
        Json j;
        char c = s_[pos_];
        if (c == '{') {
            ++pos_;
            j.kind = Json::Kind::Object;
            if (take('}'))
                return j;
            do {
                skipSpace();
                if (pos_ >= s_.size() || s_[pos_] != '"')
                    fail("member name expected");
                std::string key = string();
                expect(':');
                j.members.emplace_back(std::move(key), value(depth + 1));
            } while (take(','));
            expect('}');
        } else if (c == '[') {
            ++pos_;
            j.kind = Json::Kind::Array;
            if (take(']'))
                return j;
            do
                j.items.push_back(value(depth + 1));
            while (take(','));
            expect(']');
        } else if (c == '"') {
            j.kind = Json::Kind::String;
            j.text = string();
        } else if (word("null")) {
            j.kind = Json::Kind::Null;
        } else if (word("true")) {
            j.kind = Json::Kind::Bool;
            j.boolean = true;
        } else if (word("false")) {
            j.kind = Json::Kind::Bool;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            size_t start = pos_;
            while (pos_ < s_.size() && std::strchr("+-0123456789.eE", s_[pos_]))
                ++pos_;
            j.kind = Json::Kind::Number;
            j.text = s_.substr(start, pos_ - start);
        } else {
            fail("value expected");
        }
        return j;
    }

    unsigned hex4()
    {
        if (pos_ + 4 > s_.size())
            fail("short \\u escape");
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            int d = hexDigit(s_[pos_++]);
            if (d < 0)
                fail("bad \\u escape");
            v = v * 16 + static_cast<unsigned>(d);
        }
        return v;
    }

    static void appendUtf8(std::string& out, unsigned cp)
    {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    std::string string()
    {
        ++pos_;  // the opening quote
        std::string out;
        for (;;) {
            if (pos_ >= s_.size())
                fail("unterminated string");
            char c = s_[pos_++];
            if (c == '"')
                return out;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size())
                fail("unterminated escape");
            char e = s_[pos_++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned cp = hex4();
                if (cp >= 0xD800 && cp < 0xDC00 && s_.compare(pos_, 2, "\\u") == 0) {
                    size_t save = pos_;
                    pos_ += 2;
                    unsigned low = hex4();
                    if (low >= 0xDC00 && low < 0xE000)
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    else
                        pos_ = save;
                }
                // A lone surrogate (JavaScript allows them) is kept as its
                // three-byte form, so that it still shows up in a comparison.
                appendUtf8(out, cp);
                break;
            }
            default: fail("bad escape");
            }
        }
    }

    const std::string& s_;
    size_t pos_ = 0;
};

}  // namespace

Json Json::parse(const std::string& text)
{
    return JsonParser(text).document();
}

}  // namespace readers
