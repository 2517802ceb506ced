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

// Where `unit` first stands in text[from, ...), or the text's size.
template <class Unit>
size_t findUnit(Text<Unit> text, Unit unit, size_t from) {
  // Near units are looked at in place: a call to memchr for each closing brace made the bench's
  // dense references to undefined names (`{}{X}` repeated) take 1.7 times as long.
  const size_t near = std::min(text.size(), from + 8);
  for (; from < near; ++from) {
    if (text[from] == unit) return from;
  }
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
  using Index = NameIndex<Unit>;
  for (;;) {
    // A walk back from the closing brace, with the hash of text[at, close), the name of an
    // opening brace at at - 1. It ends past the longest name, or past as many opening braces as
    // any name holds, so a unit is walked over once (again only after a hash collision).
    size_t leftmost = close;
    typename Index::Hash leftmostHash = Index::kEmptyName;
    typename Index::Hash hash = Index::kEmptyName;
    size_t braces = 0;
    const size_t stop = close - std::min(close - from, index.longestName() + 1);
    for (size_t at = close; at > stop; --at) {
      const Unit before = text[at - 1];
      if (before == Unit('{')) {
        if (index.mayBeDefined(hash)) {
          leftmost = at - 1;
          leftmostHash = hash;
        }
        if (++braces > index.mostBraces()) break;
      }
      hash = Index::extend(hash, before);
    }
    if (leftmost == close) return {close, nullptr};
    const Text<Unit> name = text.substr(leftmost + 1, close - leftmost - 1);
    if (const auto* definition = index.findDefinition(name, leftmostHash))
      return {leftmost, definition};
    from = leftmost + 1;  // only the hash matched: look again to the right of that brace
  }
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
  size_t handedOut = 0;  // in[0, handedOut) has gone to `emit`
  for (size_t at = 0; at < in.size();) {
    // Every reference that starts before the next closing brace ends there, and the walk back
    // from it finds the one that is replaced.
    const size_t close = findUnit(in, Unit('}'), at);
    const BraceReference<Unit> reference = lookupBraceReference(index, in, at, close);
    if (reference.definition != nullptr) {
      if (reference.definition->isRefused) return reference.definition;
      if (reference.brace > handedOut) emit(in.substr(handedOut, reference.brace - handedOut));
      emit(Text<Unit>(reference.definition->value));
      handedOut = std::min(close + 1, in.size());
    }
    at = close + 1;
  }
  emit(in.substr(handedOut));
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

  // Appends the text of piece[at, ...) with the spans that lie wholly in it removed, and returns
  // where to go on: the end of the piece, with any span it ends inside held back. A span holds a
  // backslash, which is rare in resource scripts: it is searched for rather than every quote (the
  // bench's realistic source has eight times as many quotes as backslashes, and one search per
  // quote took a third of its run). A span's quote stands just before the spaces that precede
  // the backslash; at the end of a piece, a quote and spaces may go on in the next one.
  size_t skipText(Text<Unit> piece, size_t at, std::basic_string<Unit>& out) {
    while (at < piece.size()) {
      const size_t backslash = findUnit(piece, Unit('\\'), at);
      size_t quote = backslash;
      while (quote > at && piece[quote - 1] == Unit(' ')) --quote;
      if (quote == at || piece[quote - 1] != Unit('"')) {
        const size_t end = std::min(backslash + 1, piece.size());
        out.append(piece.substr(at, end - at));
        at = end;
        continue;
      }
      out.append(piece.substr(at, --quote - at));
      size_t end = std::min(backslash + 1, piece.size());
      bool hasBreak = false;
      for (; end < piece.size() && (piece[end] == Unit(' ') || isLineBreak(piece[end])); ++end)
        hasBreak = hasBreak || isLineBreak(piece[end]);
      if (end == piece.size()) {
        held_.assign(piece.substr(quote));
        state_ = backslash == piece.size() ? State::kSpaces
                 : hasBreak                ? State::kBreaksSeen
                                           : State::kBreaks;
        return end;
      }
      if (!hasBreak || piece[end] != Unit('"')) {
        // No span: the run after the backslash is text, looked at afresh.
        out.append(piece.substr(quote, backslash + 1 - quote));
        at = backslash + 1;
      } else if (end + 1 == piece.size()) {
        state_ = State::kAfterSpan;
        return end + 1;
      } else {
        out += piece[end + 1];  // takes the span's place, and is not the start of another
        at = end + 2;
      }
    }
    return at;
  }

  State state_ = State::kText;
  std::basic_string<Unit> held_;  // a possible span: the quote, spaces, backslash and run so far
};

}  // namespace kvowrapper
