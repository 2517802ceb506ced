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

// Opens the resource source for reading; on Windows sharing read, write and delete, so editors
// and version control keep working while a run holds it. On POSIX the descriptor is inherited by
// the compiler, which so keeps the source's lock until it exits.
FileHandle openSource(const std::string& path);

// Takes an exclusive advisory lock on the open source, waiting while another run holds it and
// saying so once on standard error after about five seconds. False, at once, where the file
// system has no locks. On Windows the lock covers a range past any data, so reads go on.
bool lockSource(const FileHandle& source, const std::string& path);

// Bytes read into `buffer` (at most `size`): 0 at the end, -1 on an error.
int64_t readSome(const FileHandle& file, char* buffer, size_t size);

// Creates a new file (never an existing one, never through a link), writable, with mode 0666
// less the umask.
FileHandle createNewFile(const std::string& path);

bool writeAll(const FileHandle& file, const char* data, size_t size);

enum class ReplaceResult { kReplaced, kIsDirectory, kFailed };

// Puts the file `from` in place under `to` in one step: `to` holds either its old content or the
// new one, whole. Whatever was at `to` (a file, a link, a FIFO) is replaced, never written
// through; a directory there is left alone.
ReplaceResult replaceFile(const std::string& from, const std::string& to);

// Removes a file; whether that works is not looked at.
void removeFile(const std::string& path);

// The bytes that stand for the UTF-8 `text` in a source without a byte-order mark: on Windows its
// characters in the ANSI code page, none when the code page lacks one (a best fit, such as e for
// é, is lacking too); elsewhere the bytes as they are.
std::optional<std::string> toAnsiText(std::string_view text);

// Writes `line` to standard error as one write (on Windows in the console's ANSI code page).
void writeToStandardError(std::string_view line);

}  // namespace kvowrapper
