#pragma once

// The end-to-end harness: runs the built kvowrapper (or a Windows build under Wine, through a
// probe) in a fresh work directory against the stand-in compiler, and reports what a build
// would see: the argument vector the compiler received, exit statuses, messages and files.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "utf16_text.h"

namespace e2e {

using testing_support::utf16;

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

inline std::string fromEnvironment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

inline const std::string kWrapper = fromEnvironment("KVOWRAPPER_BIN", KVOWRAPPER_BIN);
inline const std::string kCompiler = fromEnvironment("FAKE_KVO_BIN", FAKE_KVO_BIN);
// Set to test a Windows build under Wine, through a probe that reports the whole exit code.
inline const std::string kLauncher = fromEnvironment("KVOWRAPPER_LAUNCHER", "");
inline const std::string kExitProbe = fromEnvironment("EXIT_PROBE_BIN", "");
inline const bool kIsWindows = !kLauncher.empty();
inline const int64_t kFailedLaunch = kIsWindows ? 0xFFFFFFFF : 255;  // status -1

// Waits until `condition` holds, for a minute at most: tests wait for events, not for delays
// that a loaded machine may overrun.
inline bool waitFor(const std::function<bool()>& condition) {
  for (int tries = 0; tries < 6000; ++tries) {
    if (condition()) return true;
    usleep(10000);
  }
  return condition();
}

// The bytes of a file: empty where it is missing, and what was read where it vanishes midway (a
// /proc entry of a process that ends), rather than the exception an iterator would let through.
inline std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return std::move(bytes).str();
}

inline void writeFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

struct Invocation {
  Strings arguments;  // after kvowrapper's own name
  Strings environment = {};
  rlim_t fileSizeLimit = RLIM_INFINITY;
  rlim_t memoryLimit = RLIM_INFINITY;
  std::vector<int> ignoredSignals = {};
  uid_t user = 0;  // run as this user (when the tests run as root)
  std::vector<int> closedDescriptors = {};
};

struct Outcome {
  int64_t status = -1;
  std::string errors;
  std::string output;
};

class WrapperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kvowrapper-e2e-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    work_ = root_ / "work";
    fs::create_directory(work_);
  }
  void TearDown() override { fs::remove_all(root_); }

  // Starts kvowrapper in the work directory; `tag` keeps the messages of parallel runs apart.
  pid_t start(Invocation r, const std::string& tag = "") {
    Strings argv = kIsWindows ? Strings{kLauncher, kExitProbe} : Strings{};
    argv.push_back(kWrapper);
    argv.insert(argv.end(), r.arguments.begin(), r.arguments.end());
    std::vector<char*> pointers;
    for (auto& a : argv) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    r.environment.insert(r.environment.begin(),
                         "FAKE_KVO_RECORD=" + (root_ / ("received" + tag)).string());
    fs::remove(root_ / ("received" + tag));
    const fs::path errors = root_ / ("stderr" + tag);
    const fs::path output = root_ / ("stdout" + tag);
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      dup2(open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      for (auto& entry : r.environment) putenv(entry.data());
      for (const int signal : r.ignoredSignals) std::signal(signal, SIG_IGN);
      const rlimit files{r.fileSizeLimit, r.fileSizeLimit};
      const rlimit memory{r.memoryLimit, r.memoryLimit};
      setrlimit(RLIMIT_FSIZE, &files);
      setrlimit(RLIMIT_AS, &memory);
      if (r.user != 0 && (setgid(r.user) != 0 || setuid(r.user) != 0)) _exit(122);
      for (const int descriptor : r.closedDescriptors) close(descriptor);
      if (chdir(work_.c_str()) == 0) execv(pointers[0], pointers.data());
      _exit(121);
    }
    return pid;
  }

  // Waits for the run to end: for a minute at most with `isBounded`, after which it is killed
  // and reported as status -2.
  Outcome finish(pid_t pid, const std::string& tag = "", bool isBounded = false) {
    int raw = 0;
    if (isBounded && !waitFor([&] { return waitpid(pid, &raw, WNOHANG) == pid; })) {
      kill(pid, SIGKILL);
      waitpid(pid, &raw, 0);
      return {-2, "", ""};
    }
    if (!isBounded) waitpid(pid, &raw, 0);
    Outcome result{WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw),
                   readFile(root_ / ("stderr" + tag)), readFile(root_ / ("stdout" + tag))};
    if (kIsWindows) {
      // The probe prints the wrapper's process id first and its exit code last, around what the
      // wrapper itself prints.
      const size_t first = result.output.find('\n') + 1;
      const size_t last = result.output.rfind('\n', result.output.size() - 2) + 1;
      result.status = std::strtoll(result.output.c_str() + last, nullptr, 10);
      result.output = result.output.substr(first, last - first);
      for (size_t at; (at = result.output.find("\r\n")) != std::string::npos;) {
        result.output.erase(at, 1);
      }
      // Standard error is a text stream on Windows, which ends lines with CR LF.
      for (size_t at; (at = result.errors.find("\r\n")) != std::string::npos;) {
        result.errors.erase(at, 1);
      }
    }
    return result;
  }

  Outcome run(Invocation r) { return finish(start(std::move(r))); }

  // The argument vector the stand-in compiler received, or nothing if it never ran.
  std::optional<Strings> received() {
    if (!fs::exists(root_ / "received")) return std::nullopt;
    Strings entries;
    const std::string raw = readFile(root_ / "received");
    for (size_t start = 0; start < raw.size(); start = raw.find('\0', start) + 1) {
      entries.emplace_back(raw.c_str() + start);
    }
    return entries;
  }

  Strings files() {
    Strings names;
    for (const auto& entry : fs::directory_iterator(work_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path root_;
  fs::path work_;
};

}  // namespace e2e
