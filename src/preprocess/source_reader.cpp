#include "preprocess/source_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kvowrapper {

namespace {

// Reads of this size keep the buffer in the cache; larger ones were slower on the bench. A source
// starts with a small buffer, since a large one costs a typical script a tenth of its run.
constexpr size_t kWindow = size_t{256} * 1024;
constexpr size_t kFirstWindow = size_t{16} * 1024;

}  // namespace

size_t findTextEnd(std::string_view data, size_t from, bool isWide) {
  if (!isWide) return data.find('\0', from);
  size_t at = from;
  // Four units at a time: text beyond ASCII in UTF-16 is full of zero bytes, so a search for a
  // zero byte would stop at nearly every unit (it made a 64 MiB source take three times as long).
  for (; at + 8 <= data.size(); at += 8) {
    uint64_t word = 0;
    std::memcpy(&word, data.data() + at, 8);
    // Marks the 16-bit lanes that are zero; any byte order, since only zero lanes count.
    if (((word - 0x0001000100010001ULL) & ~word & 0x8000800080008000ULL) != 0) break;
  }
  for (; at + 1 < data.size(); at += 2) {
    if (data[at] == '\0' && data[at + 1] == '\0') return at;
  }
  return std::string_view::npos;
}

TextEncoding detectEncoding(std::string_view start) {
  if (start.starts_with("\xFF\xFE")) return TextEncoding::kUtf16Le;
  if (start.starts_with("\xFE\xFF")) return TextEncoding::kUtf16Be;
  if (start.starts_with("\xEF\xBB\xBF")) return TextEncoding::kUtf8WithMark;
  return TextEncoding::kBytes;
}

bool isUtf16(TextEncoding encoding) {
  return encoding == TextEncoding::kUtf16Le || encoding == TextEncoding::kUtf16Be;
}

bool SourceReader::start() {
  capacity_ = kFirstWindow;
  buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
  while (size_ < 3 && !hasEnded_) {
    if (!readMore()) return false;
  }
  encoding_ = detectEncoding({buffer_.get(), size_});
  if (isUtf16(encoding_)) {
    std::memcpy(mark_, buffer_.get(), 2);
    size_ -= 2;
    std::memmove(buffer_.get(), buffer_.get() + 2, size_);
  }
  return true;
}

bool SourceReader::readMore() {
  const std::optional<size_t> got = readSome(source_, buffer_.get() + size_, capacity_ - size_);
  if (!got.has_value()) return false;
  hasEnded_ = *got == 0;
  size_ += *got;
  return true;
}

std::optional<std::string_view> SourceReader::next(size_t keep) {
  const bool isWide = isUtf16(encoding_);
  // What was handed out goes, but for its last `keep` bytes; a held-back odd byte stays after it.
  const size_t dropped = handedOut_ - keep;
  // A source that fills the buffer gets the full window; a long name makes a long carry, and
  // room for as much new text as is kept.
  const size_t wanted = std::max(size_ == capacity_ ? kWindow : capacity_, (keep + 2) * 2);
  size_ -= dropped;
  std::memmove(buffer_.get(), buffer_.get() + dropped, size_);
  if (wanted > capacity_) {
    capacity_ = wanted;
    auto grown = std::make_unique_for_overwrite<char[]>(capacity_);
    std::memcpy(grown.get(), buffer_.get(), size_);
    buffer_ = std::move(grown);
  }
  const size_t unit = isWide ? 2 : 1;
  while (!hasEnded_ && size_ - keep < unit) {
    if (!readMore()) return std::nullopt;
  }
  size_t whole = size_ - size_ % unit;
  const bool isSwapped =
      isWide && (encoding_ == TextEncoding::kUtf16Be) != (std::endian::native == std::endian::big);
  if (isSwapped) {
    for (size_t at = keep; at < whole; at += 2) std::swap(buffer_[at], buffer_[at + 1]);
  }
  const size_t end = findTextEnd({buffer_.get(), whole}, keep, isWide);
  if (end != std::string_view::npos) {
    whole = size_ = end;
    hasEnded_ = true;
  } else if (hasEnded_ && whole < size_) {
    odd_ = buffer_[whole];
    oddSize_ = 1;
  }
  isAtEnd_ = hasEnded_;
  handedOut_ = whole;
  return std::string_view(buffer_.get(), whole);
}

}  // namespace kvowrapper
