#pragma once

// SIGTERM, SIGINT and SIGHUP as requests to stop, not as sudden death.
//
// The handler only notes the signal and wakes the event loop through a pipe;
// whatever runs on the UI thread when it arrives (a page being drawn and
// delivered, which is synchronous) finishes first. The window then closes
// as Poistu closes it, and a batch run stops after its current page.
//
// Widget-free; onTermination needs a QCoreApplication.

#include <functional>

class QObject;

namespace raitakone {

// Installs the handlers. Call once at the start of main, before the
// application object starts any thread, so that no thread dies of one of
// these signals. Later calls do nothing.
void installTerminationHandlers();

// Blocks the signals in the calling thread, and so in every thread it
// starts: call first in a thread the program starts, so that a signal is
// always taken by the application's thread.
void blockTerminationSignals();

// Installs the handlers again where a library has changed them (SANE
// backends reset SIGTERM in their reader threads). Does nothing before
// installTerminationHandlers.
void restoreTerminationHandlers();

// Whether one of the signals has arrived since the handlers were installed.
bool terminationRequested();

// The first signal that arrived (SIGTERM, SIGINT or SIGHUP), 0 if none.
int terminationSignal();

// Calls `action` on context's thread, from its event loop, when the first
// signal arrives; at once (queued) when one already has. Never called after
// context is destroyed. Call on the application's thread, after
// installTerminationHandlers (before it, nothing is registered).
void onTermination(QObject* context, std::function<void()> action);

} // namespace raitakone
