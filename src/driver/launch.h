#pragma once

namespace kvowrapper {

// Runs the real compiler at `path` (searched on PATH like execvp) with `arguments`, a vector ended
// by nullptr whose first entry fills the program-name position. When the launch succeeds it does
// not return to the caller's logic: the process ends with the compiler's status. When the launch
// fails it returns -1 and writes nothing.
int launchRealCompiler(const char* path, const char* const* arguments);

}  // namespace kvowrapper
