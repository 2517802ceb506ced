#include "preprocess/source_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "preprocess/file_io.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace kvowrapper {

namespace {

std::unique_ptr<char[]> allocateBytes(size_t size) {
  try {
    return std::make_unique_for_overwrite<char[]>(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

SourceFile::~SourceFile() {
#ifndef _WIN32
  if (mapping_ != nullptr) munmap(mapping_, mappingSize_);
#endif
}

SourceFile::Status SourceFile::load(const char* path) {
  const int fd = openForReading(path);
  if (fd < 0) return Status::kOpenFailed;
  struct stat info {};
  size_t expected = 0;
  if (fstat(fd, &info) == 0) {
    hasIdentity_ = true;
    device_ = static_cast<uint64_t>(info.st_dev);
    inode_ = static_cast<uint64_t>(info.st_ino);
    if (S_ISREG(info.st_mode) && info.st_size > 0) expected = static_cast<size_t>(info.st_size);
  }
#ifndef _WIN32
  // Mapping pays from a few pages on; a small file is read faster than it is mapped and unmapped.
  constexpr size_t kMapThreshold = size_t{64} * 1024;
  if (expected >= kMapThreshold) {
    void* mapping = mmap(nullptr, expected, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    char probe = 0;
    // A file that grew since fstat is read instead, so that nothing past the mapping is lost.
    if (mapping != MAP_FAILED && pread(fd, &probe, 1, static_cast<off_t>(expected)) == 0) {
      closeFile(fd);
      mapping_ = mapping;
      mappingSize_ = expected;
      data_ = static_cast<const char*>(mapping);
      size_ = expected;
      return Status::kOk;
    }
    if (mapping != MAP_FAILED) munmap(mapping, expected);
  }
#endif
  const Status status = readWhole(fd, expected);
  closeFile(fd);
  return status;
}

bool SourceFile::isSameFile(const char* path) const {
  struct stat info {};
  // Windows has no inode numbers to compare; nothing there maps the source either.
  return hasIdentity_ && stat(path, &info) == 0 && info.st_ino != 0 &&
         static_cast<uint64_t>(info.st_dev) == device_ &&
         static_cast<uint64_t>(info.st_ino) == inode_;
}

bool SourceFile::detach() {
  if (mapping_ == nullptr) return true;
  auto copy = allocateBytes(size_);
  if (copy == nullptr) return false;
  std::memcpy(copy.get(), data_, size_);
#ifndef _WIN32
  munmap(mapping_, mappingSize_);
#endif
  mapping_ = nullptr;
  buffer_ = std::move(copy);
  data_ = buffer_.get();
  return true;
}

// The size from fstat is only a hint: pipes and devices report none, and a file may change.
SourceFile::Status SourceFile::readWhole(int fd, size_t expected) {
  // One byte beyond the expected size lets the read that reports the end need no regrowth.
  size_t capacity = expected > 0 ? expected + 1 : size_t{64} * 1024;
  buffer_ = allocateBytes(capacity);
  if (buffer_ == nullptr) return Status::kOutOfMemory;
  size_t size = 0;
  for (;;) {
    if (size == capacity) {
      auto grown = allocateBytes(capacity * 2);
      if (grown == nullptr) return Status::kOutOfMemory;
      std::memcpy(grown.get(), buffer_.get(), size);
      buffer_ = std::move(grown);
      capacity *= 2;
    }
    const int64_t got = readSome(fd, buffer_.get() + size, capacity - size);
    if (got == 0) break;
    if (got < 0) return Status::kReadFailed;
    size += static_cast<size_t>(got);
  }
  data_ = buffer_.get();
  size_ = size;
  return Status::kOk;
}

#ifdef _WIN32

MappedReadFaultGuard::MappedReadFaultGuard(std::string message, std::string partialFile)
    : message_(std::move(message)), partialFile_(std::move(partialFile)) {}
MappedReadFaultGuard::~MappedReadFaultGuard() = default;

#else

namespace {

// What the handler needs, set up before it can run; it may only make async-signal-safe calls.
const char* gFaultMessage = nullptr;
size_t gFaultMessageLength = 0;
const char* gFaultPartialFile = nullptr;
struct sigaction gPreviousBusAction {};

extern "C" void handleMappedReadFault(int /*signal*/) {
  if (write(STDERR_FILENO, gFaultMessage, gFaultMessageLength) < 0) {
    // Nothing more can be done about a failed message here.
  }
  unlink(gFaultPartialFile);
  _exit(1);
}

}  // namespace

MappedReadFaultGuard::MappedReadFaultGuard(std::string message, std::string partialFile)
    : message_(std::move(message)), partialFile_(std::move(partialFile)) {
  gFaultMessage = message_.c_str();
  gFaultMessageLength = message_.size();
  gFaultPartialFile = partialFile_.c_str();
  struct sigaction action {};
  action.sa_handler = handleMappedReadFault;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, &gPreviousBusAction);
}

MappedReadFaultGuard::~MappedReadFaultGuard() {
  sigaction(SIGBUS, &gPreviousBusAction, nullptr);
}

#endif

}  // namespace kvowrapper
