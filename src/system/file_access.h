#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kvowrapper {

// Platform file access. Paths are UTF-8 (on Windows converted to UTF-16 for the wide API, with a
// \\?\ prefix where they reach MAX_PATH); files are binary, nothing is translated.

// An open file, closed when the handle goes.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(intptr_t native) : native_(native) {}
  FileHandle(FileHandle&& other) noexcept : native_(std::exchange(other.native_, kNone)) {}
  FileHandle& operator=(FileHandle&& other) noexcept {
    if (this != &other) {
      close();
      native_ = std::exchange(other.native_, kNone);
    }
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

// True when a regular file stands at `path` (following links).
bool isFileAt(const std::string& path);

// Opens the resource source for reading; on Windows sharing read, write and delete, so editors
// and version control keep working while a run reads it.
FileHandle openSource(const std::string& path);

// Opens the regular file at `path` to hold a lock on it, without following a link or blocking on
// a FIFO: on POSIX for reading and writing where the user may write it, else for reading; on
// Windows for reading. Not open when nothing stands there (`isMissing`), something else does, or
// it cannot be opened.
FileHandle openRegularFile(const std::string& path, bool& isMissing);

// Opens the existing file at `path` for writing, without following a link or emptying it.
FileHandle openForWriting(const std::string& path);

enum class LockResult { kLocked, kBusy, kUnavailable };

// Takes the exclusive lock on `file`, the file at `path`, that gives a run its turn on the
// processed name; a reader cannot take it. With `isWaiting`, waits while another process holds
// it, saying so once on standard error after about five seconds (naming `source`, and a process
// that holds the lock where the system tells); else kBusy at once. kUnavailable where the file
// system has no locks, or where the lock in the way is a reader's, not a run's. On POSIX it is a
// lock on the open file, which goes with the handle. On Windows, where an open file cannot be
// replaced, it is a mutex named after the file's full path, held until the wrapper ends; the
// file is closed while it waits and opened at `path` again after.
LockResult lockFile(FileHandle& file, const std::string& path, bool isWaiting,
                    const std::string& source);

// What tells a file apart from every other on its machine, as long as it is not written; empty
// when `path` names nothing (a link is not followed).
std::string fileIdentity(const FileHandle& file);
std::string fileIdentityAt(const std::string& path);

// True when the open file has one name only.
bool hasOneName(const FileHandle& file);

// Empties an open file and sets its position to the start.
bool truncateFile(const FileHandle& file);

// Sets an open file's position to its start; false where it has none (a pipe).
bool rewindFile(const FileHandle& file);

// Gives `to` the permission bits of `from` (POSIX; Windows files have none).
void copyPermissions(const FileHandle& from, const FileHandle& to);

// Lets the open file, and with it its lock, pass to the compiler that replaces the wrapper on
// POSIX. (On Windows the wrapper holds it while the compiler runs.)
void passToCompiler(const FileHandle& file);

// Bytes read into `buffer` (at most `size`): 0 at the end, -1 on an error.
int64_t readSome(const FileHandle& file, char* buffer, size_t size);

// Creates a new file (never an existing one, never through a link), writable, with mode 0666
// less the umask. Not inherited by the compiler unless passed to it.
FileHandle createNewFile(const std::string& path);

bool writeAll(const FileHandle& file, const char* data, size_t size);

// Ends the writing of the new file `written` at `path`: not open when the data may not have
// reached the file system, as a failed close says; else a handle on the file fit to hold its lock
// while the compiler reads it (on Windows one for reading, which a compiler that shares its input
// for reading alone can open beside).
FileHandle finishWriting(FileHandle written, const std::string& path);

enum class ReplaceResult { kReplaced, kIsDirectory, kFailed };

// Puts the file `from` in place under `to` in one step: `to` holds either its old content or the
// new one, whole. Whatever was at `to` (a file, a link, a FIFO) is replaced, never written
// through; a directory there is left alone. `openAtTo`, the caller's handle on the file at `to`
// if any, is closed: once it is replaced on POSIX, so that its lock holds until then; before
// trying on Windows, where an open file cannot be replaced.
ReplaceResult replaceFile(const std::string& from, const std::string& to, FileHandle& openAtTo);

// Removes a file; whether that works is not looked at.
void removeFile(const std::string& path);

// The bytes that stand for the UTF-8 `text` in a source without a byte-order mark: on Windows its
// characters in the ANSI code page, none when the code page lacks one (a best fit, such as e for
// é, is lacking too); elsewhere the bytes as they are.
std::optional<std::string> toAnsiText(std::string_view text);

// The bytes that stand for the command-line `text` in a UTF-8 source: on Windows the text itself,
// none when it holds a lone surrogate, which UTF-8 cannot hold; elsewhere the bytes as they are.
std::optional<std::string> toUtf8Text(std::string_view text);

// What the texts of a source without a mark are, for messages: "UTF-8" on Windows where the ANSI
// code page is UTF-8, else "the ANSI code page".
std::string_view ansiCodePageName();

// Writes `line` to standard error as one write (on Windows in the console's ANSI code page).
void writeToStandardError(std::string_view line);

}  // namespace kvowrapper
