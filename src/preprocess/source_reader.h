#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "preprocess/text_input.h"
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
// U+0000 unit, units starting where `phase` plus the offset is even; npos when it does not end
// in `data`.
size_t findTextEnd(std::string_view data, size_t from, TextEncoding encoding, size_t phase = 0);

// The bytes of a resource source up to the end of its text (a byte-order mark included), in
// windows. Nothing past the end of the text is read or mapped in. A regular file of some size is
// mapped and handed out whole: on the bench's realistic 64 MiB source, reading into fresh memory
// took 190 ms of a 330 ms run.
// Anything else is read a window at a time.
class SourceReader : public TextInput {
 public:
  enum class Status { kOk, kReadFailed, kOutOfMemory };

  // Starts on the open source, which must outlive the reader, and reads enough to know its
  // encoding. Writes no message.
  Status start(const FileHandle& source);

  TextEncoding encoding() const { return encoding_; }
  bool isMapped() const { return mapping_.isMapped(); }
  // Why the last call to more() failed.
  Status failure() const { return failure_; }

  bool more(size_t keep, std::string_view& window) override;
  bool isAtEnd() const override { return isAtEnd_ && isHandedOut_; }

 private:
  bool startMapped(uint64_t size);
  Status readSome();

  const FileHandle* source_ = nullptr;
  FileMapping mapping_;
  std::string_view mapped_;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t size_ = 0;           // bytes in the buffer
  size_t searched_ = 0;       // the buffer holds no end of text before this
  uint64_t base_ = 0;         // the offset in the file of the buffer's first byte
  bool isAtEnd_ = false;      // the buffer holds the end of the text
  bool isHandedOut_ = false;  // and the last window handed it out
  bool hasHandedOut_ = false;
  TextEncoding encoding_ = TextEncoding::kBytes;
  Status failure_ = Status::kOk;
};

}  // namespace kvowrapper
