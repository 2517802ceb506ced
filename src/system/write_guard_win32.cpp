#include <windows.h>

#include <string>

#include "system/file_access.h"
#include "system/write_guard.h"

namespace kvowrapper {

namespace {

// Set before the handler can run; it runs on a thread of its own.
const std::string* gNewFile = nullptr;

BOOL WINAPI onInterrupt(DWORD /*event*/) {
  removeFile(*gNewFile);
  return FALSE;  // the default handling then ends the wrapper
}

}  // namespace

// No file-size signal exists here, so only interrupts need a handler.
WriteGuard::WriteGuard(std::string newFile) : newFile_(std::move(newFile)) {
  gNewFile = &newFile_;
  SetConsoleCtrlHandler(onInterrupt, TRUE);
}

WriteGuard::~WriteGuard() {
  SetConsoleCtrlHandler(onInterrupt, FALSE);
}

}  // namespace kvowrapper
