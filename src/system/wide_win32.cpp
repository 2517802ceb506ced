#include "system/wide_win32.h"

#include <windows.h>

#include "system/utf16.h"
#include "system/windows_path.h"

namespace kvowrapper {

std::wstring toWide(std::string_view text) {
  const std::u16string units = toUtf16(text);
  return std::wstring(units.begin(), units.end());
}

std::string fromWide(std::wstring_view units) {
  return fromUtf16(std::u16string(units.begin(), units.end()));
}

std::wstring widePath(const std::string& path) {
  const std::wstring given = toWide(path);
  std::wstring full(GetFullPathNameW(given.c_str(), 0, nullptr, nullptr), L'\0');
  full.resize(
      GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
  if (full.empty()) return given;
  const std::u16string extended = extendedLengthPath(std::u16string(full.begin(), full.end()));
  return std::wstring(extended.begin(), extended.end());
}

}  // namespace kvowrapper
