#include "preprocess/text_stream.h"

#include <algorithm>
#include <cstring>

namespace kvowrapper {

ProcessedTextStream::ProcessedTextStream(const DefinitionTable& table, std::string_view text,
                                         size_t pieceSize)
    : index_(table),
      expander_(index_, text),
      // A small source gets a buffer of its own size: fresh pages cost more than its work.
      pieceSize_(std::clamp<size_t>(text.size(), 1, std::max<size_t>(pieceSize, 1))) {}

std::optional<std::string_view> ProcessedTextStream::next() {
  if (isDone_) return std::nullopt;
  // What the last call handed out goes; what it left pending moves to the front.
  const size_t pending = used_ - pendingFrom_;
  if (pendingFrom_ > 0) std::memmove(buffer_.data(), buffer_.data() + pendingFrom_, pending);
  used_ = pending;
  const size_t target = std::max(pieceSize_, pending * 2);
  if (buffer_.size() < target + index_.longestValue()) {
    buffer_.resize(target + index_.longestValue());
  }
  used_ = expander_.expandInto(buffer_.data(), used_, target);
  isDone_ = expander_.isDone();
  const auto progress = joiner_.join(buffer_.data(), used_, isDone_);
  pendingFrom_ = progress.pending;
  return std::string_view(buffer_.data(), progress.finished);
}

}  // namespace kvowrapper
