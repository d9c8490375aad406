#include "StopSignals.h"

#include <pthread.h>
#include <ctime>

namespace {
constexpr int kWakeSignal = SIGUSR1;
}

StopSignals::StopSignals() : m_mainThread(pthread_self())
{
    sigemptyset(&m_waited);
    sigaddset(&m_waited, SIGINT);
    sigaddset(&m_waited, SIGTERM);
    sigaddset(&m_waited, kWakeSignal);
    pthread_sigmask(SIG_BLOCK, &m_waited, nullptr);
}

bool StopSignals::waitForStop(long milliseconds)
{
    timespec tick{milliseconds / 1000, (milliseconds % 1000) * 1000 * 1000};
    int signal = sigtimedwait(&m_waited, nullptr, &tick);
    return signal == SIGINT || signal == SIGTERM;
}

void StopSignals::wake()
{
    pthread_kill(m_mainThread, kWakeSignal);
}
