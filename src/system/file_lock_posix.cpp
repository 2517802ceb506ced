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
#include <filesystem>
#include <fstream>

#include "system/file_lock.h"

namespace kvowrapper {

namespace {

int descriptor(const FileHandle& file) {
  return static_cast<int>(file.native());
}

}  // namespace

// The lock is on a file, and a run that finds the name gone while it holds the turn on the file
// that stood there makes a new one: two runs may then both believe they hold the turn.
const bool kIsTurnKeyedByName = false;

LockResult tryLockTurn(const FileHandle& file) {
  for (;;) {
    if (flock(descriptor(file), LOCK_EX | LOCK_NB) == 0) return LockResult::kLocked;
    if (errno == EINTR) continue;
    // Anything but "held by another" means no lock can be had here: ENOLCK, EOPNOTSUPP, EINVAL,
    // and EBADF from NFS, which emulates flock by a lock that needs a file open for writing.
    return errno == EWOULDBLOCK ? LockResult::kBusy : LockResult::kNoLocks;
  }
}

void moveTurnTo(const FileHandle& newFile) {
  // No other process knows the new file yet, so the lock is free; where there are no locks the
  // turn was never held.
  flock(descriptor(newFile), LOCK_EX | LOCK_NB);
}

void handTurnToCompiler(const FileHandle& lockedFile) {
  if (lockedFile.isOpen()) fcntl(descriptor(lockedFile), F_SETFD, 0);
}

std::optional<std::string> findLockHolder(const FileHandle& file) {
  // The lock lines that Linux shows for each open file under /proc name the file by device and
  // inode; any live process that has the locked open file holds the lock.
  struct stat status {};
  if (fstat(descriptor(file), &status) != 0) return std::nullopt;
  std::array<char, 64> needle{};
  std::snprintf(needle.data(), needle.size(), " %02x:%02x:%ju ", major(status.st_dev),
                minor(status.st_dev), static_cast<uintmax_t>(status.st_ino));
  const std::string self = std::to_string(getpid());
  std::error_code error;
  for (const auto& process : std::filesystem::directory_iterator("/proc", error)) {
    const std::string pid = process.path().filename().string();
    if (pid == self || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    for (const auto& open : std::filesystem::directory_iterator(process.path() / "fdinfo", error)) {
      std::ifstream info(open.path());
      for (std::string line; std::getline(info, line);) {
        if (line.starts_with("lock:") && line.find(needle.data()) != std::string::npos) return pid;
      }
    }
  }
  return std::nullopt;
}

}  // namespace kvowrapper
