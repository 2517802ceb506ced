#include "preprocess/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kvowrapper {

namespace {

// Largest transfer asked of one call; the Windows runtime counts in unsigned int.
constexpr size_t kMaxTransfer = size_t{1} << 30;

#ifdef _WIN32
int64_t readOnce(int fd, char* buffer, size_t size) {
  return _read(fd, buffer, static_cast<unsigned>(size));
}
int64_t writeOnce(int fd, const char* data, size_t size) {
  return _write(fd, data, static_cast<unsigned>(size));
}
#else
int64_t readOnce(int fd, char* buffer, size_t size) {
  return read(fd, buffer, size);
}
int64_t writeOnce(int fd, const char* data, size_t size) {
  return write(fd, data, size);
}
#endif

}  // namespace

#ifdef _WIN32

int openForReading(const char* path) {
  return _open(path, _O_RDONLY | _O_BINARY);
}

int openForWriting(const char* path) {
  return _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}

bool truncateFile(int fd, uint64_t size) {
  return _chsize_s(fd, static_cast<__int64>(size)) == 0;
}

bool closeFile(int fd) {
  return _close(fd) == 0;
}

#else

int openForReading(const char* path) {
  return open(path, O_RDONLY | O_CLOEXEC);  // NOLINT(cppcoreguidelines-pro-type-vararg)
}

// No O_TRUNC: ext4 flushes a file truncated to nothing and written again to disk when it is
// closed, which costs more than all the rest of a typical run. The writer overwrites in place
// and cuts the file to length at the end instead.
int openForWriting(const char* path) {
  return open(path, O_WRONLY | O_CREAT | O_CLOEXEC,
              0666);  // NOLINT(cppcoreguidelines-pro-type-vararg)
}

bool truncateFile(int fd, uint64_t size) {
  return ftruncate(fd, static_cast<off_t>(size)) == 0;
}

bool closeFile(int fd) {
  return close(fd) == 0;
}

#endif

int64_t readSome(int fd, char* buffer, size_t size) {
  for (;;) {
    const int64_t got = readOnce(fd, buffer, std::min(size, kMaxTransfer));
    if (got >= 0 || errno != EINTR) return got;
  }
}

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const int64_t put = writeOnce(fd, data, std::min(size, kMaxTransfer));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

}  // namespace kvowrapper
