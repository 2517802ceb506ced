#pragma once

namespace kvowrapper {

// The whole program: checks usage, records the -D definitions, writes the processed copy of the
// resource source and hands the real compiler the argument list with the source replaced by it.
// Returns the exit status: the compiler's own on Windows, 1 for a failure the wrapper reports,
// -1 when the compiler cannot be started. After a launch on POSIX it does not return at all.
int runWrapper(int argc, const char* const* argv);

}  // namespace kvowrapper
