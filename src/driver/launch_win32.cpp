#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "driver/launch.h"
#include "driver/windows_command_line.h"
#include "system/file_access.h"
#include "system/messages.h"
#include "system/wide_win32.h"

namespace kvowrapper {

namespace {

struct HandleCloser {
  void operator()(HANDLE handle) const {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

// Longest command lines Windows takes: CreateProcessW's, and cmd's for a batch file.
constexpr size_t kMaxCommandLine = 32767;  // UTF-16 units with the terminating NUL
constexpr size_t kMaxShellLine = 8191;

std::string environmentVariable(const wchar_t* name) {
  std::wstring value(GetEnvironmentVariableW(name, nullptr, 0), L'\0');
  if (value.empty()) return {};
  value.resize(GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size())));
  return fromWide(value);
}

// A long program path as a path from the current directory, for where the prefixed form is
// refused (as Wine refuses it); empty when the program is not below it, or that path is long too.
std::wstring belowCurrentDirectory(const std::wstring& longPath) {
  std::wstring directory(GetCurrentDirectoryW(0, nullptr), L'\0');
  directory.resize(GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data()));
  const std::wstring path = longPath.substr(4);  // without the prefix
  if (directory.empty() || !path.starts_with(directory + L"\\")) return {};
  const std::wstring below = path.substr(directory.size() + 1);
  return below.size() < MAX_PATH ? below : std::wstring();
}

// Whether a file (no folder) stands at `path`, as the program search asks.
bool isFileAt(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(widePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The system's own cmd, whose quoting the batch command line is built for, whatever %ComSpec%
// names.
std::string commandInterpreter() {
  wchar_t system[MAX_PATH];
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  return fromWide(std::wstring_view(system, length)) + "\\cmd.exe";
}

BOOL WINAPI leaveToCompiler(DWORD event) {
  return isLeftToCompiler(event) ? TRUE : FALSE;
}

// A job that ends every process in it when its last handle closes, which is when the wrapper
// ends, however it ends while the compiler runs: a cancelled build leaves no compiler running.
OwnedHandle createKillOnCloseJob() {
  OwnedHandle job(CreateJobObjectW(nullptr, nullptr));
  if (job == nullptr) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                               sizeof limits)) {
    return nullptr;
  }
  return job;
}

// A compiler created suspended, so that it runs only once it is in its job.
struct Started {
  OwnedHandle process;
  OwnedHandle thread;
};

// What trying to start the program at one path gave: started; refused, with the message that
// says why; or neither, when Windows could not start it.
struct Start {
  std::optional<Started> started;
  std::optional<Failure> refusal;
};

Start startProgram(const std::string& program, const char* const* arguments) {
  // Whether cmd runs it is decided on the name as Windows opens it ("kvo.bat." is kvo.bat).
  const std::wstring full = widePath(program);
  const bool isLong = full.starts_with(L"\\\\?\\");
  // A long path is started by its path below the current directory where that is short, else
  // as it was given.
  const std::wstring below = isLong ? belowCurrentDirectory(full) : std::wstring();
  std::wstring application = !isLong ? full : !below.empty() ? below : toWide(program);
  std::string line;
  size_t limit = kMaxCommandLine - 1;
  const std::string script = fromWide(full);
  if (isBatchFile(script)) {
    // The runtime would hand cmd the program name as the command to run, and cmd reads
    // arguments by rules of its own; the script is named by its full path instead, which cmd
    // would expand at a % and cannot run when it is long.
    if (isLong || script.find('%') != std::string::npos) {
      return {std::nullopt, Failure{Message::kCannotRunBatch, {program}}};
    }
    const std::string shell = commandInterpreter();
    application = toWide(shell);
    auto batchLine = buildBatchCommandLine(shell, script, arguments + 1);
    if (const auto* refused = std::get_if<RefusedArgument>(&batchLine)) {
      return {std::nullopt,
              Failure{Message::kBatchArgument, {std::to_string(refused->position), program}}};
    }
    line = std::move(std::get<std::string>(batchLine));
    limit = kMaxShellLine;
  } else {
    auto programLine = buildWindowsCommandLine(arguments);
    if (!programLine.has_value()) {
      return {std::nullopt, Failure{Message::kProgramName, {arguments[0]}}};
    }
    line = std::move(*programLine);
  }
  std::wstring commandLine = toWide(line);
  // A line Windows would cut is a failed start, never a compiler run with a truncated argument.
  if (commandLine.size() > limit) return {};
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created{};
  if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                      CREATE_SUSPENDED, nullptr, nullptr, &startup, &created)) {
    return {};
  }
  return {Started{OwnedHandle(created.hProcess), OwnedHandle(created.hThread)}, std::nullopt};
}

}  // namespace

std::optional<int> launchRealCompiler(const char* path, const char* const* arguments) {
  // A program found on a network entry is started by the search itself, which passes over one
  // that does not start; any other is started once found.
  Start start;
  auto startsOnNetwork = [&](const std::string& candidate) {
    start = startProgram(candidate, arguments);
    return start.started.has_value() || start.refusal.has_value();
  };
  const auto program =
      findWindowsProgram(path, environmentVariable(L"PATH"), isFileAt, startsOnNetwork);
  if (!program.has_value()) return std::nullopt;
  if (!start.started.has_value() && !start.refusal.has_value()) {
    start = startProgram(*program, arguments);
  }
  if (start.refusal.has_value()) {
    report(*start.refusal);
    return std::nullopt;
  }
  if (!start.started.has_value()) return std::nullopt;
  const OwnedHandle job = createKillOnCloseJob();
  const OwnedHandle& process = start.started->process;
  // An enclosing job may forbid a job of our own; the compiler then runs without it.
  if (job != nullptr) AssignProcessToJobObject(job.get(), process.get());
  // A routine, not SetConsoleCtrlHandler(nullptr, TRUE), which the compiler would inherit.
  SetConsoleCtrlHandler(leaveToCompiler, TRUE);
  ResumeThread(start.started->thread.get());
  WaitForSingleObject(process.get(), INFINITE);
  SetConsoleCtrlHandler(leaveToCompiler, FALSE);
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  // The compiler has ended with its status: what it left running lives on, as on POSIX, when the
  // job's last handle closes with the wrapper.
  if (job != nullptr) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
  return static_cast<int>(code);
}

size_t environmentValueLimit(std::string_view /*name*/) {
  return 32767;
}

void setCompilerEnvironment(const char* name, const std::string& value) {
  SetEnvironmentVariableW(toWide(name).c_str(), toWide(value).c_str());
}

}  // namespace kvowrapper
