#pragma once

#include <string>
#include <string_view>

namespace kvowrapper {

// The one conversion between the program's UTF-8 (WTF-8) texts and the wide Windows API's.
std::wstring toWide(std::string_view text);
std::string fromWide(std::wstring_view units);

// The form of `path` (UTF-8) that the wide Windows calls take at any length: made full as
// GetFullPathNameW makes it (a trailing dot of "dir." dropped, a share's root kept, D:'s own
// current directory for "D:x"), then prefixed as extendedLengthPath says.
std::wstring widePath(const std::string& path);

}  // namespace kvowrapper
