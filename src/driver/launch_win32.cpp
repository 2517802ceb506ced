#include <windows.h>

#include <memory>
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
// refused (as Wine refuses it); empty when the program is not below it.
std::wstring belowCurrentDirectory(const std::wstring& longPath) {
  std::wstring directory(GetCurrentDirectoryW(0, nullptr), L'\0');
  directory.resize(GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data()));
  const std::wstring path = longPath.substr(4);  // without the prefix
  if (directory.empty() || !path.starts_with(directory + L"\\")) return {};
  return path.substr(directory.size() + 1);
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
// ends, however it ends: a cancelled build leaves no compiler running.
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

}  // namespace

std::optional<int> launchRealCompiler(const char* path, const char* const* arguments) {
  const auto program = findWindowsProgram(path, environmentVariable(L"PATH"), isFileAt);
  if (!program.has_value()) return std::nullopt;
  // Whether cmd runs it is decided on the name as Windows opens it ("kvo.bat." is kvo.bat).
  const std::wstring full = widePath(*program);
  const bool isLong = full.starts_with(L"\\\\?\\");
  std::wstring application = full;
  std::string line;
  size_t limit = kMaxCommandLine - 1;
  const std::string script = fromWide(full);
  if (isBatchFile(script)) {
    // The runtime would hand cmd the program name as the command to run, and cmd reads
    // arguments by rules of its own; the script is named by its full path instead, which cmd
    // would expand at a % and cannot run when it is long.
    if (isLong || script.find('%') != std::string::npos) {
      report(Message::kCannotRunBatch, {*program});
      return std::nullopt;
    }
    const std::string shell = commandInterpreter();
    application = toWide(shell);
    auto batchLine = buildBatchCommandLine(shell, script, arguments + 1);
    if (const auto* refused = std::get_if<RefusedArgument>(&batchLine)) {
      report(Message::kBatchArgument, {std::to_string(refused->position), *program});
      return std::nullopt;
    }
    line = std::move(std::get<std::string>(batchLine));
    limit = kMaxShellLine;
  } else {
    auto programLine = buildWindowsCommandLine(arguments);
    if (!programLine.has_value()) {
      report(Message::kProgramName, {arguments[0]});
      return std::nullopt;
    }
    line = std::move(*programLine);
  }
  std::wstring commandLine = toWide(line);
  // A line Windows would cut is a failed start, never a compiler run with a truncated argument.
  if (commandLine.size() > limit) return std::nullopt;

  const OwnedHandle job = createKillOnCloseJob();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  // Created suspended and put into the job before it runs, so it never runs outside it.
  auto create = [&](const std::wstring& name) {
    return CreateProcessW(name.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                          CREATE_SUSPENDED, nullptr, nullptr, &startup, &started) != 0;
  };
  if (!create(application)) {
    const std::wstring below = isLong ? belowCurrentDirectory(application) : std::wstring();
    if (below.empty() || !create(below)) return std::nullopt;
  }
  const OwnedHandle process(started.hProcess);
  const OwnedHandle thread(started.hThread);
  // An enclosing job may forbid a job of our own; the compiler then runs without it.
  if (job != nullptr) AssignProcessToJobObject(job.get(), process.get());
  // A routine, not SetConsoleCtrlHandler(nullptr, TRUE), which the compiler would inherit.
  SetConsoleCtrlHandler(leaveToCompiler, TRUE);
  ResumeThread(thread.get());
  WaitForSingleObject(process.get(), INFINITE);
  SetConsoleCtrlHandler(leaveToCompiler, FALSE);
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  return static_cast<int>(code);
}

size_t environmentValueLimit(std::string_view /*name*/) {
  return 32767;
}

void setCompilerEnvironment(const char* name, const std::string& value) {
  SetEnvironmentVariableW(toWide(name).c_str(), toWide(value).c_str());
}

}  // namespace kvowrapper
