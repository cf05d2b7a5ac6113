// The statements the converter sends, parsed by a small recursive-descent
// parser: "create table", "drop table" and the probes
// "select 1 from [T] where 1=0" / "select * from [T] where 1=0".
// Other statements (indexes) plug in through registerStatement().
#pragma once

#include "jet/database.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace jet {

class RowSet;

struct Token {
    enum class Kind { Word, Name, Number, Symbol, String, End };
    Kind kind = Kind::End;
    std::string text;   // Name: without brackets
    size_t offset = 0;  // in the statement
};

// Tokens of one statement with the helpers a handler needs.
class Parser {
public:
    explicit Parser(const std::string& statement);

    const Token& peek(size_t ahead = 0) const;
    Token next();
    bool atEnd() const { return peek().kind == Token::Kind::End; }
    // Consumes the keyword (case-insensitive) when it is next.
    bool accept(const char* keyword);
    void expect(const char* keyword);
    bool acceptSymbol(char c);
    void expectSymbol(char c);
    // A bracketed or bare name.
    std::string name(const char* what);
    long number();
    void expectEnd();
    [[noreturn]] void syntaxError() const;
    [[noreturn]] void syntaxError(const Token& at) const;

private:
    std::string text_;
    std::vector<Token> tokens_;
    size_t pos_ = 0;
};

// A handler gets the parser positioned at the start; it returns false when
// the statement is not its kind (nothing consumed).
using StatementHandler = std::function<bool(Parser&, Database&)>;
void registerStatement(StatementHandler handler);

// Runs a statement that yields no rows. Throws jet::Error with a message.
void execute(Database& db, const std::string& statement);

// Opens the row set of a query: only the probes above exist.
std::unique_ptr<RowSet> openQuery(Database& db, const std::string& statement);

} // namespace jet
