#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "system/file_access.h"

namespace kvowrapper {

namespace {

int descriptor(const FileHandle& file) {
  return static_cast<int>(file.native());
}

FileError errorOf(int error) {
  switch (error) {
    case 0:
      return FileError::kNone;
    case EEXIST:
      return FileError::kExists;
    case EACCES:
    case EPERM:
    case EROFS:
    case EBUSY:
    case EXDEV:
      return FileError::kNotAllowed;
    case ENOSPC:
    case EDQUOT:
      return FileError::kNoRoom;
    case EISDIR:
      return FileError::kIsDirectory;
    case EOPNOTSUPP:
    case EINVAL:
      return FileError::kUnsupported;
    default:
      return FileError::kOther;
  }
}

Opened opened(int file) {
  return file >= 0 ? Opened{FileHandle(file), FileError::kNone}
                   : Opened{FileHandle(), errorOf(errno)};
}

std::string folderOf(const std::string& path) {
  return path.substr(0, folderEnd(path)) + ".";
}

}  // namespace

size_t folderEnd(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? 0 : slash + 1;
}

bool FileHandle::close() {
  if (!isOpen()) return true;
  return ::close(static_cast<int>(std::exchange(native_, kNone))) == 0;
}

FileHandle openSource(const std::string& path) {
  return FileHandle(open(path.c_str(), O_RDONLY | O_CLOEXEC));
}

Opened openToLock(const std::string& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) {
    return {FileHandle(), errno == ENOENT ? FileError::kMissing : FileError::kOther};
  }
  if (S_ISDIR(status.st_mode)) return {FileHandle(), FileError::kIsDirectory};
  if (!S_ISREG(status.st_mode)) return {FileHandle(), FileError::kOther};
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  // Read and write first: NFS emulates flock by a lock that needs a file open for writing.
  for (const int access : {O_RDWR, O_RDONLY, O_WRONLY}) {
    FileHandle file(open(path.c_str(), access | kFlags));
    if (file.isOpen()) {
      // Something else may have taken the name since it was looked at.
      if (fstat(descriptor(file), &status) != 0 || !S_ISREG(status.st_mode)) break;
      return {std::move(file), FileError::kNone};
    }
    if (errno == ENOENT) return {FileHandle(), FileError::kMissing};
  }
  return {FileHandle(), FileError::kNotAllowed};
}

FileHandle openFolderOf(const std::string& path) {
  return FileHandle(open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

FileHandle openForWriting(const std::string& path) {
  FileHandle file(open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat status {};
  if (!file.isOpen() || fstat(descriptor(file), &status) != 0 || !S_ISREG(status.st_mode)) {
    return {};
  }
  return file;
}

Opened createNewFile(const std::string& path) {
  return opened(open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
}

Opened createUnnamedFile(const std::string& path) {
#if KVOWRAPPER_HAS_TMPFILE
  // Naming it goes through /proc, which a system may lack.
  if (access("/proc/self/fd", X_OK) != 0) return {FileHandle(), FileError::kUnsupported};
  Opened file = opened(open(folderOf(path).c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0666));
  // Older kernels take O_TMPFILE for O_DIRECTORY; some file systems refuse it.
  if (file.error == FileError::kIsDirectory || file.error == FileError::kOther) {
    file.error = FileError::kUnsupported;
  }
  return file;
#else
  (void)path;
  return {FileHandle(), FileError::kUnsupported};
#endif
}

FileError nameUnnamedFile(const FileHandle& file, const std::string& path) {
  // Linking an open file by its descriptor alone needs a privilege; through /proc it does not.
  const std::string self = "/proc/self/fd/" + std::to_string(descriptor(file));
  if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    return FileError::kNone;
  }
  return errorOf(errno);
}

std::optional<size_t> readSome(const FileHandle& file, char* buffer, size_t size) {
  for (;;) {
    const ssize_t got = read(descriptor(file), buffer, size);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) return std::nullopt;
  }
}

FileError writeAll(const FileHandle& file, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t put = write(descriptor(file), data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0)
      return errorOf(errno) == FileError::kNoRoom ? FileError::kNoRoom : FileError::kOther;
    if (put == 0) return FileError::kOther;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return FileError::kNone;
}

bool finishWriting(FileHandle& file) {
  // Closing a duplicate reports what closing the file would (NFS writes back then), and keeps
  // the descriptor.
  return ::close(dup(descriptor(file))) == 0;
}

namespace {

std::string identityOf(const struct stat& status) {
  return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
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

void copyPermissions(const std::string& path, const FileHandle& file) {
  struct stat status {};
  if (lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
    fchmod(descriptor(file), status.st_mode & 07777);
  }
}

FileError replaceFile(const std::string& from, const std::string& to, FileHandle& openAtTo) {
#if KVOWRAPPER_HAS_EXCHANGE
  // ext4 flushes the new data when a rename replaces a file (about 160 us for 8 KiB here);
  // exchanging the names and removing the old file costs about 35 us.
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) == 0) {
    if (unlink(from.c_str()) != 0 && errno == EISDIR) {
      // A directory took the name meanwhile: give it back.
      renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE);
      return FileError::kIsDirectory;
    }
    openAtTo.close();
    return FileError::kNone;
  }
#endif
  if (rename(from.c_str(), to.c_str()) != 0) return errorOf(errno);
  openAtTo.close();
  return FileError::kNone;
}

void removeFile(const std::string& path) {
  unlink(path.c_str());
}

void pauseFor(int milliseconds) {
  const timespec interval{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  nanosleep(&interval, nullptr);
}

}  // namespace kvowrapper
