#include <fcntl.h>
#include <sys/file.h>
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

int64_t readSome(const FileHandle& file, char* buffer, size_t size) {
  for (;;) {
    const ssize_t got = read(descriptor(file), buffer, size);
    if (got >= 0 || errno != EINTR) return got;
  }
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
