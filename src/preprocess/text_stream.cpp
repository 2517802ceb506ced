#include "preprocess/text_stream.h"

#include <algorithm>
#include <cstring>

#include "system/utf16.h"

namespace kvowrapper {

ProcessedTextStream::ProcessedTextStream(const DefinitionTable& table, TextInput& input,
                                         size_t pieceSize, const RefusedNames* refused)
    : index_(table, refused),
      input_(input),
      expander_(index_, {}),
      pieceSize_(std::max<size_t>(pieceSize, 1)) {}

size_t ProcessedTextStream::findCut(std::string_view window) const {
  if (isLastWindow_ || index_.isEmpty()) return window.size();
  // A reference's name runs to the first closing brace after its opening one, so none spans
  // the point just after a closing brace; and one longer than the longest name is no reference.
  const size_t open = window.rfind('{');
  if (open == std::string_view::npos || window.size() - open > index_.longestName() + 1) {
    return window.size();
  }
  const size_t close = window.rfind('}');
  return close == std::string_view::npos ? 0 : close + 1;
}

bool ProcessedTextStream::advanceInput() {
  do {
    if (!input_.more(window_.size() - cut_, window_)) return false;
    isLastWindow_ = input_.isAtEnd();
    cut_ = findCut(window_);
  } while (cut_ == 0 && !isLastWindow_);
  expander_.reset(window_.substr(0, cut_));
  return true;
}

std::optional<std::string_view> ProcessedTextStream::next() {
  if (isDone_ || hasFailed_) return std::nullopt;
  if (!isStarted_) {
    isStarted_ = true;
    if (!advanceInput()) {
      hasFailed_ = true;
      return std::nullopt;
    }
    // A small source gets a buffer of its own size: fresh pages cost more than its work.
    if (isLastWindow_) pieceSize_ = std::clamp<size_t>(window_.size(), 1, pieceSize_);
  }
  // What the last call handed out goes; what it left pending moves to the front.
  const size_t pending = used_ - pendingFrom_;
  if (pendingFrom_ > 0) std::memmove(buffer_.data(), buffer_.data() + pendingFrom_, pending);
  used_ = pending;
  const size_t target = std::max(pieceSize_, pending * 2);
  if (buffer_.size() < target + index_.longestValue()) {
    buffer_.resize(target + index_.longestValue());
  }
  for (;;) {
    used_ = expander_.expandInto(buffer_.data(), used_, target);
    if (expander_.refusedName().has_value()) {
      hasFailed_ = true;
      return std::nullopt;
    }
    if (!expander_.isDone() || isLastWindow_ || used_ >= target) break;
    if (!advanceInput()) {
      hasFailed_ = true;
      return std::nullopt;
    }
  }
  isDone_ = expander_.isDone() && isLastWindow_;
  const auto progress = joiner_.join(buffer_.data(), used_, isDone_);
  pendingFrom_ = progress.pending;
  return std::string_view(buffer_.data(), progress.finished);
}

bool Utf16Input::more(size_t keep, std::string_view& window) {
  // Decoded a slice at a time, so that a whole mapped source needs no whole copy.
  constexpr size_t kSlice = size_t{4} << 20;
  if (keep > 0) std::memmove(buffer_.get(), buffer_.get() + size_ - keep, keep);
  size_ = keep;
  if (!isStarted_) {
    isStarted_ = true;
    if (!bytes_.more(0, source_)) return false;
    // The mark was seen, so the source holds at least its two bytes.
    while (source_.size() < 2 && !bytes_.isAtEnd()) {
      if (!bytes_.more(source_.size(), source_)) return false;
    }
    if (source_.size() < 2) return false;
    std::memcpy(mark_, source_.data(), 2);
    consumed_ = 2;
  }
  auto unitAt = [this](size_t offset) {
    const auto first = static_cast<unsigned char>(source_[offset]);
    const auto second = static_cast<unsigned char>(source_[offset + 1]);
    return isBigEndian_ ? first << 8 | second : second << 8 | first;
  };
  for (;;) {
    const bool isSourceEnd = bytes_.isAtEnd();
    const size_t whole = (source_.size() - consumed_) & ~size_t{1};
    size_t take = std::min(whole, kSlice);
    // A pair of surrogates is decoded together: a high one waits for what follows it.
    if (take > 0 && (unitAt(consumed_ + take - 2) & 0xFC00) == 0xD800) {
      if (take < whole) {
        take += 2;
      } else if (!isSourceEnd) {
        take -= 2;
      }
    }
    if (take > 0) {
      const size_t most = size_ + take / 2 * 3;
      if (most > capacity_) {
        auto grown = std::make_unique_for_overwrite<char[]>(most);
        if (size_ > 0) std::memcpy(grown.get(), buffer_.get(), size_);
        buffer_ = std::move(grown);
        capacity_ = most;
      }
      size_ += decodeUtf16(source_.substr(consumed_, take), isBigEndian_, buffer_.get() + size_);
      consumed_ += take;
    }
    if (isSourceEnd && source_.size() - consumed_ < 2) {
      oddSize_ = source_.size() - consumed_;
      if (oddSize_ > 0) odd_ = source_.back();
      isAtEnd_ = true;
      break;
    }
    if (size_ > keep) break;
    // This window is used up, but for a unit it holds back: read on.
    if (!bytes_.more(source_.size() - consumed_, source_)) return false;
    consumed_ = 0;
  }
  window = std::string_view(buffer_.get(), size_);
  return true;
}

bool streamProcessedSource(const DefinitionTable& table, TextInput& bytes, TextEncoding encoding,
                           const std::function<bool(std::string_view)>& sink,
                           const RefusedNames* refused, std::optional<std::string>* refusedName) {
  auto finish = [&](const ProcessedTextStream& stream) {
    if (refusedName != nullptr) *refusedName = stream.refusedName();
    return !stream.hasFailed();
  };
  if (!isUtf16(encoding)) {
    ProcessedTextStream stream(table, bytes, ProcessedTextStream::kPieceSize, refused);
    while (const auto piece = stream.next()) {
      if (!sink(*piece)) return false;
    }
    return finish(stream);
  }
  const bool isBigEndian = encoding == TextEncoding::kUtf16Be;
  Utf16Input text(bytes, isBigEndian);
  Utf16Encoder encoder(isBigEndian);
  ProcessedTextStream stream(table, text, ProcessedTextStream::kPieceSize, refused);
  bool isMarked = false;
  while (const auto piece = stream.next()) {
    if (!isMarked && !sink(text.mark())) return false;
    isMarked = true;
    if (!sink(encoder.encode(*piece))) return false;
  }
  return finish(stream) && sink(text.oddByte());
}

}  // namespace kvowrapper
