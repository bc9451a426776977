#pragma once

#include <atomic>

// Ctrl+C in a terminal, or the system asking the program to end (SIGTERM at
// logout or shutdown). Left to its default, the signal ends the process
// mid-write and leaves half a song under its final name; noted instead, the
// work under way stops the way a cancel stops it, removing what it had half
// written, and the program then ends. A second signal ends it at once.
class StopSignal
{
public:
    // Starts noting the signals for this process; calling it again re-arms them.
    static void install();
    // The signal that arrived, or 0.
    [[nodiscard]] static int raised();
    // Raised together with raised(), for work that polls a stop flag.
    [[nodiscard]] static const std::atomic_bool *flag();
    // Forgets a signal that was handled, so that the next one is noted again.
    static void clear();
};
