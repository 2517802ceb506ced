#include "system/text_encoding.h"

namespace kvowrapper {

// A POSIX command line is bytes, and so is a source without a mark: nothing to convert.

std::optional<std::string> toAnsiText(std::string_view text) {
  return std::string(text);
}

std::optional<std::string> toUtf8Text(std::string_view text) {
  return std::string(text);
}

std::string_view ansiCodePageName() {
  return "the ANSI code page";
}

}  // namespace kvowrapper
