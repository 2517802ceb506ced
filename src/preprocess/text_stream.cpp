#include "preprocess/text_stream.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "system/utf16.h"

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

namespace kvowrapper {

bool streamProcessedSource(const DefinitionTable& table, std::string_view bytes,
                           TextEncoding encoding,
                           const std::function<bool(std::string_view)>& sink) {
  if (!isUtf16(encoding)) {
    ProcessedTextStream stream(table, bytes);
    while (const auto piece = stream.next()) {
      if (!sink(*piece)) return false;
    }
    return true;
  }
  // UTF-16 goes through WTF-8, in which no character but an ASCII one holds an ASCII byte, so
  // the byte passes see exactly the characters they look for.
  const bool isBigEndian = encoding == TextEncoding::kUtf16Be;
  const std::string_view units = bytes.substr(2, (bytes.size() - 2) & ~size_t{1});
  // Every unit gives at most three bytes. Pages beyond what is written are never touched, so
  // they cost no memory.
  const auto wtf8 = std::make_unique_for_overwrite<char[]>(units.size() / 2 * 3 + 1);
  const size_t length = decodeUtf16(units, isBigEndian, wtf8.get());
  if (!sink(bytes.substr(0, 2))) return false;
  Utf16Encoder encoder(isBigEndian);
  ProcessedTextStream stream(table, std::string_view(wtf8.get(), length));
  while (const auto piece = stream.next()) {
    if (!sink(encoder.encode(*piece))) return false;
  }
  return sink(bytes.substr(2 + units.size()));
}

}  // namespace kvowrapper
