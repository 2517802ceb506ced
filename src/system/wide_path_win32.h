#pragma once

#include <string>

namespace kvowrapper {

// The form of `path` (UTF-8) that the wide Windows calls take at any length: made full as
// GetFullPathNameW makes it (a trailing dot of "dir." dropped, a share's root kept, D:'s own
// current directory for "D:x"), then prefixed as extendedLengthPath says.
std::wstring widePath(const std::string& path);

}  // namespace kvowrapper
