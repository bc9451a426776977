#include "platform/storage/stopsignal.h"

#include <csignal>

namespace {

// Lock-free atomics are what a signal handler may touch.
std::atomic_int g_signal{ 0 };
std::atomic_bool g_raised{ false };
static_assert(std::atomic_int::is_always_lock_free && std::atomic_bool::is_always_lock_free);

extern "C" void noteSignal(int number)
{
    g_signal.store(number);
    g_raised.store(true);
    // Whoever presses Ctrl+C twice wants the program gone now.
    std::signal(number, SIG_DFL);
}

} // namespace

void StopSignal::install()
{
    std::signal(SIGINT, noteSignal);
    std::signal(SIGTERM, noteSignal);
}

int StopSignal::raised()
{
    return g_signal.load();
}

const std::atomic_bool *StopSignal::flag()
{
    return &g_raised;
}

void StopSignal::clear()
{
    g_signal.store(0);
    g_raised.store(false);
    install();
}
