#pragma once

// A test that signals or kills a program runs the test program again as
// `PROGRAM --child ROLE ARG...`, whose main plays the registered role.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace raitakone::testing {

// A static object in the test file registers a role.
struct ChildRole {
    ChildRole(const char* name, int (*main)(const std::vector<std::string>& args));
};

// For main: the role's exit status when the arguments ask for one.
std::optional<int> playChildRole(int argc, char** argv);

// A child playing a role, its standard output on a pipe; killed if still running at the end.
struct Child {
    Child(const std::string& role, const std::vector<std::string>& args);
    Child(const Child&) = delete;
    ~Child();
    // The next line the child wrote, without its end; nothing at end of output.
    std::optional<std::string> readLine();
    // Waits for the child to end: "exit 3" or "signal 15".
    std::string wait();

    pid_t pid = -1;
    std::FILE* output = nullptr;
    bool reaped = false;
};

} // namespace raitakone::testing
