#pragma once

#include <string>
#include <string_view>

namespace kvowrapper {

// The form of `path` (UTF-8) that the wide Windows file calls take at any length. A path whose
// absolute form stays below MAX_PATH is returned as it is; a longer one becomes absolute (against
// `currentDirectory`, itself absolute), with every '/' a '\', "." and ".." resolved, and the
// \\?\ prefix (\\?\UNC\ for a share), since such a path is taken literally.
std::string extendedLengthPath(std::string_view path, std::string_view currentDirectory);

}  // namespace kvowrapper
