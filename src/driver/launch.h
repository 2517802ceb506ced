#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kvowrapper {

// Runs the real compiler at `path`, found like execvp finds a program (a bare name is searched
// for), with `arguments`, a vector ended by nullptr whose first entry fills the program-name
// position. Returns none, having written nothing, when the compiler cannot be started.
// On POSIX a started compiler replaces this process, so the call does not return then; on Windows
// it waits for the compiler and returns its exit code.
std::optional<int> launchRealCompiler(const char* path, const char* const* arguments);

// The longest value the environment variable `name` may have for the compiler still to start:
// Linux takes a NAME=value string of up to 128 KiB with its NUL; Windows a variable of up to
// 32,767 characters.
size_t environmentValueLimit(std::string_view name);

// Sets a variable of the environment the compiler will get.
void setCompilerEnvironment(const char* name, const std::string& value);

}  // namespace kvowrapper
