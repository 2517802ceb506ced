#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace kvowrapper {

// How a program is started on Windows, built portably so that it is tested everywhere. Texts are
// UTF-8; the launch converts them to UTF-16.

// Quotes one argument so that a program whose C runtime splits its command line by the usual
// Windows rules receives exactly `argument`: always in double quotes, with 2n+1 backslashes
// before an embedded quote and 2n before the closing quote for n backslashes in the text.
std::string quoteWindowsArgument(std::string_view argument);

// The command line for `arguments` (ended by nullptr), read back exactly by a Windows C runtime:
// entry 0, the program name, in double quotes as it is (the runtime reads it up to the next
// quote, with no escapes), the rest by quoteWindowsArgument, joined by spaces. None when the
// program name holds a quote, which no command line can pass.
std::optional<std::string> buildWindowsCommandLine(const char* const* arguments);

// True when `path` names a batch file (".bat" or ".cmd", in any case), which runs through cmd.
bool isBatchFile(std::string_view path);

// The command line that runs the batch file `script` through the command interpreter `shell`,
// with AutoRun and delayed expansion off; the script is its own %0 and `arguments` (ended by
// nullptr) are %1, %2, ..., each in double quotes, so that none can start a command, with
// trailing backslashes doubled, so that a program the script hands %* to reads each argument
// back exactly by either runtime rule. Refused when an argument holds what cannot pass that way
// (%, ", CR or LF).
struct RefusedArgument {
  size_t position;  // 1 for the first of `arguments`
};
std::variant<std::string, RefusedArgument> buildBatchCommandLine(std::string_view shell,
                                                                 std::string_view script,
                                                                 const char* const* arguments);

// Finds a program as the Windows runtime's exec call does: a name without a slash, backslash or
// colon is tried in the current directory; when its last component has no extension, ".com",
// ".exe", ".bat" and ".cmd" are appended and tried in turn; then, for a name with no directory
// or drive, each entry of `pathVariable`, split at semicolons outside double quotes, with its
// quotes removed, empty entries skipped. `exists` tells whether a file is at a path. A program
// found on a network entry (one that begins with \\ or //) is started there by
// `startsOnNetwork`, and passed over when that returns false (it could not be started). None when
// nothing is found.
std::optional<std::string> findWindowsProgram(
    std::string_view name, std::string_view pathVariable,
    const std::function<bool(const std::string&)>& exists,
    const std::function<bool(const std::string&)>& startsOnNetwork);

// Whether a console event (by its Windows number: 0 Ctrl+C, 1 Ctrl+Break, 2 close, 5 logoff,
// 6 shutdown) that comes while the compiler runs is left to the compiler, which shares the console
// and gets it too, while the wrapper goes on waiting for its status; any other ends the wrapper,
// and the compiler's job with it.
bool isLeftToCompiler(unsigned long consoleEvent);

}  // namespace kvowrapper
