#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "preprocess/name_index.h"

namespace kvowrapper {

// The two text passes, over a text of `Unit`s (bytes, or UTF-16 code units): the characters they
// look for are all ASCII, which stand for themselves in either.

template <class Unit>
using Text = std::basic_string_view<Unit>;

// Where `unit` first stands in text[from, ...), or the text's size.
template <class Unit>
size_t findUnit(Text<Unit> text, Unit unit, size_t from) {
  if constexpr (sizeof(Unit) == 1) {
    const void* found = std::memchr(text.data() + from, unit, text.size() - from);
    return found == nullptr ? text.size()
                            : static_cast<size_t>(static_cast<const Unit*>(found) - text.data());
  } else {
    return static_cast<size_t>(std::find(text.begin() + from, text.end(), unit) - text.begin());
  }
}

template <class Unit>
struct BraceReference {
  size_t brace;  // where its opening brace stands
  const Definition<Unit>* definition;
};

// Within text[from, close), where `close` is the first closing brace at or after `from` (or the
// end of the text), the leftmost opening brace whose name, the units after it up to `close`, is
// defined. Scanning from `from`, that is the reference that is replaced: every opening brace
// before it names an undefined name and stays as it is.
template <class Unit>
BraceReference<Unit> lookupBraceReference(const NameIndex<Unit>& index, Text<Unit> text,
                                          size_t from, size_t close) {
  BraceReference<Unit> leftmost{close, nullptr};
  auto name = NameIndex<Unit>::kRoot;
  // `name` stands for text[at, close), whose opening brace would stand at at - 1.
  for (size_t at = close; at > from; --at) {
    const Unit before = text[at - 1];
    if (before == Unit('{')) {
      if (const auto* definition = index.findDefinition(name)) leftmost = {at - 1, definition};
    }
    name = index.extend(name, before);
    if (name == NameIndex<Unit>::kNone) break;
  }
  return leftmost;
}

// First pass: hands `in` to `emit` in pieces, with every {name} reference to a defined name
// replaced by its value, which is not scanned again. An opening brace whose name is undefined
// stays as it is, and scanning goes on just after it; a defined reference that runs to the end of
// the text without a closing brace ends the pass. Each unit is looked at a bounded number of
// times, so the pass is linear in the text and the values, whatever the names. Returns the
// refused definition that a reference asked for (the pass stops there), or nullptr.
template <class Unit, class Emit>
const Definition<Unit>* expandBraceReferences(const NameIndex<Unit>& index, Text<Unit> in,
                                              Emit&& emit) {
  for (size_t at = 0; at < in.size();) {
    // Every reference that starts before the next closing brace ends there, and the walk back
    // from it finds the one that is replaced.
    const size_t close = findUnit(in, Unit('}'), at);
    const BraceReference<Unit> reference = lookupBraceReference(index, in, at, close);
    if (reference.definition == nullptr) {
      emit(in.substr(at, std::min(close + 1, in.size()) - at));
    } else if (reference.definition->isRefused) {
      return reference.definition;
    } else {
      emit(in.substr(at, reference.brace - at));
      emit(Text<Unit>(reference.definition->value));
    }
    at = close + 1;
  }
  return nullptr;
}

// Second pass, on the text the first one hands out, piece by piece: removes every span, that is
// a double quote, spaces, one backslash, a run of spaces and line breaks (CR or LF) holding at
// least one line break, and a double quote. The unit that takes a removed span's place is not
// itself tested as the start of one. A possible span is held back until it is decided, so no unit
// is looked at twice, however long the span.
template <class Unit>
class StringJoiner {
 public:
  // Appends the joined text of `piece` to `out`, as far as it is decided.
  void joinContinuedStrings(Text<Unit> piece, std::basic_string<Unit>& out) {
    for (size_t at = 0; at < piece.size();) {
      if (state_ == State::kText) {
        at = skipText(piece, at, out);
        continue;
      }
      const Unit unit = piece[at];
      if (state_ == State::kAfterSpan) {
        out += unit;
        state_ = State::kText;
      } else if (state_ == State::kSpaces && (unit == Unit(' ') || unit == Unit('\\'))) {
        held_ += unit;
        if (unit == Unit('\\')) state_ = State::kBreaks;
      } else if (state_ != State::kSpaces && (unit == Unit(' ') || isLineBreak(unit))) {
        held_ += unit;
        if (isLineBreak(unit)) state_ = State::kBreaksSeen;
      } else if (state_ == State::kBreaksSeen && unit == Unit('"')) {
        held_.clear();
        state_ = State::kAfterSpan;
      } else {
        // No span: what was held is text, and this unit is looked at afresh.
        finish(out);
        continue;
      }
      ++at;
    }
  }

  // The text has ended: what was held back is text.
  void finish(std::basic_string<Unit>& out) {
    out += held_;
    held_.clear();
    state_ = State::kText;
  }

 private:
  enum class State { kText, kSpaces, kBreaks, kBreaksSeen, kAfterSpan };
  static bool isLineBreak(Unit unit) { return unit == Unit('\r') || unit == Unit('\n'); }

  // Appends text from piece[at] up to where a span may start, and returns where to go on. A span
  // holds a backslash, which is rare in resource scripts: it is searched for rather than every
  // quote (the bench's realistic source has eight times as many quotes as backslashes, and one
  // search per quote took a third of its run). A span's quote stands just before the spaces that
  // precede the backslash; at the end of a piece, a quote and spaces may go on in the next one.
  size_t skipText(Text<Unit> piece, size_t at, std::basic_string<Unit>& out) {
    const size_t backslash = findUnit(piece, Unit('\\'), at);
    size_t quote = backslash;
    while (quote > at && piece[quote - 1] == Unit(' ')) --quote;
    const bool isSpanStart = quote > at && piece[--quote] == Unit('"');
    if (!isSpanStart) {
      const size_t end = std::min(backslash + 1, piece.size());
      out.append(piece.substr(at, end - at));
      return end;
    }
    out.append(piece.substr(at, quote - at));
    const size_t end = std::min(backslash + 1, piece.size());
    held_.assign(piece.substr(quote, end - quote));
    state_ = backslash < piece.size() ? State::kBreaks : State::kSpaces;
    return end;
  }

  State state_ = State::kText;
  std::basic_string<Unit> held_;  // a possible span: the quote, spaces, backslash and run so far
};

}  // namespace kvowrapper
