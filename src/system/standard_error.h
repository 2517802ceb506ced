#pragma once

#include <string_view>

namespace kvowrapper {

// Writes `line` to standard error as one write (on Windows in the console's ANSI code page).
void writeToStandardError(std::string_view line);

}  // namespace kvowrapper
