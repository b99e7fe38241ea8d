// SIGTERM, SIGINT and SIGHUP reach the program as requests on its event loop.

#include "process/TerminationSignals.h"
#include "support/ChildProcess.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <unistd.h>

namespace raitakone {
namespace {

// Two signals end nothing; callbacks run once each from the event loop, also
// one registered after the signal, and none for a destroyed context.
int qtTermination(const std::vector<std::string>&)
{
    int argc = 1;
    char name[] = "qt-termination", *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    ::alarm(10); // a callback never run fails the test instead of hanging it
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
    ::kill(::getpid(), SIGINT);
    ::kill(::getpid(), SIGTERM);
    std::printf("alive %d\n", terminationRequested());
    onTermination(&app, [&] { called("after"); });
    return app.exec();
}
const testing::ChildRole qtTerminationRole("qt-termination", qtTermination);

TEST(TerminationSignals, CallbacksRunFromTheEventLoopForLiveContexts)
{
    testing::Child child("qt-termination", {});
    std::multiset<std::string> lines;
    while (const auto line = child.readLine())
        lines.insert(*line);
    EXPECT_EQ(child.wait(), "exit 5");
    const std::string first = std::to_string(SIGINT);
    EXPECT_EQ(lines, (std::multiset<std::string>{"requested 0", "alive 1", "before " + first, "after " + first}));
}

} // namespace
} // namespace raitakone
