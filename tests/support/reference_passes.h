#pragma once

// The two text passes written the plain, slow way, unit by unit as they are defined, to check the
// fast ones against: over bytes, or over UTF-16 code units.

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "definitions/definition_table.h"
#include "preprocess/text_passes.h"

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

// The program's passes over a text of units in memory.
template <class Unit>
std::basic_string<Unit> processUnits(const std::vector<Definition<Unit>>& definitions,
                                     std::basic_string_view<Unit> text) {
  const NameIndex<Unit> index(definitions);
  StringJoiner<Unit> joiner;
  std::basic_string<Unit> out;
  expandBraceReferences(index, text, [&](std::basic_string_view<Unit> piece) {
    joiner.joinContinuedStrings(piece, out);
  });
  joiner.finish(out);
  return out;
}

// The same over a byte text, ended at its first NUL as a source is.
inline std::string processText(const DefinitionTable& table, std::string_view source) {
  std::vector<Definition<char>> definitions;
  for (const auto& [name, value] : table) definitions.push_back({name, value, false, name});
  return processUnits(definitions, source.substr(0, source.find('\0')));
}

}  // namespace kvowrapper
