#pragma once

// The two text passes written the plain, slow way, unit by unit as they are defined, to check the
// fast ones against: over bytes, or over UTF-16 code units.

#include <algorithm>
#include <string>
#include <string_view>

#include "definitions/definition_table.h"
#include "preprocess/text_stream.h"

namespace kvowrapper::reference {

template <class Table, class Text>
Text expandBraces(const Table& table, const Text& in) {
  Text out;
  size_t at = 0;
  while (at < in.size()) {
    if (in[at] == '{') {
      const size_t close = in.find('}', at + 1);
      const size_t nameEnd = close == Text::npos ? in.size() : close;
      const auto found = table.find(in.substr(at + 1, nameEnd - at - 1));
      if (found != table.end()) {
        out += found->second;
        if (close == Text::npos) break;
        at = close + 1;
        continue;
      }
    }
    out += in[at++];
  }
  return out;
}

template <class Text>
bool isSpanAt(const Text& text, size_t p, size_t& q) {
  if (text[p] != '"') return false;
  size_t i = p + 1;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i >= text.size() || text[i] != '\\') return false;
  ++i;
  bool sawBreak = false;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\r' || text[i] == '\n')) {
    sawBreak = sawBreak || text[i] != ' ';
    ++i;
  }
  if (i >= text.size() || text[i] != '"' || !sawBreak) return false;
  q = i;
  return true;
}

template <class Text>
Text joinStrings(Text text) {
  for (size_t p = 0; p < text.size(); ++p) {
    size_t q = 0;
    if (isSpanAt(text, p, q)) {
      text.erase(p, q - p + 1);
      if (p == text.size()) break;
    }
  }
  return text;
}

// The text ends at its first NUL, as the source reader ends it.
template <class Table, class Text>
Text processText(const Table& table, Text source) {
  source = source.substr(0, source.find(typename Text::value_type{0}));
  return joinStrings(expandBraces(table, source));
}

}  // namespace kvowrapper::reference

namespace kvowrapper {

// A text in memory, handed out `step` new bytes at a time, as a source is read.
class StringInput : public TextInput {
 public:
  StringInput(std::string_view text, size_t step) : text_(text), step_(std::max<size_t>(step, 1)) {}

  bool more(size_t keep, std::string_view& window) override {
    const size_t begin = end_ - keep;
    end_ = std::min(text_.size(), end_ + step_);
    window = text_.substr(begin, end_ - begin);
    return true;
  }
  bool isAtEnd() const override { return end_ == text_.size(); }

 private:
  std::string_view text_;
  size_t step_;
  size_t end_ = 0;
};

// The whole output of the fast, streaming passes, read in windows of `step` new bytes and handed
// out in pieces of `pieceSize`.
inline std::string processText(const DefinitionTable& table, std::string_view source,
                               size_t pieceSize = ProcessedTextStream::kPieceSize,
                               size_t step = size_t{1} << 30) {
  source = source.substr(0, source.find('\0'));
  StringInput input(source, step);
  ProcessedTextStream stream(table, input, pieceSize);
  std::string text;
  while (const auto piece = stream.next()) text.append(*piece);
  return text;
}

}  // namespace kvowrapper
