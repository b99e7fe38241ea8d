#include "support/ChildProcess.h"

#include <csignal>
#include <cstring>
#include <map>
#include <stdexcept>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace raitakone::testing {

using ChildMain = int (*)(const std::vector<std::string>&);

static std::map<std::string, ChildMain>& roles()
{
    static std::map<std::string, ChildMain> registered;
    return registered;
}

ChildRole::ChildRole(const char* name, ChildMain main) { roles()[name] = main; }

std::optional<int> playChildRole(int argc, char** argv)
{
    if (argc < 3 || std::strcmp(argv[1], "--child") != 0)
        return std::nullopt;
    const auto role = roles().find(argv[2]);
    return role == roles().end() ? 125 : role->second({argv + 3, argv + argc});
}

Child::Child(const std::string& role, const std::vector<std::string>& args)
{
    std::vector<const char*> argv{"/proc/self/exe", "--child", role.c_str()};
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0 || (pid = ::fork()) < 0)
        throw std::runtime_error("pipe or fork");
    if (pid == 0) { // only async-signal-safe calls until exec
        ::dup2(fds[1], STDOUT_FILENO);
        // Every signal at its default action and none blocked, whatever the test runner set.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int signal = 1; signal < NSIG; ++signal)
            std::signal(signal, SIG_DFL);
        ::execv(argv[0], const_cast<char* const*>(argv.data()));
        ::_exit(127);
    }
    ::close(fds[1]);
    output = ::fdopen(fds[0], "r");
}

Child::~Child()
{
    if (!reaped) {
        ::kill(pid, SIGKILL);
        wait();
    }
    std::fclose(output);
}

std::optional<std::string> Child::readLine()
{
    char line[256];
    if (!std::fgets(line, sizeof line, output))
        return std::nullopt;
    return std::string(line, std::strcspn(line, "\n"));
}

std::string Child::wait()
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    reaped = true;
    return WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                               : "exit " + std::to_string(WEXITSTATUS(status));
}

} // namespace raitakone::testing
