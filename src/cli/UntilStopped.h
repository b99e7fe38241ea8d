#pragma once

// Long work of the command line, run so that a stop signal ends it: the work
// on a thread of its own, this thread watching for the signal.

#include "process/TerminationSignals.h"

#include <QTextStream>
#include <QThread>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace raitakone {

// Runs work on a thread of its own while this thread watches for a stop
// signal. The work is asked to stop through terminationRequested, which
// the loading and the grading poll; one that has not ended within
// kStopGraceMs is left, and the process exits at once. Nothing is lost:
// the outputs are written only after the work.
template <typename Result>
std::optional<Result> untilDoneOrStopped(std::function<Result()> work, QTextStream& err)
{
    constexpr int kPollMs = 10;
    constexpr int kStopGraceMs = 300;
    struct Shared {
        std::atomic<bool> done{false};
        std::optional<Result> result;
    };
    const auto shared = std::make_shared<Shared>();
    std::thread worker([shared, work = std::move(work)] {
        blockTerminationSignals();
        shared->result = work();
        shared->done = true;
    });
    int waitedSinceStop = 0;
    while (!shared->done) {
        if (terminationRequested()) {
            if (waitedSinceStop >= kStopGraceMs) {
                err << QStringLiteral("Keskeytetty (signaali %1): arviointi lopetettiin.").arg(terminationSignal())
                    << Qt::endl;
                std::_Exit(128 + terminationSignal());
            }
            waitedSinceStop += kPollMs;
        }
        QThread::msleep(kPollMs);
    }
    worker.join();
    if (terminationRequested())
        return std::nullopt;
    return std::move(shared->result);
}

// Scans on a thread of its own, so that a stop signal, noticed here, can
// cancel it between reads. A scanner stuck inside one read is left after a
// while: nothing, then, is returned, the thread still runs, and the caller
// must end the process at once (std::_Exit), as the thread may still use
// what work refers to.
template <typename Result>
std::optional<Result> scanUntilDoneOrStopped(std::function<Result(const std::atomic<bool>& cancel)> work)
{
    constexpr int kPollMs = 20;
    constexpr int kStuckAfterMs = 15000;
    struct Shared {
        std::atomic<bool> cancel{false};
        std::atomic<bool> done{false};
        std::optional<Result> result;
    };
    // Outlives this function when the thread is left behind.
    const auto shared = std::make_shared<Shared>();
    std::thread scanner([shared, work = std::move(work)] {
        blockTerminationSignals();
        shared->result = work(shared->cancel);
        shared->done = true;
    });
    int waitedSinceStop = 0;
    while (!shared->done) {
        if (terminationRequested()) {
            shared->cancel = true;
            waitedSinceStop += kPollMs;
            if (waitedSinceStop > kStuckAfterMs) {
                scanner.detach();
                return std::nullopt;
            }
        }
        QThread::msleep(kPollMs);
    }
    scanner.join();
    return std::move(shared->result);
}

inline int stoppedStatus(QTextStream& err)
{
    err << QStringLiteral("Keskeytetty (signaali %1): arviointi lopetettiin.").arg(terminationSignal()) << Qt::endl;
    return 128 + terminationSignal();
}

} // namespace raitakone
