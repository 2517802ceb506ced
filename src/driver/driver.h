#pragma once

namespace kvowrapper {

// The whole program: checks usage, records the -D definitions, writes the processed copy of the
// resource source and hands the real compiler the argument list with the source replaced by it.
// Returns the exit status; after a successful launch on POSIX it does not return at all.
int runWrapper(int argc, const char* const* argv);

}  // namespace kvowrapper
