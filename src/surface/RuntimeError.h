#pragma once

#include <stdexcept>
#include <string>

namespace raitakone {

// The one error type of the program. Anything that would stop a click half
// way (no printer, a refused property value, an arithmetic fault) throws it
// with a message meant for the user; the window shows it and keeps running.
class RuntimeError : public std::runtime_error {
public:
    explicit RuntimeError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace raitakone
