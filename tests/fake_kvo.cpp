// Stand-in for the real resource compiler in the end-to-end and recipe tests. It writes the
// argument vector it received to the file named by FAKE_KVO_RECORD (each entry followed by a NUL
// byte), waits until the file named by FAKE_KVO_GATE exists (so a test decides when it goes on,
// whatever the machine's load), "compiles" by copying the processed source (its
// last argument) to the file named after "-fo", and exits with the status in FAKE_KVO_STATUS (0
// when unset). The recipe tests compile with a real compiler; this one shows values exactly.
// FAKE_KVO_WARN is a line it writes to standard error. FAKE_KVO_NESTED is a command it runs
// (without passing that variable on), taking its status.
// FAKE_KVO_LEAVE names a gate for a process it leaves behind (its process id written to the
// gate's name followed by ".pid"), which waits for the gate (on POSIX keeping the compiler's open
// files), then writes the gate's name followed by ".done".
// On POSIX, FAKE_KVO_SIGNALS names a file for the dispositions of the signals the wrapper guards;
// FAKE_KVO_LOCK makes it lock the whole of its input with fcntl (read and write) and lockf, as
// some compilers do, failing with status 3 where it cannot.
// On Windows, FAKE_KVO_LINE names a file for its command line as it came, in UTF-8;
// FAKE_KVO_HOLD names a file it keeps open, shared for reading and writing but not deletion, until
// the file named by FAKE_KVO_GATE exists, and does nothing else.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
// The arguments as UTF-8, whatever the ANSI code page.
std::string toUtf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), size, nullptr, nullptr);
  bytes.pop_back();
  return bytes;
}
#endif

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** wideArgv) {
  if (const char* held = std::getenv("FAKE_KVO_HOLD")) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, held, -1, nullptr, 0);
    std::wstring path(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, held, -1, path.data(), size);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 4;
    std::printf("held\n");
    std::fflush(stdout);
    while (!std::ifstream(std::getenv("FAKE_KVO_GATE")).good()) Sleep(10);
    CloseHandle(file);
    return 0;
  }
  if (const char* path = std::getenv("FAKE_KVO_LINE")) {
    std::ofstream(path, std::ios::binary) << toUtf8(GetCommandLineW());
  }
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(toUtf8(wideArgv[i]));
  std::vector<char*> pointers;
  for (auto& argument : arguments) pointers.push_back(argument.data());
  char** argv = pointers.data();
#else
int main(int argc, char** argv) {
#endif
  if (const char* record = std::getenv("FAKE_KVO_RECORD")) {
    std::ofstream out(record, std::ios::binary);
    for (int i = 0; i < argc; ++i) out << argv[i] << '\0';
  }
#ifndef _WIN32
  if (const char* path = std::getenv("FAKE_KVO_SIGNALS")) {
    std::ofstream out(path);
    sigset_t blocked;
    sigprocmask(SIG_BLOCK, nullptr, &blocked);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGBUS, SIGXFSZ}) {
      struct sigaction action {};
      sigaction(signal, nullptr, &action);
      out << (action.sa_handler == SIG_IGN ? "ign" : "dfl")
          << (sigismember(&blocked, signal) ? "+blocked " : " ");
    }
  }
#endif
  auto waitForGate = [](const char* gate) {
    while (!std::ifstream(gate).good()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  };
  auto leftBehind = [&](const char* gate) {
    waitForGate(gate);
    std::ofstream(std::string(gate) + ".done") << "done";
  };
#ifdef _WIN32
  if (const char* gate = std::getenv("FAKE_KVO_LEFT")) {
    leftBehind(gate);
    return 0;
  }
  if (const char* gate = std::getenv("FAKE_KVO_LEAVE")) {
    // The process left behind is this program again, told so by FAKE_KVO_LEFT.
    SetEnvironmentVariableA("FAKE_KVO_LEFT", gate);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"fake_kvo";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION left{};
    if (!CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &left)) {
      return 5;
    }
    std::ofstream(std::string(gate) + ".pid") << left.dwProcessId;
    CloseHandle(left.hThread);
    CloseHandle(left.hProcess);
    SetEnvironmentVariableA("FAKE_KVO_LEFT", nullptr);
  }
#else
  if (const char* gate = std::getenv("FAKE_KVO_LEAVE")) {
    const pid_t child = fork();
    if (child == 0) {
      leftBehind(gate);
      _exit(0);
    }
    std::ofstream(std::string(gate) + ".pid") << child;
  }
  if (std::getenv("FAKE_KVO_LOCK") != nullptr) {
    const int input = open(argv[argc - 1], O_RDWR);
    struct flock lock {};
    lock.l_whence = SEEK_SET;
    lock.l_type = F_RDLCK;
    const bool isReadLocked = fcntl(input, F_SETLK, &lock) == 0;
    lock.l_type = F_WRLCK;
    if (!isReadLocked || fcntl(input, F_SETLK, &lock) != 0 || lockf(input, F_TLOCK, 0) != 0) {
      return 3;
    }
  }
#endif
  if (const char* warning = std::getenv("FAKE_KVO_WARN")) std::fprintf(stderr, "%s\n", warning);
  if (const char* command = std::getenv("FAKE_KVO_NESTED")) {
    const std::string line = command;
#ifdef _WIN32
    _putenv("FAKE_KVO_NESTED=");
    return std::system(line.c_str());
#else
    unsetenv("FAKE_KVO_NESTED");
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
#endif
  }
  if (const char* gate = std::getenv("FAKE_KVO_GATE")) waitForGate(gate);
  for (int i = 1; i + 2 < argc; ++i) {
    if (std::string(argv[i]) == "-fo") {
      std::ofstream(argv[i + 1], std::ios::binary)
          << std::ifstream(argv[argc - 1], std::ios::binary).rdbuf();
    }
  }
  // Parsed unsigned, so that Windows status codes such as 0xC0000005 come through whole.
  const char* status = std::getenv("FAKE_KVO_STATUS");
  return status != nullptr ? static_cast<int>(std::strtoul(status, nullptr, 0)) : 0;
}
