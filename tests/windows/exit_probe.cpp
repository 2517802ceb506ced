// Runs a program with the given arguments, waits for it, and prints its whole exit code, which
// Wine cuts to 8 bits on its way out. Its own exit code is 0 unless it could not run the program.
// It takes its arguments as UTF-16 and passes them on so, whatever the ANSI code page.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver/windows_command_line.h"
#include "system/utf16.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view argument = argv[i];
    arguments.push_back(kvowrapper::fromUtf16(std::u16string(argument.begin(), argument.end())));
  }
  std::vector<const char*> pointers;
  for (const auto& argument : arguments) pointers.push_back(argument.c_str());
  pointers.push_back(nullptr);
  const std::u16string units =
      kvowrapper::toUtf16(kvowrapper::buildWindowsCommandLine(pointers.data()).value_or(""));
  std::wstring line(units.begin(), units.end());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(argv[1], line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return 3;
  }
  // The probe's own pid first, so that a test can end the wrapper it started.
  std::printf("%lu\n", static_cast<unsigned long>(process.dwProcessId));
  std::fflush(stdout);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  std::printf("%lu\n", static_cast<unsigned long>(code));
  return 0;
}
