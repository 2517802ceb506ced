// Runs a program with the given arguments, waits for it, and prints its whole exit code, which
// Wine cuts to 8 bits on its way out. Its own exit code is 0 unless it could not run the program.
#include <windows.h>

#include <cstdio>
#include <string>

#include "driver/command_line.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string line = kvowrapper::buildWindowsCommandLine(argv + 1);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(argv[1], line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return 3;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  std::printf("%lu\n", static_cast<unsigned long>(code));
  return 0;
}
