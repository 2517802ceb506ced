#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kvowrapper {

// The whole content of a resource source. A regular file is mapped rather than copied: copying
// 64 MiB into fresh memory costs several times more than processing it. Anything else (a pipe, a
// device) is read to its end.
class SourceFile {
 public:
  enum class Status { kOk, kOpenFailed, kReadFailed, kOutOfMemory };

  SourceFile() = default;
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;
  ~SourceFile();

  // Opens and loads `path`; writes no message.
  Status load(const char* path);

  std::string_view bytes() const { return {data_, size_}; }
  bool isMapped() const { return mapping_ != nullptr; }

  // True when `path` names the very file that was loaded (a link to it, say).
  bool isSameFile(const char* path) const;

  // Copies mapped bytes into memory of its own, so that writing the file cannot change them.
  // False when memory is short.
  bool detach();

 private:
  Status readWhole(int fd, size_t expected);

  const char* data_ = "";
  size_t size_ = 0;
  void* mapping_ = nullptr;
  size_t mappingSize_ = 0;
  std::unique_ptr<char[]> buffer_;
  bool hasIdentity_ = false;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
};

// While it lives, a fault in reading a mapped source (the file was cut short by another process)
// writes `message` to standard error, removes `partialFile` and ends the program with status 1,
// instead of killing it with SIGBUS and leaving a partial file behind.
class MappedReadFaultGuard {
 public:
  MappedReadFaultGuard(std::string message, std::string partialFile);
  MappedReadFaultGuard(const MappedReadFaultGuard&) = delete;
  MappedReadFaultGuard& operator=(const MappedReadFaultGuard&) = delete;
  ~MappedReadFaultGuard();

 private:
  std::string message_;
  std::string partialFile_;
};

}  // namespace kvowrapper
