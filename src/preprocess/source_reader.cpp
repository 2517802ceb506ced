#include "preprocess/source_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kvowrapper {

namespace {

// Mapping pays from a few pages on; a small file is read faster than it is mapped and unmapped.
constexpr uint64_t kMapThreshold = uint64_t{64} * 1024;
// How much is read at once where a file is not mapped: a 32-bit process finds no room for a
// source of 2 GiB in one piece.
constexpr size_t kReadWindow = size_t{16} << 20;
constexpr size_t kStreamWindow = size_t{256} * 1024;  // pipes and devices

std::unique_ptr<char[]> allocateBytes(size_t size) {
  try {
    return std::make_unique_for_overwrite<char[]>(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

TextEncoding detectEncoding(std::string_view start) {
  if (start.starts_with("\xFF\xFE")) return TextEncoding::kUtf16Le;
  if (start.starts_with("\xFE\xFF")) return TextEncoding::kUtf16Be;
  if (start.starts_with("\xEF\xBB\xBF")) return TextEncoding::kUtf8WithMark;
  return TextEncoding::kBytes;
}

bool isUtf16(TextEncoding encoding) {
  return encoding == TextEncoding::kUtf16Le || encoding == TextEncoding::kUtf16Be;
}

size_t findTextEnd(std::string_view data, size_t from, TextEncoding encoding, size_t phase) {
  if (!isUtf16(encoding)) return data.find('\0', from);
  if (((from + phase) & 1) != 0) ++from;
  size_t at = from;
  // Four units at a time: text beyond ASCII in UTF-16 is full of zero bytes, so a search for a
  // zero byte would stop at nearly every unit (it made a 64 MiB source take three times as long).
  for (; at + 8 <= data.size(); at += 8) {
    uint64_t word = 0;
    std::memcpy(&word, data.data() + at, 8);
    // Marks the 16-bit lanes that are zero; the lowest mark is exact, whatever the byte order.
    const uint64_t zero = (word - 0x0001000100010001ULL) & ~word & 0x8000800080008000ULL;
    if (zero == 0) continue;
    for (size_t unit = at; unit < at + 8; unit += 2) {
      if (data[unit] == '\0' && data[unit + 1] == '\0') return unit;
    }
  }
  for (; at + 1 < data.size(); at += 2) {
    if (data[at] == '\0' && data[at + 1] == '\0') return at;
  }
  return std::string_view::npos;
}

SourceReader::Status SourceReader::start(const FileHandle& source) {
  source_ = &source;
  const auto size = regularFileSize(source);
  if (size.has_value() && *size >= kMapThreshold && startMapped(*size)) return Status::kOk;
  // A small file is read whole at once; the size is only a hint, since a file changes.
  capacity_ = !size.has_value()     ? kStreamWindow
              : *size < kReadWindow ? static_cast<size_t>(*size) + 1
                                    : kReadWindow;
  buffer_ = allocateBytes(capacity_);
  if (buffer_ == nullptr) return Status::kOutOfMemory;
  // The mark decides how the end of the text is found, so it is read whole first. A small file
  // is read to its end here, so that its one window is known to be the last: the output buffer
  // is then sized to it.
  while ((size_ < 3 || (size.has_value() && size_ < capacity_)) && !isAtEnd_) {
    if (readSome() != Status::kOk) return failure_;
  }
  encoding_ = detectEncoding(std::string_view(buffer_.get(), size_));
  const size_t end = findTextEnd(std::string_view(buffer_.get(), size_), 0, encoding_);
  if (end != std::string_view::npos) {
    size_ = end;
    isAtEnd_ = true;
  }
  searched_ = size_;
  return Status::kOk;
}

bool SourceReader::startMapped(uint64_t size) {
  if (!mapping_.map(*source_, size)) return false;
  const std::string_view all(mapping_.data(), mapping_.size());
  encoding_ = detectEncoding(all);
  // Populated a window at a time up to the end of the text: a NUL early in a huge (or sparse)
  // file leaves the rest untouched.
  constexpr size_t kWindow = size_t{4} << 20;
  mapped_ = all;
  for (size_t at = 0; at < all.size(); at += kWindow) {
    const size_t length = std::min(kWindow, all.size() - at);
    mapping_.populate(at, length);
    const size_t end = findTextEnd(all.substr(0, at + length), at, encoding_);
    if (end != std::string_view::npos) {
      mapped_ = all.substr(0, end);
      break;
    }
  }
  isAtEnd_ = true;
  return true;
}

SourceReader::Status SourceReader::readSome() {
  const int64_t got = kvowrapper::readSome(*source_, buffer_.get() + size_, capacity_ - size_);
  if (got < 0) return failure_ = Status::kReadFailed;
  if (got == 0) {
    isAtEnd_ = true;
    return Status::kOk;
  }
  size_ += static_cast<size_t>(got);
  return Status::kOk;
}

bool SourceReader::more(size_t keep, std::string_view& window) {
  if (isMapped()) {
    window = isHandedOut_ ? mapped_.substr(mapped_.size() - keep) : mapped_;
    isHandedOut_ = true;
    return true;
  }
  if (hasHandedOut_) {
    // What was handed out goes, but for its last `keep` bytes.
    const size_t dropped = size_ - keep;
    std::memmove(buffer_.get(), buffer_.get() + dropped, keep);
    base_ += dropped;
    size_ = keep;
    searched_ = searched_ > dropped ? searched_ - dropped : 0;
  }
  const size_t before = hasHandedOut_ ? size_ : 0;
  while (size_ == before && !isAtEnd_) {
    if (size_ == capacity_) {
      // Nothing could be handed on from a whole window: it has to grow.
      auto grown = allocateBytes(capacity_ * 2);
      if (grown == nullptr) {
        failure_ = Status::kOutOfMemory;
        return false;
      }
      std::memcpy(grown.get(), buffer_.get(), size_);
      buffer_ = std::move(grown);
      capacity_ *= 2;
    }
    if (readSome() != Status::kOk) return false;
    const std::string_view read(buffer_.get(), size_);
    const size_t end = findTextEnd(read, searched_, encoding_, static_cast<size_t>(base_ & 1));
    if (end != std::string_view::npos) {
      size_ = end;
      isAtEnd_ = true;
    }
    // A UTF-16 unit cut by the end of this read is looked at again with the next.
    searched_ = isUtf16(encoding_) ? size_ - ((base_ + size_) & 1) : size_;
  }
  window = std::string_view(buffer_.get(), size_);
  hasHandedOut_ = true;
  isHandedOut_ = isAtEnd_;
  return true;
}

}  // namespace kvowrapper
