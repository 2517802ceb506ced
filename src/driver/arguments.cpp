#include "driver/arguments.h"

#include <algorithm>

namespace kvowrapper {

namespace {

// Device and inode, or volume and file index: numbers joined by colons.
bool isIdentity(std::string_view entry) {
  return !entry.empty() && entry.find_first_not_of("0123456789:") == std::string_view::npos &&
         entry.front() != ':' && entry.back() != ':' && entry.find(':') != std::string_view::npos;
}

}  // namespace

bool isResourceSource(std::string_view text) {
  constexpr std::string_view kExtension = ".rsrc";
  // A bare ".rsrc" has no name in front of the extension.
  return text.size() > kExtension.size() && text.ends_with(kExtension);
}

std::string listRunIdentities(std::string_view inherited, std::string_view added, size_t limit) {
  std::string list;
  for (const std::string_view entries : {inherited, added}) {
    for (size_t at = 0; at <= entries.size();) {
      const size_t end = std::min(entries.find(' ', at), entries.size());
      const std::string_view entry = entries.substr(at, end - at);
      if (isIdentity(entry)) list.append(list.empty() ? "" : " ").append(entry);
      at = end + 1;
    }
  }
  while (list.size() > limit) {
    const size_t space = list.find(' ');
    list.erase(0, space == std::string::npos ? list.size() : space + 1);
  }
  return list;
}

}  // namespace kvowrapper
