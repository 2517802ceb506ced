#include "driver/arguments.h"

namespace kvowrapper {

namespace {

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

bool isResourceSource(std::string_view text) {
  constexpr std::string_view kExtension = ".rsrc";
  // A bare ".rsrc" has no name in front of the extension.
  return text.size() > kExtension.size() && endsWith(text, kExtension);
}

}  // namespace kvowrapper
