#include "support/ChildProcess.h"

#include <csignal>
#include <cstring>
#include <map>
#include <stdexcept>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace raitakone::testing {
namespace {

std::map<std::string, ChildMain>& roles()
{
    static std::map<std::string, ChildMain> registered;
    return registered;
}

constexpr char kChildOption[] = "--child";

} // namespace

ChildRole::ChildRole(const char* name, ChildMain main) { roles()[name] = main; }

std::optional<int> playChildRole(int argc, char** argv)
{
    if (argc < 3 || std::strcmp(argv[1], kChildOption) != 0)
        return std::nullopt;
    const auto role = roles().find(argv[2]);
    if (role == roles().end())
        return 125;
    return role->second(std::vector<std::string>(argv + 3, argv + argc));
}

Child::Child(const std::string& role, const std::vector<std::string>& args)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    std::vector<std::string> words{"/proc/self/exe", kChildOption, role};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    // The child starts with the default action for every signal and none held back.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int error = posix_spawn(&pid_, "/proc/self/exe", &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(fds[1]);
    output_ = fds[0];
    if (error != 0)
        throw std::runtime_error(std::string("posix_spawn: ") + std::strerror(error));
}

Child::~Child()
{
    if (!reaped_) {
        ::kill(pid_, SIGKILL);
        wait();
    }
    ::close(output_);
}

std::optional<std::string> Child::readLine()
{
    for (;;) {
        const size_t end = buffered_.find('\n');
        if (end != std::string::npos) {
            std::string line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return line;
        }
        char bytes[256];
        const ssize_t got = ::read(output_, bytes, sizeof bytes);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return std::nullopt;
        buffered_.append(bytes, size_t(got));
    }
}

int Child::wait()
{
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    return status;
}

std::string describeStatus(int status)
{
    if (WIFEXITED(status))
        return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

} // namespace raitakone::testing
