#pragma once

#include <string>

namespace kvowrapper {

// Guards the writing of a new file. While it lives:
// - an interrupt (SIGINT, SIGTERM, SIGHUP on POSIX; Ctrl+C or Ctrl+Break on Windows) removes the
//   file and ends the wrapper by the same signal, unless the build had that signal ignored;
// - a file-size limit makes writes fail instead of ending the wrapper.
// When it goes, the signal dispositions the wrapper started with are back in place.
class WriteGuard {
 public:
  explicit WriteGuard(std::string newFile);
  WriteGuard(const WriteGuard&) = delete;
  WriteGuard& operator=(const WriteGuard&) = delete;
  ~WriteGuard();

 private:
  std::string newFile_;
};

}  // namespace kvowrapper
