#include "preprocess/source_text.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kvowrapper {

namespace {

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

size_t findTextEnd(std::string_view data, size_t from, TextEncoding encoding) {
  if (!isUtf16(encoding)) return data.find('\0', from);
  for (size_t at = from; at < data.size();) {
    const size_t zero = data.find('\0', at);
    if (zero == std::string_view::npos) return zero;
    const size_t unit = zero & ~size_t{1};
    if (unit + 1 < data.size() && data[unit] == '\0' && data[unit + 1] == '\0') return unit;
    at = unit + 2;
  }
  return std::string_view::npos;
}

SourceText::Status SourceText::load(const FileHandle& source) {
  const auto size = regularFileSize(source);
  // Mapping pays from a few pages on; a small file is read faster than it is mapped and unmapped.
  constexpr uint64_t kMapThreshold = uint64_t{64} * 1024;
  if (size.has_value() && *size >= kMapThreshold && loadMapped(source, *size)) return Status::kOk;
  return loadRead(source, size.value_or(0));
}

bool SourceText::loadMapped(const FileHandle& source, uint64_t size) {
  if (!mapping_.map(source, size)) return false;
  const std::string_view all(mapping_.data(), mapping_.size());
  encoding_ = detectEncoding(all);
  // Populated a window at a time up to the end of the text: a NUL early in a huge (or sparse)
  // file leaves the rest untouched.
  constexpr size_t kWindow = size_t{4} << 20;
  for (size_t at = 0; at < all.size(); at += kWindow) {
    const size_t length = std::min(kWindow, all.size() - at);
    mapping_.populate(at, length);
    const size_t end = findTextEnd(all.substr(0, at + length), at, encoding_);
    if (end != std::string_view::npos) {
      bytes_ = all.substr(0, end);
      return true;
    }
  }
  bytes_ = all;
  return true;
}

// The size of a regular file is only a hint: pipes and devices report none, and a file changes.
SourceText::Status SourceText::loadRead(const FileHandle& source, uint64_t sizeHint) {
  constexpr size_t kFirstCapacity = size_t{64} * 1024;
  // One byte beyond the expected size lets the read that reports the end need no regrowth.
  size_t capacity =
      sizeHint > 0 && sizeHint < SIZE_MAX / 2 ? static_cast<size_t>(sizeHint) + 1 : kFirstCapacity;
  buffer_ = allocateBytes(capacity);
  if (buffer_ == nullptr) return Status::kOutOfMemory;
  size_t size = 0;
  size_t searched = 0;
  bool isEncodingKnown = false;
  for (;;) {
    if (size == capacity) {
      auto grown = allocateBytes(capacity * 2);
      if (grown == nullptr) return Status::kOutOfMemory;
      std::memcpy(grown.get(), buffer_.get(), size);
      buffer_ = std::move(grown);
      capacity *= 2;
    }
    const int64_t got = readSome(source, buffer_.get() + size, capacity - size);
    if (got < 0) return Status::kReadFailed;
    size += static_cast<size_t>(got);
    const std::string_view all(buffer_.get(), size);
    // The mark decides how the end is found, so it is read whole first.
    if (!isEncodingKnown && (size >= 3 || got == 0)) {
      encoding_ = detectEncoding(all);
      isEncodingKnown = true;
    }
    if (isEncodingKnown) {
      const size_t end = findTextEnd(all, searched, encoding_);
      if (end != std::string_view::npos) {
        bytes_ = all.substr(0, end);
        return Status::kOk;
      }
      // A UTF-16 unit cut by the end of this read is looked at again with the next.
      searched = isUtf16(encoding_) ? size & ~size_t{1} : size;
    }
    if (got == 0) {
      bytes_ = all;
      return Status::kOk;
    }
  }
}

}  // namespace kvowrapper
