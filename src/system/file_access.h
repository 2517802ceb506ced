#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kvowrapper {

// Platform file access. Paths are UTF-8 (on Windows converted to UTF-16 for the wide API, with a
// \\?\ prefix where they reach MAX_PATH); files are binary, nothing is translated. Nothing here
// prints: a failed call says why by its value.

// An open file, closed when the handle goes.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(intptr_t native) : native_(native) {}
  FileHandle(FileHandle&& other) noexcept : native_(std::exchange(other.native_, kNone)) {}
  // The handle held before goes with `other`, which closes it.
  FileHandle& operator=(FileHandle&& other) noexcept {
    std::swap(native_, other.native_);
    return *this;
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() { close(); }

  bool isOpen() const { return native_ != kNone; }
  intptr_t native() const { return native_; }
  // Closes now; false when the close reports an error (written data may be lost).
  bool close();

 private:
  static constexpr intptr_t kNone = -1;  // also INVALID_HANDLE_VALUE
  intptr_t native_ = kNone;
};

// Why a file call failed, in the classes that the processed file's life tells apart.
enum class FileError {
  kNone,
  kMissing,
  kExists,
  kNotAllowed,  // the folder or the name refuses it: EACCES, EPERM, EROFS, EBUSY, EXDEV;
                // on Windows a sharing or access failure
  kNoRoom,      // ENOSPC, EDQUOT; ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL
  kIsDirectory,
  kIsDevice,     // on Windows, where a device name (AUX, COM1) cannot be replaced
  kUnsupported,  // the system or the file system lacks the call
  kOther,
};

// A file opened or made by a call, or why it could not be.
struct Opened {
  FileHandle file;
  FileError error = FileError::kNone;
};

// Where the folder part of `path` ends: after its last separator ('/' on POSIX; '/', '\\' or
// the ':' of a drive on Windows), or 0.
size_t folderEnd(std::string_view path);

// Opens the resource source for reading; on Windows sharing read, write and delete, so editors
// and version control keep working while a run reads it, and not open for a device (AUX.rsrc),
// which would block the read.
FileHandle openSource(const std::string& path);

// Opens the regular file at `path` to hold a lock on it, without following a link or blocking on
// a FIFO: on POSIX for reading and writing, else for reading, else for writing, whichever its
// mode and leases let; on Windows for its attributes only. Else why: kMissing, kIsDirectory,
// kIsDevice, kNotAllowed (a regular file that cannot be opened), kOther (a link, a FIFO, ...).
Opened openToLock(const std::string& path);

// Opens the folder that holds `path` to hold a lock on it; not open where it cannot be.
FileHandle openFolderOf(const std::string& path);

// Opens the existing regular file at `path` for writing, without following a link or emptying it.
FileHandle openForWriting(const std::string& path);

// Creates a new file at `path` (never an existing one, never through a link), for reading and
// writing, with mode 0666 less the umask; kExists when something stands there.
Opened createNewFile(const std::string& path);

// Creates a new file that has no name yet in the folder of `path`, as createNewFile makes it, so
// that nothing is left when the run ends before it is named (Linux's O_TMPFILE); kUnsupported
// where the system or the file system cannot.
Opened createUnnamedFile(const std::string& path);

// Gives the unnamed file a name at `path`, where nothing may stand.
FileError nameUnnamedFile(const FileHandle& file, const std::string& path);

// How many bytes were read into `buffer` (at most `size`; 0 at the end); none on an error.
std::optional<size_t> readSome(const FileHandle& file, char* buffer, size_t size);

// Writes all of `data`: kNone, kNoRoom, or kOther for any other failure (EFBIG, EIO, ...).
FileError writeAll(const FileHandle& file, const char* data, size_t size);

// Ends the writing of a file: false when the data may not have reached the file system, as a
// close says. On POSIX the handle stays open (its lock is the compiler's to hold); on Windows it
// is closed, so that a compiler that shares its input for reading alone can open it.
bool finishWriting(FileHandle& file);

// What tells a file apart from every other on its machine while it is open: its device and
// inode, or volume and file index; empty when `path` names nothing (a link is not followed).
std::string fileIdentity(const FileHandle& file);
std::string fileIdentityAt(const std::string& path);

// True when the open file has one name only.
bool hasOneName(const FileHandle& file);

// Empties an open file and sets its position to the start.
bool truncateFile(const FileHandle& file);

// Sets an open file's position to its start; false where it has none (a pipe).
bool rewindFile(const FileHandle& file);

// Gives `file` the permission bits of the file at `path`, read by name so that a file the user
// may not open counts too. Nothing on Windows, whose files have no such bits.
void copyPermissions(const std::string& path, const FileHandle& file);

// Puts the file `from` in place under `to` in one step: `to` holds either its old content or the
// new one, whole. Whatever was at `to` (a file, a link, a FIFO) is replaced, never written
// through; a directory there is left alone (kIsDirectory). `openAtTo`, the caller's handle on the
// file at `to` if any, is closed: once `to` names the new file on POSIX, so that a lock on it
// holds until then; before trying on Windows, where an open file cannot be replaced.
FileError replaceFile(const std::string& from, const std::string& to, FileHandle& openAtTo);

// Removes a file; whether that works is not looked at.
void removeFile(const std::string& path);

// Waits for `milliseconds`.
void pauseFor(int milliseconds);

}  // namespace kvowrapper
