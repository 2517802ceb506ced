#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "system/file_access.h"
#include "system/messages.h"

namespace kvowrapper {

namespace {

int descriptor(const FileHandle& file) {
  return static_cast<int>(file.native());
}

void pause(long nanoseconds) {
  const timespec interval{0, nanoseconds};
  nanosleep(&interval, nullptr);
}

}  // namespace

bool FileHandle::close() {
  if (!isOpen()) return true;
  return ::close(static_cast<int>(std::exchange(native_, kNone))) == 0;
}

// No O_CLOEXEC: the descriptor, and with it the lock, passes to the compiler.
FileHandle openSource(const std::string& path) {
  return FileHandle(open(path.c_str(), O_RDONLY));  // NOLINT(cppcoreguidelines-pro-type-vararg)
}

bool lockSource(const FileHandle& source, const std::string& path) {
  constexpr long kMillisecond = 1000000;
  constexpr long kWaitBeforeSaying = 5000;  // milliseconds
  long waited = 0;
  long interval = 1;
  for (;;) {
    if (flock(descriptor(source), LOCK_EX | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return false;  // no locks here: go on without
    // Polled rather than blocking, so that the wait can be reported without touching signals.
    if (waited < kWaitBeforeSaying && waited + interval >= kWaitBeforeSaying) {
      report(Message::kWaitingForLock, {path});
    }
    pause(interval * kMillisecond);
    waited += interval;
    interval = interval < 32 ? interval * 2 : interval;
  }
}

std::optional<uint64_t> regularFileSize(const FileHandle& file) {
  struct stat info {};
  if (fstat(descriptor(file), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return static_cast<uint64_t>(info.st_size);
}

int64_t readSome(const FileHandle& file, char* buffer, size_t size) {
  for (;;) {
    const ssize_t got = read(descriptor(file), buffer, size);
    if (got >= 0 || errno != EINTR) return got;
  }
}

FileMapping::~FileMapping() {
  if (data_ != nullptr) munmap(const_cast<char*>(data_), size_);  // NOLINT
}

bool FileMapping::map(const FileHandle& file, uint64_t size) {
  if (size == 0 || size > SIZE_MAX) return false;
  const auto length = static_cast<size_t>(size);
  // Not populated here: the text may end at a NUL long before the end of the file.
  void* mapping = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, descriptor(file), 0);
  if (mapping == MAP_FAILED) return false;
  char probe = 0;
  // A file that grew since its size was taken is read instead, so that nothing is lost.
  if (pread(descriptor(file), &probe, 1, static_cast<off_t>(length)) != 0) {
    munmap(mapping, length);
    return false;
  }
  data_ = static_cast<const char*>(mapping);
  size_ = length;
  return true;
}

void FileMapping::populate(size_t offset, size_t length) const {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t begin = offset / page * page;
  // Where the kernel cannot populate, pages fault in as they are read, which is only slower.
  madvise(const_cast<char*>(data_) + begin,  // NOLINT(cppcoreguidelines-pro-type-const-cast)
          offset + length - begin, MADV_POPULATE_READ);
}

FileHandle createNewFile(const std::string& path) {
  return FileHandle(open(path.c_str(),  // NOLINT(cppcoreguidelines-pro-type-vararg)
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
}

bool writeAll(const FileHandle& file, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t put = write(descriptor(file), data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

ReplaceResult replaceFile(const std::string& from, const std::string& to) {
  struct stat existing {};
  if (lstat(to.c_str(), &existing) != 0) {
    return rename(from.c_str(), to.c_str()) == 0 ? ReplaceResult::kReplaced
                                                 : ReplaceResult::kFailed;
  }
  if (S_ISDIR(existing.st_mode)) return ReplaceResult::kIsDirectory;
  // ext4 flushes the new data when a rename replaces a file (about 160 us for 8 KiB here);
  // exchanging the names and removing the old file costs about 35 us.
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) == 0) {
    if (unlink(from.c_str()) != 0 && errno == EISDIR) {
      // A directory took the name meanwhile: give it back.
      renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE);
      return ReplaceResult::kIsDirectory;
    }
    return ReplaceResult::kReplaced;
  }
  if (rename(from.c_str(), to.c_str()) == 0) return ReplaceResult::kReplaced;
  return errno == EISDIR ? ReplaceResult::kIsDirectory : ReplaceResult::kFailed;
}

void removeFile(const std::string& path) {
  unlink(path.c_str());
}

std::optional<std::string> toAnsiText(std::string_view text) {
  return std::string(text);
}

void writeToStandardError(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace kvowrapper
