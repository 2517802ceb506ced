#include <windows.h>

#include <string>

#include "system/file_access.h"
#include "system/write_guard.h"

namespace kvowrapper {

namespace {

// The handler runs on a thread of its own; the lock keeps it from a file half made or let go.
SRWLOCK gLock = SRWLOCK_INIT;
const std::string* gNewFile = nullptr;

class Held {
 public:
  Held() { AcquireSRWLockExclusive(&gLock); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  ~Held() { ReleaseSRWLockExclusive(&gLock); }
};

BOOL WINAPI onInterrupt(DWORD /*event*/) {
  const Held held;
  if (gNewFile != nullptr) removeFile(*gNewFile);
  return FALSE;  // the default handling then ends the wrapper
}

}  // namespace

// No file-size signal exists here, so only interrupts need a handler.
WriteGuard::WriteGuard() {
  SetConsoleCtrlHandler(onInterrupt, TRUE);
}

FileError WriteGuard::nameNewFile(const std::string& path,
                                  const std::function<FileError()>& makeName) {
  const Held held;
  const FileError error = makeName();
  if (error == FileError::kNone) {
    newFile_ = path;
    gNewFile = &newFile_;
  }
  return error;
}

void WriteGuard::keepNewFile() {
  const Held held;
  gNewFile = nullptr;
  newFile_.clear();
}

WriteGuard::~WriteGuard() {
  SetConsoleCtrlHandler(onInterrupt, FALSE);
  const Held held;
  if (!newFile_.empty()) removeFile(newFile_);
  gNewFile = nullptr;
}

}  // namespace kvowrapper
