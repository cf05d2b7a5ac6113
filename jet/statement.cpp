#include "jet/statement.h"

#include "jet/error.h"
#include "jet/index_ddl.h"
#include "jet/row_set.h"
#include "jet/text_codec.h"

#include <cctype>
#include <cstdlib>
#include <mutex>

namespace jet {

namespace {

bool keywordIs(const std::string& word, const char* kw)
{
    size_t i = 0;
    for (; kw[i]; ++i)
        if (i >= word.size() || std::tolower((unsigned char)word[i]) != kw[i])
            return false;
    return i == word.size();
}

std::vector<StatementHandler>& handlers()
{
    static std::vector<StatementHandler> h;
    return h;
}

std::mutex& handlersLock()
{
    static std::mutex m;
    return m;
}

std::string excerpt(const std::string& text, size_t offset)
{
    std::string s = text.substr(offset, 30);
    for (auto& c : s)
        if (c == '\r' || c == '\n')
            c = ' ';
    return s.empty() ? "end of statement" : "'" + s + "'";
}

} // namespace

Parser::Parser(const std::string& statement) : text_(statement)
{
    size_t i = 0;
    const size_t n = statement.size();
    while (true) {
        while (i < n && std::isspace((unsigned char)statement[i]))
            ++i;
        Token t;
        t.offset = i;
        if (i >= n) {
            t.kind = Token::Kind::End;
            tokens_.push_back(t);
            break;
        }
        char c = statement[i];
        if (c == '[') {
            size_t e = statement.find(']', i + 1);
            if (e == std::string::npos)
                throw Error("Syntax error at " + excerpt(statement, i) + ": a name lacks its closing bracket");
            t.kind = Token::Kind::Name;
            t.text = statement.substr(i + 1, e - i - 1);
            i = e + 1;
        } else if (c == '\'' || c == '"') {
            size_t e = statement.find(c, i + 1);
            if (e == std::string::npos)
                throw Error("Syntax error at " + excerpt(statement, i) + ": a text lacks its closing quote");
            t.kind = Token::Kind::String;
            t.text = statement.substr(i + 1, e - i - 1);
            i = e + 1;
        } else if (std::isdigit((unsigned char)c)) {
            size_t s = i;
            while (i < n && std::isdigit((unsigned char)statement[i]))
                ++i;
            t.kind = Token::Kind::Number;
            t.text = statement.substr(s, i - s);
        } else if (std::isalpha((unsigned char)c) || c == '_' || (unsigned char)c >= 0x80) {
            size_t s = i;
            while (i < n && (std::isalnum((unsigned char)statement[i]) || statement[i] == '_' ||
                             (unsigned char)statement[i] >= 0x80))
                ++i;
            t.kind = Token::Kind::Word;
            t.text = statement.substr(s, i - s);
        } else {
            t.kind = Token::Kind::Symbol;
            t.text = std::string(1, c);
            ++i;
        }
        tokens_.push_back(t);
    }
}

const Token& Parser::peek(size_t ahead) const
{
    size_t p = std::min(pos_ + ahead, tokens_.size() - 1);
    return tokens_[p];
}

Token Parser::next()
{
    Token t = peek();
    if (pos_ < tokens_.size() - 1)
        ++pos_;
    return t;
}

bool Parser::accept(const char* keyword)
{
    if (peek().kind == Token::Kind::Word && keywordIs(peek().text, keyword)) {
        next();
        return true;
    }
    return false;
}

void Parser::expect(const char* keyword)
{
    if (!accept(keyword))
        syntaxError();
}

bool Parser::acceptSymbol(char c)
{
    if (peek().kind == Token::Kind::Symbol && peek().text[0] == c) {
        next();
        return true;
    }
    return false;
}

void Parser::expectSymbol(char c)
{
    if (!acceptSymbol(c))
        syntaxError();
}

std::string Parser::name(const char* what)
{
    const Token& t = peek();
    if (t.kind != Token::Kind::Name && t.kind != Token::Kind::Word)
        throw Error(std::string("Syntax error at ") + excerpt(text_, t.offset) + ": a " + what + " name is expected");
    return next().text;
}

long Parser::number()
{
    if (peek().kind != Token::Kind::Number)
        syntaxError();
    Token t = next();
    if (t.text.size() > 9)
        return 999999999;
    return std::atol(t.text.c_str());
}

void Parser::expectEnd()
{
    acceptSymbol(';');
    if (!atEnd())
        syntaxError();
}

void Parser::syntaxError() const { syntaxError(peek()); }

void Parser::syntaxError(const Token& at) const
{
    throw Error("Syntax error at " + excerpt(text_, at.offset));
}

void registerStatement(StatementHandler handler)
{
    std::lock_guard<std::mutex> lock(handlersLock());
    handlers().push_back(std::move(handler));
}

namespace {

ColumnSpec parseColumn(Parser& p, const Format& f)
{
    ColumnSpec c;
    c.name = p.name("column");
    Token typeTok = p.peek();
    if (typeTok.kind != Token::Kind::Word)
        p.syntaxError();
    std::string w = p.next().text;
    auto is = [&](std::initializer_list<const char*> words) {
        for (const char* k : words)
            if (keywordIs(w, k))
                return true;
        return false;
    };
    auto sizeArg = [&](long def) -> long {
        if (!p.acceptSymbol('('))
            return def;
        long n = p.number();
        p.expectSymbol(')');
        return n;
    };
    if (is({"int", "integer", "long", "int4", "integer4"})) {
        c.type = ColumnType::Long;
    } else if (is({"short", "smallint", "int2", "integer2"})) {
        c.type = ColumnType::Integer;
    } else if (is({"byte", "tinyint", "integer1"})) {
        c.type = ColumnType::Byte;
    } else if (is({"bit", "yesno", "logical", "logical1", "boolean"})) {
        c.type = ColumnType::Boolean;
    } else if (is({"single", "real", "float4", "ieeesingle"})) {
        c.type = ColumnType::Single;
    } else if (is({"double", "float", "float8", "number", "ieeedouble"})) {
        c.type = ColumnType::Double;
    } else if (is({"currency", "money"})) {
        c.type = ColumnType::Currency;
    } else if (is({"decimal", "numeric", "dec"})) {
        if (!f.jet4())
            throw Error("The type " + w + " needs an Access 2000 database");
        c.type = ColumnType::Numeric;
        c.precision = 18;
        c.scale = 0;
        if (p.acceptSymbol('(')) {
            long prec = p.number();
            long scale = 0;
            if (p.acceptSymbol(','))
                scale = p.number();
            p.expectSymbol(')');
            if (prec < 1 || prec > 28 || scale < 0 || scale > prec)
                throw Error("The precision or scale of column '" + c.name + "' is out of range");
            c.precision = uint8_t(prec);
            c.scale = uint8_t(scale);
        }
    } else if (is({"date", "datetime", "time", "timestamp"})) {
        c.type = ColumnType::DateTime;
    } else if (is({"text", "varchar", "char", "string", "alphanumeric", "character", "nvarchar", "nchar"})) {
        long n = sizeArg(255);
        if (n < 1 || n > 255)
            throw Error("The text size of column '" + c.name + "' is out of range (1 to 255)");
        c.type = ColumnType::Text;
        c.length = uint16_t(n);
    } else if (is({"memo", "longtext", "longchar", "note", "ntext"})) {
        c.type = ColumnType::Memo;
    } else if (is({"oleobject", "longbinary", "general", "image"})) {
        c.type = ColumnType::Ole;
    } else if (is({"binary", "varbinary"})) {
        long n = sizeArg(255);
        if (n < 1 || n > 255)
            throw Error("The binary size of column '" + c.name + "' is out of range (1 to 255)");
        c.type = ColumnType::Binary;
        c.length = uint16_t(n);
    } else if (is({"guid", "uniqueidentifier"})) {
        c.type = ColumnType::Guid;
    } else if (is({"counter", "autoincrement"})) {
        c.type = ColumnType::Long;
        c.autoNumber = true;
        if (p.acceptSymbol('(')) {
            p.number();
            if (p.acceptSymbol(','))
                p.number();
            p.expectSymbol(')');
        }
    } else {
        p.syntaxError(typeTok);
    }
    // Column constraints the converter never sends are accepted and ignored.
    while (true) {
        if (p.accept("not")) {
            p.expect("null");
        } else if (p.accept("null")) {
        } else {
            break;
        }
    }
    return c;
}

void createTable(Parser& p, Database& db)
{
    std::string table = p.name("table");
    p.expectSymbol('(');
    std::vector<ColumnSpec> cols;
    do {
        cols.push_back(parseColumn(p, db.format()));
    } while (p.acceptSymbol(','));
    p.expectSymbol(')');
    p.expectEnd();
    if (cols.size() > 255)
        throw Error("Too many columns in table '" + table + "' (at most 255)");
    db.createTable(table, cols);
}

} // namespace

void execute(Database& db, const std::string& statement)
{
    // The index statements live with the index code.
    static std::once_flag indexStatements;
    std::call_once(indexStatements, [] { registerIndexStatements(); });
    Parser p(statement);
    if (p.accept("create")) {
        if (p.accept("table")) {
            createTable(p, db);
            return;
        }
    } else if (p.accept("drop")) {
        if (p.accept("table")) {
            std::string t = p.name("table");
            p.expectEnd();
            db.dropTable(t);
            return;
        }
    }
    std::vector<StatementHandler> list;
    {
        std::lock_guard<std::mutex> lock(handlersLock());
        list = handlers();
    }
    for (auto& h : list) {
        Parser q(statement);
        if (h(q, db))
            return;
    }
    p.syntaxError();
}

std::unique_ptr<RowSet> openQuery(Database& db, const std::string& statement)
{
    Parser p(statement);
    p.expect("select");
    bool star = false;
    if (p.acceptSymbol('*'))
        star = true;
    else if (p.peek().kind == Token::Kind::Number)
        p.next();
    else
        p.syntaxError();
    p.expect("from");
    std::string table = p.name("table");
    if (p.accept("where")) {
        long a = p.number();
        p.expectSymbol('=');
        long b = p.number();
        if (a == b)
            throw Error("Only queries that return no rows are supported");
    } else {
        throw Error("Only queries that return no rows are supported");
    }
    p.expectEnd();
    Table& t = db.table(table);
    return std::make_unique<RowSet>(db, star ? &t : nullptr);
}

} // namespace jet
