// Errors raised by the Access file engine. Every failure carries a message
// meant for a user, which callers show unchanged, and a kind, which tells
// callers what failed without reading the message.
#pragma once

#include <stdexcept>
#include <string>

namespace jet {

enum class ErrorKind {
    Invalid,     // a statement, name, value or call refused as given; nothing changed
    Constraint,  // the change would break a rule of the data: a duplicate key or name, an empty required column
    Corrupt,     // the file is damaged
    Unsupported, // not an Access file, or a format or feature the engine does not handle
    Full,        // the file or a counter cannot grow: a size limit, a full disk or quota
    Busy,        // another program holds the file
    Io,          // the system refused an operation on a file (other than for lack of room)
};

class Error : public std::runtime_error {
public:
    // Without a kind: a request refused as given.
    explicit Error(const std::string& message) : Error(ErrorKind::Invalid, message) {}
    Error(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}

    ErrorKind kind() const { return kind_; }

private:
    ErrorKind kind_;
};

} // namespace jet
