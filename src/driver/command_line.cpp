#include "driver/command_line.h"

namespace kvowrapper {

std::string quoteWindowsArgument(std::string_view argument) {
  std::string quoted;
  quoted.reserve(argument.size() + 2);
  quoted += '"';
  size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count double only before a quote, the embedded one or the closing one.
    if (c == '"') backslashes = backslashes * 2 + 1;
    quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

std::string buildWindowsCommandLine(const char* const* arguments) {
  std::string line;
  for (const char* const* argument = arguments; *argument != nullptr; ++argument) {
    if (argument != arguments) line += ' ';
    line += quoteWindowsArgument(*argument);
  }
  return line;
}

}  // namespace kvowrapper
