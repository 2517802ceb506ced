#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "definitions/definition_table.h"
#include "preprocess/brace_substitution.h"
#include "preprocess/source_reader.h"
#include "preprocess/string_joining.h"
#include "preprocess/text_input.h"

namespace kvowrapper {

// The processed text of a source, handed out a piece at a time: {name} references expanded,
// then continued strings joined, in time linear in the text on any input.
//
// How the text is kept: the input comes in windows, each expanded up to a point that no
// reference spans (just after a closing brace, or where the bytes before hold no opening brace
// within the longest name), the rest kept for the next window. The output goes through one
// buffer that holds, at its start, the bytes the joiner has not finished (a possible span that
// ran into the end of the last piece), then newly expanded text. The expander fills it up to a
// target, writing a value whole, so the buffer has room for the target plus the longest value.
// The joiner hands out what is final and leaves the rest pending. A span left pending is tested
// again from its start; asking for twice its length each time keeps that retesting linear
// however long the span grows.
class ProcessedTextStream {
 public:
  static constexpr size_t kPieceSize = size_t{256} * 1024;

  // `table`, `input` and `refused` must outlive the stream.
  ProcessedTextStream(const DefinitionTable& table, TextInput& input, size_t pieceSize = kPieceSize,
                      const RefusedNames* refused = nullptr);

  // The next piece of processed text (it may be empty), valid until the next call; none once the
  // whole text has been handed out, when reading the input failed, or when a reference asked for
  // a refused value.
  std::optional<std::string_view> next();
  bool hasFailed() const { return hasFailed_; }
  const std::optional<std::string>& refusedName() const { return expander_.refusedName(); }

 private:
  bool advanceInput();
  size_t findCut(std::string_view window) const;

  NameIndex index_;
  TextInput& input_;
  std::string_view window_;
  size_t cut_ = 0;  // window_[0, cut_) is being expanded; the rest waits for the next window
  bool isLastWindow_ = false;
  bool isStarted_ = false;
  BraceExpander expander_;
  StringJoiner joiner_;
  size_t pieceSize_;
  std::string buffer_;
  size_t used_ = 0;         // buffer_[0, used_) holds text
  size_t pendingFrom_ = 0;  // buffer_[pendingFrom_, used_) is offered to the joiner again
  bool isDone_ = false;
  bool hasFailed_ = false;
};

// The UTF-16 text of a source as WTF-8, decoded a slice at a time from a byte input that starts
// with the byte-order mark. In WTF-8 no character but an ASCII one holds an ASCII byte, so the
// byte passes see exactly the characters they look for.
class Utf16Input : public TextInput {
 public:
  Utf16Input(TextInput& bytes, bool isBigEndian) : bytes_(bytes), isBigEndian_(isBigEndian) {}

  bool more(size_t keep, std::string_view& window) override;
  bool isAtEnd() const override { return isAtEnd_; }
  // The byte-order mark, and a last byte that makes no whole unit; known once at the end.
  std::string_view mark() const { return {mark_, 2}; }
  std::string_view oddByte() const { return {&odd_, oddSize_}; }

 private:
  TextInput& bytes_;
  bool isBigEndian_;
  std::string_view source_;
  size_t consumed_ = 0;
  bool isStarted_ = false;
  bool isAtEnd_ = false;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t size_ = 0;
  char mark_[2] = {};
  char odd_ = 0;
  size_t oddSize_ = 0;
};

// Hands the processed text of a source's `bytes` (from its first byte, any mark included) to
// `sink` piece by piece: for UTF-16 the mark, the processed units in its byte order, and an odd
// last byte as it was. Names and values are UTF-8. Returns false as soon as the sink does, when
// reading fails (the input says why), or when a reference asks for a refused value (its name
// then goes to `refusedName`).
bool streamProcessedSource(const DefinitionTable& table, TextInput& bytes, TextEncoding encoding,
                           const std::function<bool(std::string_view)>& sink,
                           const RefusedNames* refused = nullptr,
                           std::optional<std::string>* refusedName = nullptr);

}  // namespace kvowrapper
