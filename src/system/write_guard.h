#pragma once

#include <string>

namespace kvowrapper {

// Guards the writing of a new file. While it lives:
// - an interrupt (SIGINT, SIGTERM, SIGHUP on POSIX; Ctrl+C or Ctrl+Break on Windows) removes the
//   file and ends the wrapper by the same signal, unless the build had that signal ignored;
// - a fault in reading a mapped source (another process cut it short) writes
//   `readFailureMessage`, removes the file and ends the wrapper with status 1 (with no message
//   given, nothing is mapped and such faults are not guarded);
// - a file-size limit makes writes fail instead of ending the wrapper.
// When it goes, the signal dispositions the wrapper started with are back in place.
class WriteGuard {
 public:
  WriteGuard(std::string newFile, std::string readFailureMessage);
  WriteGuard(const WriteGuard&) = delete;
  WriteGuard& operator=(const WriteGuard&) = delete;
  ~WriteGuard();

 private:
  std::string newFile_;
  std::string readFailureMessage_;
};

}  // namespace kvowrapper
