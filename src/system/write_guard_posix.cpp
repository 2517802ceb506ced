#include <signal.h>
#include <unistd.h>

#include <array>

#include "system/write_guard.h"

namespace kvowrapper {

namespace {

// What the handlers need, set before they can run; they make async-signal-safe calls only.
const char* gNewFile = nullptr;

constexpr std::array kInterrupts = {SIGINT, SIGTERM, SIGHUP};
constexpr std::array kGuarded = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};
std::array<struct sigaction, kGuarded.size()> gPrevious{};

extern "C" void onInterrupt(int signal) {
  unlink(gNewFile);
  // SA_RESETHAND left the default action in place, and SA_NODEFER lets it act at once.
  raise(signal);
}

}  // namespace

WriteGuard::WriteGuard(std::string newFile) : newFile_(std::move(newFile)) {
  gNewFile = newFile_.c_str();
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

WriteGuard::~WriteGuard() {
  for (size_t i = 0; i < kGuarded.size(); ++i) {
    sigaction(kGuarded[i], &gPrevious[i], nullptr);
  }
}

}  // namespace kvowrapper
