#pragma once

#include <string>
#include <string_view>

namespace kvowrapper {

// The form of a full Windows path (as GetFullPathNameW makes it: absolute, "." and ".." resolved,
// trailing dots and spaces dropped) that the wide file calls take at any length: the path itself
// below MAX_PATH UTF-16 units, else with the \\?\ prefix (\\?\UNC\ for a share, in place of
// \\.\ for a device), under which a path is taken literally.
std::u16string extendedLengthPath(std::u16string_view fullPath);

}  // namespace kvowrapper
