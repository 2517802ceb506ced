#include "system/windows_path.h"

#include <vector>

namespace kvowrapper {

namespace {

constexpr size_t kMaxPath = 260;

bool isSeparator(char c) {
  return c == '\\' || c == '/';
}

bool hasDrive(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

// Splits `path` after its root at separators, resolving "." and "..", which never climb above
// the root.
std::string joinResolved(std::string root, std::string_view path) {
  std::vector<std::string_view> parts;
  size_t at = 0;
  while (at <= path.size()) {
    size_t end = at;
    while (end < path.size() && !isSeparator(path[end])) ++end;
    const std::string_view part = path.substr(at, end - at);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = end + 1;
  }
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) root += '\\';
    root.append(parts[i]);
  }
  return root;
}

}  // namespace

std::string extendedLengthPath(std::string_view path, std::string_view currentDirectory) {
  if (path.starts_with("\\\\?\\")) return std::string(path);
  std::string absolute;
  const bool isShare = path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]);
  if (isShare || (hasDrive(path) && path.size() > 2 && isSeparator(path[2]))) {
    absolute = path;
  } else if (!path.empty() && isSeparator(path[0])) {
    // Rooted on the current drive (or share).
    absolute = std::string(currentDirectory.substr(0, 2)) + std::string(path);
  } else if (hasDrive(path) &&
             !(hasDrive(currentDirectory) && (currentDirectory[0] | 0x20) == (path[0] | 0x20))) {
    // Relative to another drive, whose current directory is not known here: its root.
    absolute = std::string(path.substr(0, 2)) + "\\" + std::string(path.substr(2));
  } else {
    absolute =
        std::string(currentDirectory) + "\\" + std::string(hasDrive(path) ? path.substr(2) : path);
  }
  if (absolute.size() < kMaxPath) return std::string(path);
  const bool isUnc = absolute.size() >= 2 && isSeparator(absolute[0]) && isSeparator(absolute[1]);
  if (isUnc) return joinResolved("\\\\?\\UNC\\", absolute.substr(2));
  return joinResolved("\\\\?\\" + absolute.substr(0, 2) + "\\", absolute.substr(2));
}

}  // namespace kvowrapper
