#include <windows.h>

#include <cstdio>
#include <string>

#include "system/standard_error.h"
#include "system/wide_win32.h"

namespace kvowrapper {

// Messages go to a console as UTF-16, which it shows as it is (its own code page is not the ANSI
// one: é in the ANSI bytes would show as Ú); to a file or a pipe as narrow text in the ANSI code
// page, where a character it lacks shows as '?'.
void writeToStandardError(std::string_view line) {
  const std::wstring units = toWide(line);
  HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(console, &mode)) {
    std::fflush(stderr);
    DWORD written = 0;
    WriteConsoleW(console, units.data(), static_cast<DWORD>(units.size()), &written, nullptr);
    return;
  }
  const auto count = static_cast<int>(units.size());
  const int size =
      WideCharToMultiByte(CP_ACP, 0, units.data(), count, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, units.data(), count, bytes.data(), size, nullptr, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  // The runtime buffers standard error when it is a file or a pipe: a message such as the one
  // about waiting must show when it is written, not when the wrapper ends.
  std::fflush(stderr);
}

}  // namespace kvowrapper
