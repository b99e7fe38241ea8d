// SIGTERM, SIGINT and SIGHUP reach the program as requests on its event loop.

#include "app/TerminationSignals.h"
#include "support/ChildProcess.h"

#include <QCoreApplication>
#include <QObject>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <set>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace raitakone {
namespace {

using testing::Child;
using testing::describeStatus;

// qt-termination: the signals end nothing; onTermination callbacks run from
// the event loop, once each, one registered before the signal and one after,
// none for a context gone.
int qtTermination(const std::vector<std::string>&)
{
    int argc = 1;
    char name[] = "qt-termination";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    installTerminationHandlers();
    auto* gone = new QObject;
    onTermination(gone, [] { std::printf("gone\n"); });
    delete gone;
    int calls = 0;
    auto called = [&](const char* which) {
        std::printf("%s %d\n", which, terminationSignal());
        std::fflush(stdout);
        if (++calls == 2)
            app.exit(5);
    };
    onTermination(&app, [&] { called("before"); });
    std::printf("requested %d\n", terminationRequested());
    std::printf("raising\n");
    std::fflush(stdout);
    ::kill(::getpid(), SIGINT);
    ::kill(::getpid(), SIGTERM); // a second signal changes nothing
    std::printf("alive %d\n", terminationRequested());
    onTermination(&app, [&] { called("after"); });
    return app.exec();
}
const testing::ChildRole qtTerminationRole("qt-termination", qtTermination);

TEST(TerminationSignals, CallbacksRunFromTheEventLoopForLiveContexts)
{
    Child child("qt-termination", {});
    std::multiset<std::string> lines;
    while (const auto line = child.readLine())
        lines.insert(*line);
    const int status = child.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 5) << describeStatus(status);
    const std::string interrupt = std::to_string(SIGINT);
    EXPECT_EQ(lines, (std::multiset<std::string>{"requested 0", "raising", "alive 1", "before " + interrupt, "after " + interrupt}));
}

} // namespace
} // namespace raitakone
