#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "definitions/definition_table.h"
#include "preprocess/brace_substitution.h"
#include "preprocess/source_text.h"
#include "preprocess/string_joining.h"

namespace kvowrapper {

// The processed text of a source, handed out a piece at a time: {name} references expanded,
// then continued strings joined, in time linear in the text on any input.
//
// How the pieces are kept: one buffer holds, at its start, the bytes the joiner has not finished
// (a possible span that ran into the end of the last piece), then newly expanded text. The
// expander fills it up to a target, writing a value whole, so the buffer has room for the target
// plus the longest value. The joiner then hands out what is final and leaves the rest pending.
// A span left pending is tested again from its start; asking for twice its length each time
// keeps that retesting linear however long the span grows.
class ProcessedTextStream {
 public:
  static constexpr size_t kPieceSize = size_t{256} * 1024;

  // `table` and `text` must outlive the stream.
  ProcessedTextStream(const DefinitionTable& table, std::string_view text,
                      size_t pieceSize = kPieceSize);

  // The next piece of processed text (it may be empty), valid until the next call; none once the
  // whole text has been handed out.
  std::optional<std::string_view> next();

 private:
  NameIndex index_;
  BraceExpander expander_;
  StringJoiner joiner_;
  size_t pieceSize_;
  std::string buffer_;
  size_t used_ = 0;         // buffer_[0, used_) holds text
  size_t pendingFrom_ = 0;  // buffer_[pendingFrom_, used_) is offered to the joiner again
  bool isDone_ = false;
};

}  // namespace kvowrapper

namespace kvowrapper {

// Hands the processed text of a source's `bytes` (up to the end of its text, any byte-order mark
// included) to `sink` piece by piece, and returns false as soon as the sink does. A UTF-16 text
// keeps its mark, its byte order and an odd last byte; its names and values are UTF-8.
bool streamProcessedSource(const DefinitionTable& table, std::string_view bytes,
                           TextEncoding encoding,
                           const std::function<bool(std::string_view)>& sink);

}  // namespace kvowrapper
