#include <windows.h>
// windows.h first: process.h needs its types.
#include <process.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/launch.h"

namespace kvowrapper {

namespace {

// Puts this process, and with it every process it starts, into a job that ends them all when
// its last handle closes, so that a cancelled build that kills the wrapper leaves no compiler
// running. Where that is not allowed (an enclosing job forbids it) the launch goes on without.
void joinKillOnCloseJob() {
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job == nullptr) return;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
      !AssignProcessToJobObject(GetCurrentProcess(), job)) {
    CloseHandle(job);
  }
  // Otherwise the handle stays open for the life of the process, which is the point.
}

}  // namespace

std::optional<int> launchRealCompiler(const char* path, const char* const* arguments) {
  // The runtime joins the entries with spaces and quotes nothing; quoting each entry here makes
  // the compiler's own argv equal the vector, spaces, quotes and backslashes included.
  std::vector<std::string> quoted;
  for (const char* const* argument = arguments; *argument != nullptr; ++argument) {
    quoted.push_back(quoteWindowsArgument(*argument));
  }
  std::vector<const char*> vector;
  vector.reserve(quoted.size() + 1);
  for (const std::string& entry : quoted) vector.push_back(entry.c_str());
  vector.push_back(nullptr);

  joinKillOnCloseJob();
  // _spawnvp searches for the program as the runtime's exec call does; _P_WAIT makes it wait and
  // yield the exit code, where exec would end this process with status 0 at once. A compiler
  // may itself exit with -1, so only errno tells a failed start apart.
  errno = 0;
  const intptr_t status = _spawnvp(_P_WAIT, path, vector.data());
  if (status == -1 && errno != 0) return std::nullopt;
  return static_cast<int>(status);
}

}  // namespace kvowrapper
