#pragma once

#include <cstddef>
#include <memory>
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

// Where the text of `data` ends at or after `from`: the first NUL byte, or for UTF-16 the first
// U+0000 unit (at an even offset); npos when it does not end in `data`.
size_t findTextEnd(std::string_view data, size_t from, TextEncoding encoding);

// The text of a resource source: its bytes up to the end of its text (the byte-order mark
// included). Nothing past that end is read, mapped in or kept. A regular file of some size is
// mapped rather than copied; copying 64 MiB into fresh memory costs more than processing it.
class SourceText {
 public:
  enum class Status { kOk, kReadFailed, kOutOfMemory };

  // Loads the text from the open source; writes no message.
  Status load(const FileHandle& source);

  std::string_view bytes() const { return bytes_; }
  TextEncoding encoding() const { return encoding_; }
  bool isMapped() const { return mapping_.isMapped(); }

 private:
  bool loadMapped(const FileHandle& source, uint64_t size);
  Status loadRead(const FileHandle& source, uint64_t sizeHint);

  FileMapping mapping_;
  std::unique_ptr<char[]> buffer_;
  std::string_view bytes_;
  TextEncoding encoding_ = TextEncoding::kBytes;
};

}  // namespace kvowrapper
