#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#if KVOWRAPPER_HAS_SYSMACROS
#include <sys/sysmacros.h>
#endif

#include <array>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "system/file_access.h"
#include "system/messages.h"

namespace kvowrapper {

namespace fs = std::filesystem;

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

bool isFileAt(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

FileHandle openSource(const std::string& path) {
  return FileHandle(open(path.c_str(), O_RDONLY | O_CLOEXEC));  // NOLINT(*-vararg)
}

FileHandle openRegularFile(const std::string& path, bool& isMissing) {
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int opened = open(path.c_str(), O_RDWR | kFlags);  // NOLINT(*-vararg)
  if (opened < 0 && (errno == EACCES || errno == EROFS || errno == ETXTBSY)) {
    opened = open(path.c_str(), O_RDONLY | kFlags);  // NOLINT(*-vararg)
  }
  isMissing = opened < 0 && errno == ENOENT;
  FileHandle file(opened);
  struct stat status {};
  if (!file.isOpen() || fstat(opened, &status) != 0 || !S_ISREG(status.st_mode)) return {};
  return file;
}

FileHandle openForWriting(const std::string& path) {
  return FileHandle(  // NOLINTNEXTLINE(*-vararg)
      open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
}

namespace {

// A live process other than this one that holds a lock on `file`, from the lock lines Linux shows
// for each open file under /proc; none where it cannot tell.
std::optional<std::string> findLockHolder(const FileHandle& file) {
  struct stat status {};
  if (fstat(descriptor(file), &status) != 0) return std::nullopt;
  std::array<char, 64> needle{};
  std::snprintf(needle.data(), needle.size(), " %02x:%02x:%ju ", major(status.st_dev),
                minor(status.st_dev), static_cast<uintmax_t>(status.st_ino));
  const std::string self = std::to_string(getpid());
  std::error_code error;
  for (const auto& process : fs::directory_iterator("/proc", error)) {
    const std::string pid = process.path().filename().string();
    if (pid == self || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    for (const auto& open : fs::directory_iterator(process.path() / "fdinfo", error)) {
      std::ifstream info(open.path());
      for (std::string line; std::getline(info, line);) {
        if (line.starts_with("lock:") && line.find(needle.data()) != std::string::npos) return pid;
      }
    }
  }
  return std::nullopt;
}

}  // namespace

namespace {

// One try at the lock: kBusy when another holds it.
LockResult tryLock(int file) {
#if KVOWRAPPER_HAS_OFD_LOCKS
  // An open-file-description lock: a write lock needs a descriptor open for writing, it stays
  // with the descriptor through exec, and it is not dropped when the compiler closes a
  // descriptor of its own on the file (as a process's record lock would be).
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (fcntl(file, F_OFD_SETLK, &lock) == 0) return LockResult::kLocked;
  if (errno != EAGAIN && errno != EACCES) return LockResult::kUnavailable;  // no locks here
  struct flock holder {};
  holder.l_type = F_WRLCK;
  holder.l_whence = SEEK_SET;
  // Runs take write locks only: a read lock in the way is a reader's, who cannot stall a build.
  if (fcntl(file, F_OFD_GETLK, &holder) == 0 && holder.l_type == F_RDLCK) {
    return LockResult::kUnavailable;
  }
#else
  // flock's lock goes with the open file too, but anyone who can read the file can take it.
  if (flock(file, LOCK_EX | LOCK_NB) == 0) return LockResult::kLocked;
  if (errno != EWOULDBLOCK) return LockResult::kUnavailable;  // no locks here
#endif
  return LockResult::kBusy;
}

}  // namespace

LockResult lockFile(FileHandle& file, const std::string& /*path*/, bool isWaiting,
                    const std::string& source) {
  constexpr long kMillisecond = 1000000;
  constexpr long kWaitBeforeSaying = 5000;  // milliseconds
  long waited = 0;
  long interval = 1;
  for (;;) {
    errno = 0;
    const LockResult result = tryLock(descriptor(file));
    if (errno == EINTR) continue;
    if (result != LockResult::kBusy || !isWaiting) return result;
    // Polled rather than blocking, so that the wait can be reported without touching signals.
    if (waited < kWaitBeforeSaying && waited + interval >= kWaitBeforeSaying) {
      const auto pid = findLockHolder(file);
      if (pid.has_value()) {
        report(Message::kWaitingForLockHolder, {source, *pid});
      } else {
        report(Message::kWaitingForLock, {source});
      }
    }
    pause(interval * kMillisecond);
    waited += interval;
    interval = interval < 32 ? interval * 2 : interval;
  }
}

namespace {

// The file's device and inode, and the time it was last written, since a removed file's inode
// number is soon given to another.
std::string identityOf(const struct stat& status) {
#if KVOWRAPPER_HAS_MTIM
  const std::string written =
      std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec);
#else
  const std::string written = std::to_string(status.st_mtime);
#endif
  return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino) + ":" + written;
}

}  // namespace

std::string fileIdentity(const FileHandle& file) {
  struct stat status {};
  return fstat(descriptor(file), &status) == 0 ? identityOf(status) : std::string();
}

std::string fileIdentityAt(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 ? identityOf(status) : std::string();
}

bool hasOneName(const FileHandle& file) {
  struct stat status {};
  return fstat(descriptor(file), &status) == 0 && status.st_nlink == 1;
}

bool truncateFile(const FileHandle& file) {
  return ftruncate(descriptor(file), 0) == 0 && rewindFile(file);
}

bool rewindFile(const FileHandle& file) {
  return lseek(descriptor(file), 0, SEEK_SET) == 0;
}

void copyPermissions(const FileHandle& from, const FileHandle& to) {
  struct stat status {};
  if (fstat(descriptor(from), &status) == 0) fchmod(descriptor(to), status.st_mode & 07777);
}

void passToCompiler(const FileHandle& file) {
  fcntl(descriptor(file), F_SETFD, 0);  // NOLINT(cppcoreguidelines-pro-type-vararg)
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

FileHandle finishWriting(FileHandle written, const std::string& /*path*/) {
  // Closing a duplicate reports what closing the file would (NFS writes back then), and keeps the
  // descriptor, whose lock the compiler is to hold.
  if (::close(dup(descriptor(written))) != 0) return {};
  return written;
}

namespace {

ReplaceResult replace(const std::string& from, const std::string& to) {
  struct stat existing {};
  if (lstat(to.c_str(), &existing) != 0) {
    return rename(from.c_str(), to.c_str()) == 0 ? ReplaceResult::kReplaced
                                                 : ReplaceResult::kFailed;
  }
  if (S_ISDIR(existing.st_mode)) return ReplaceResult::kIsDirectory;
#if KVOWRAPPER_HAS_EXCHANGE
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
#endif
  if (rename(from.c_str(), to.c_str()) == 0) return ReplaceResult::kReplaced;
  return errno == EISDIR ? ReplaceResult::kIsDirectory : ReplaceResult::kFailed;
}

}  // namespace

ReplaceResult replaceFile(const std::string& from, const std::string& to, FileHandle& openAtTo) {
  const ReplaceResult result = replace(from, to);
  if (result == ReplaceResult::kReplaced) openAtTo.close();
  return result;
}

void removeFile(const std::string& path) {
  unlink(path.c_str());
}

std::optional<std::string> toAnsiText(std::string_view text) {
  return std::string(text);
}

std::optional<std::string> toUtf8Text(std::string_view text) {
  return std::string(text);
}

std::string_view ansiCodePageName() {
  return "the ANSI code page";
}

void writeToStandardError(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace kvowrapper
