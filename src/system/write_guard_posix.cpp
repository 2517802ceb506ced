#include <signal.h>
#include <unistd.h>

#include <array>

#include "system/write_guard.h"

namespace kvowrapper {

namespace {

// What the handlers need; they make async-signal-safe calls only.
const char* volatile gNewFile = nullptr;

constexpr std::array kInterrupts = {SIGINT, SIGTERM, SIGHUP};
constexpr std::array kGuarded = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};
std::array<struct sigaction, kGuarded.size()> gPrevious{};

extern "C" void onInterrupt(int signal) {
  if (gNewFile != nullptr) unlink(gNewFile);
  // SA_RESETHAND left the default action in place, and SA_NODEFER lets it act at once.
  raise(signal);
}

// Holds the interrupts off while it lives: one that comes meanwhile acts when it goes.
class InterruptsHeld {
 public:
  InterruptsHeld() {
    sigset_t interrupts;
    sigemptyset(&interrupts);
    for (const int signal : kInterrupts) sigaddset(&interrupts, signal);
    sigprocmask(SIG_BLOCK, &interrupts, &previous_);
  }
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;
  ~InterruptsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_{};
};

}  // namespace

WriteGuard::WriteGuard() {
  for (size_t i = 0; i < kGuarded.size(); ++i) {
    sigaction(kGuarded[i], nullptr, &gPrevious[i]);
  }
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = static_cast<int>(SA_RESETHAND | SA_NODEFER);
  action.sa_handler = onInterrupt;
  for (size_t i = 0; i < kInterrupts.size(); ++i) {
    // A signal the build ignores stays ignored.
    if (gPrevious[i].sa_handler != SIG_IGN) sigaction(kInterrupts[i], &action, nullptr);
  }
  action.sa_flags = 0;
  action.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &action, nullptr);
}

FileError WriteGuard::nameNewFile(const std::string& path,
                                  const std::function<FileError()>& makeName) {
  const InterruptsHeld held;
  const FileError error = makeName();
  if (error == FileError::kNone) {
    newFile_ = path;
    gNewFile = newFile_.c_str();
  }
  return error;
}

void WriteGuard::keepNewFile() {
  const InterruptsHeld held;
  gNewFile = nullptr;
  newFile_.clear();
}

WriteGuard::~WriteGuard() {
  const InterruptsHeld held;
  if (!newFile_.empty()) removeFile(newFile_);
  gNewFile = nullptr;
  for (size_t i = 0; i < kGuarded.size(); ++i) {
    sigaction(kGuarded[i], &gPrevious[i], nullptr);
  }
}

}  // namespace kvowrapper
