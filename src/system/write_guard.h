#pragma once

#include <functional>
#include <string>

#include "system/file_access.h"

namespace kvowrapper {

// Guards the writing of the processed text, and owns the new file it creates. While it lives:
// - an interrupt (SIGINT, SIGTERM, SIGHUP on POSIX; Ctrl+C or Ctrl+Break on Windows) removes the
//   new file and ends the wrapper by the same signal, unless the build had that signal ignored;
// - a file-size limit makes writes fail instead of ending the wrapper.
// When it goes, it removes the new file unless it was kept, and the signal dispositions the
// wrapper started with are back in place.
class WriteGuard {
 public:
  WriteGuard();
  WriteGuard(const WriteGuard&) = delete;
  WriteGuard& operator=(const WriteGuard&) = delete;
  ~WriteGuard();

  // Gives a new file the name `path` by `makeName` (which creates or links it) with interrupts
  // held off, so that from the moment the name exists it is the guard's to remove. Returns what
  // `makeName` returns, kNone when the name was made. At most one name at a time.
  FileError nameNewFile(const std::string& path, const std::function<FileError()>& makeName);

  // The named file has been put in place: it is no longer the guard's.
  void keepNewFile();

 private:
  std::string newFile_;
};

}  // namespace kvowrapper
