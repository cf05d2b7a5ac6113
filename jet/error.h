// Errors raised by the Access file engine. Every failure carries a message
// meant for a user; callers show it unchanged.
#pragma once

#include <stdexcept>
#include <string>

namespace jet {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

} // namespace jet
