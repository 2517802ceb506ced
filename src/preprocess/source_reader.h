#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "system/file_access.h"

namespace kvowrapper {

// How a source's bytes are taken, by its first bytes; nothing else guesses an encoding.
enum class TextEncoding {
  kBytes,         // no byte-order mark: bytes as they are (the ANSI code page on Windows)
  kUtf8WithMark,  // EF BB BF: bytes as they are, values written in UTF-8
  kUtf16Le,       // FF FE
  kUtf16Be,       // FE FF
};

TextEncoding detectEncoding(std::string_view start);
bool isUtf16(TextEncoding encoding);

// Where the text in `data` ends at or after `from`: the first NUL byte or, for UTF-16 (`isWide`),
// the first U+0000 unit, units starting at even offsets; npos when it does not end in `data`.
size_t findTextEnd(std::string_view data, size_t from, bool isWide);

// The text of a resource source, read a window at a time into one buffer that is used again and
// again. Sources are read, never mapped: on the bench's realistic 64 MiB source, the first touch
// of every mapped page took 40 ms where reading it in windows took 17, and fresh memory for a
// whole text costs a page fault every 4 KiB (190 ms for 64 MiB). The text ends at its first NUL
// (for UTF-16, its first U+0000 unit); nothing after it is read. A UTF-16 text comes as code
// units in this machine's byte order, its byte-order mark and an odd last byte kept aside.
class SourceReader {
 public:
  // `source` must outlive the reader.
  explicit SourceReader(const FileHandle& source) : source_(source) {}

  // Reads enough to know the encoding. False when reading fails.
  bool start();
  TextEncoding encoding() const { return encoding_; }
  std::string_view mark() const { return {mark_, isUtf16(encoding_) ? size_t{2} : 0}; }
  std::string_view oddByte() const { return {&odd_, oddSize_}; }

  // The next window of the text, in bytes (a whole number of units): its first `keep` bytes are
  // the last `keep` of the window before, then come the bytes that follow them, at least one more
  // unless the text has ended. Valid until the next call. None when reading fails.
  std::optional<std::string_view> next(size_t keep);
  // True once the last window handed out reaches the end of the text.
  bool isAtEnd() const { return isAtEnd_; }

 private:
  bool readMore();

  const FileHandle& source_;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t size_ = 0;       // bytes in the buffer, an odd last byte of UTF-16 included
  size_t handedOut_ = 0;  // bytes of the last window
  bool isAtEnd_ = false;
  bool hasEnded_ = false;  // no more bytes come from the source
  TextEncoding encoding_ = TextEncoding::kBytes;
  char mark_[2] = {};
  char odd_ = 0;
  size_t oddSize_ = 0;
};

}  // namespace kvowrapper
