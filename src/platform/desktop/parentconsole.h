#pragma once

// The command line's output on a system where a windowed program has no console of its own
// (Windows): there the program writes to the console it was started from, if any. Elsewhere
// the standard streams are already that console, and nothing is done.
namespace ParentConsole {

// Call before anything is written to stdout or stderr.
void attach();

} // namespace ParentConsole
