#pragma once

// How a program ends once main's own work is done and its objects are gone.
namespace ProcessEnd {

// Returns `code` for main to return where the system's own exit is sound. On Windows the
// process ends here with `code`, after the C streams are flushed, without the libraries' unload
// steps: there the C++ runtime's unload (MinGW-w64's libstdc++ deleting its thread-exit key in
// winpthreads) waits for ever on a lock that a thread ended by the exit was holding, and runs
// thread-exit destructors of Qt's own after Qt itself has unloaded; a program that has finished
// its work then hangs, or crashes, instead of ending. Nothing of the program's is lost by it:
// every file it wrote has been closed by then, and the system frees the rest.
int afterMain(int code);

} // namespace ProcessEnd
