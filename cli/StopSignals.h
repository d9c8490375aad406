#pragma once

#include <csignal>

// Ctrl-C and SIGTERM, taken by the main thread alone while the job runs on another.
// They are blocked from the start, so that one that comes early waits to be seen.
class StopSignals {
public:
    // Blocks the stop signals and the job's wake-up signal in the calling thread and in
    // every thread it starts afterwards.
    StopSignals();

    // Waits up to the given time for a stop signal or wake(); true when a stop signal
    // came.
    bool waitForStop(long milliseconds);

    // Wakes the main thread from waitForStop() at once (called by the job when it ends).
    void wake();

private:
    sigset_t m_waited;
    pthread_t m_mainThread;
};
