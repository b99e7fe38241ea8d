#pragma once

// Tests that need a process of their own, to signal or kill it, run the test
// program again as `PROGRAM --child ROLE ARG...`. The program's main then
// plays the role registered under ROLE instead of running the tests, and
// exits with its result.

#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace raitakone::testing {

using ChildMain = int (*)(const std::vector<std::string>& args);

// Registers a role; a static object in the test file that plays it.
struct ChildRole {
    ChildRole(const char* name, ChildMain main);
};

// For main: the role's exit status when the arguments ask for one.
std::optional<int> playChildRole(int argc, char** argv);

// A child playing a role, its standard output on a pipe. The destructor
// kills and reaps a child still running.
class Child {
public:
    Child(const std::string& role, const std::vector<std::string>& args);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    // The next line the child wrote, without its line end; nothing once the
    // child has closed its output.
    std::optional<std::string> readLine();
    // Waits for the child to end and returns its wait status.
    int wait();

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string buffered_;
    bool reaped_ = false;
};

// A wait status in words, for failure messages: "exit 3", "signal 15".
std::string describeStatus(int status);

} // namespace raitakone::testing
