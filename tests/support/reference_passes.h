#pragma once

// The two text passes written the plain, slow way, byte by byte as they are defined, to check the
// fast ones against.

#include <string>
#include <string_view>

#include "definitions/definition_table.h"
#include "preprocess/text_stream.h"

namespace kvowrapper::reference {

inline std::string expandBraces(const DefinitionTable& table, std::string_view in) {
  std::string out;
  size_t at = 0;
  while (at < in.size()) {
    if (in[at] == '{') {
      const size_t close = in.find('}', at + 1);
      const size_t nameEnd = close == std::string_view::npos ? in.size() : close;
      if (const std::string* value = findDefinition(table, in.substr(at + 1, nameEnd - at - 1))) {
        out += *value;
        if (close == std::string_view::npos) break;
        at = close + 1;
        continue;
      }
    }
    out += in[at++];
  }
  return out;
}

inline bool isSpanAt(const std::string& text, size_t p, size_t& q) {
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

inline std::string joinStrings(std::string text) {
  for (size_t p = 0; p < text.size(); ++p) {
    size_t q = 0;
    if (isSpanAt(text, p, q)) {
      text.erase(p, q - p + 1);
      if (p == text.size()) break;
    }
  }
  return text;
}

// The text ends at its first NUL byte, as the source reader ends it.
inline std::string processText(const DefinitionTable& table, std::string_view source) {
  source = source.substr(0, source.find('\0'));
  return joinStrings(expandBraces(table, source));
}

}  // namespace kvowrapper::reference

namespace kvowrapper {

// The whole output of the fast, streaming passes, handed out in pieces of `pieceSize`.
inline std::string processText(const DefinitionTable& table, std::string_view source,
                               size_t pieceSize = ProcessedTextStream::kPieceSize) {
  source = source.substr(0, source.find('\0'));
  ProcessedTextStream stream(table, source, pieceSize);
  std::string text;
  while (const auto piece = stream.next()) text.append(*piece);
  return text;
}

}  // namespace kvowrapper
