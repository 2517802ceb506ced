#pragma once

#include <string>
#include <string_view>

namespace kvowrapper {

// Quotes one argument so that a program whose C runtime splits its command line by the usual
// Windows rules receives exactly `argument`: always in double quotes, with 2n+1 backslashes
// before an embedded quote and 2n before the closing quote for n backslashes in the text.
std::string quoteWindowsArgument(std::string_view argument);

// The command line for `arguments` (ended by nullptr): each entry quoted, joined by spaces.
std::string buildWindowsCommandLine(const char* const* arguments);

}  // namespace kvowrapper
