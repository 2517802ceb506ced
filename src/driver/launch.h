#pragma once

#include <optional>

namespace kvowrapper {

// Runs the real compiler at `path`, found like execvp finds a program (a bare name is searched
// for), with `arguments`, a vector ended by nullptr whose first entry fills the program-name
// position. Returns none, having written nothing, when the compiler cannot be started.
// On POSIX a started compiler replaces this process, so the call does not return then; on Windows
// it waits for the compiler and returns its exit code.
std::optional<int> launchRealCompiler(const char* path, const char* const* arguments);

}  // namespace kvowrapper
