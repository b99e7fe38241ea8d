#include "process/TerminationSignals.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>

#include <pthread.h>

#include <fcntl.h>
#include <unistd.h>

namespace raitakone {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Written by the handler, so plain lock-free atomics and a pipe only.
std::atomic<int> firstSignal{0};
int wakeRead = -1;
int wakeWrite = -1;

extern "C" void noteTermination(int signal)
{
    const int savedErrno = errno;
    int none = 0;
    firstSignal.compare_exchange_strong(none, signal);
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeWrite, &byte, 1); // a full pipe is already awake
    errno = savedErrno;
}

// Turns a byte in the pipe into a Qt signal on the application's thread.
class TerminationNotifier : public QObject {
    Q_OBJECT
public:
    TerminationNotifier() : notifier_(wakeRead, QSocketNotifier::Read, this)
    {
        connect(&notifier_, &QSocketNotifier::activated, this, [this] {
            char bytes[64];
            while (::read(wakeRead, bytes, sizeof bytes) > 0) {
            }
            if (!announced_) {
                announced_ = true;
                emit terminationRequested();
            }
        });
    }

    // Owned by the application object, so it goes before the event loop's
    // machinery does; made again for a later application object.
    static TerminationNotifier& instance()
    {
        static QPointer<TerminationNotifier> notifier;
        if (!notifier) {
            notifier = new TerminationNotifier;
            notifier->setParent(QCoreApplication::instance());
        }
        return *notifier;
    }

signals:
    void terminationRequested();

private:
    QSocketNotifier notifier_;
    bool announced_ = false;
};

struct sigaction handlerAction()
{
    struct sigaction action {};
    action.sa_handler = noteTermination;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals)
        sigaddset(&action.sa_mask, signal);
    action.sa_flags = SA_RESTART;
    return action;
}

} // namespace

void installTerminationHandlers()
{
    if (wakeWrite >= 0)
        return;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // no pipe: the signals keep their default action
    wakeRead = fds[0];
    wakeWrite = fds[1];

    const struct sigaction action = handlerAction();
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

void blockTerminationSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kSignals)
        sigaddset(&set, signal);
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void restoreTerminationHandlers()
{
    if (wakeWrite < 0)
        return;
    const struct sigaction action = handlerAction();
    for (int signal : kSignals) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != noteTermination)
            ::sigaction(signal, &action, nullptr);
    }
}

bool terminationRequested() { return firstSignal.load() != 0; }

int terminationSignal() { return firstSignal.load(); }

void onTermination(QObject* context, std::function<void()> action)
{
    if (wakeRead < 0 || !QCoreApplication::instance())
        return;
    TerminationNotifier& notifier = TerminationNotifier::instance();
    if (terminationRequested())
        QMetaObject::invokeMethod(context, std::move(action), Qt::QueuedConnection);
    else
        QObject::connect(&notifier, &TerminationNotifier::terminationRequested, context, std::move(action),
                         Qt::SingleShotConnection);
}

} // namespace raitakone

#include "TerminationSignals.moc"
