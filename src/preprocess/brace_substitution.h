#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver/definition_table.h"

namespace kvowrapper {

// The defined names in a trie keyed by their bytes read backwards, so that every name ending at a
// closing brace is found in one backward walk from it, however many opening braces precede it.
class ReverseNameIndex {
 public:
  explicit ReverseNameIndex(const DefinitionTable& table);

  bool isEmpty() const { return isEmpty_; }

  struct Reference {
    size_t bracePosition;  // index of the '{' that opens the reference
    const std::string* value;
  };

  // Within text[begin, end), where end is a closing brace or the end of the text and no closing
  // brace lies in between, finds the leftmost '{' whose name (the bytes after it up to end) is
  // defined.
  std::optional<Reference> findLeftmostReference(std::string_view text, size_t begin,
                                                 size_t end) const;

 private:
  struct Node {
    const std::string* value = nullptr;
    std::vector<std::pair<unsigned char, uint32_t>> children;  // sorted by byte
  };
  const Node* childOf(const Node& node, unsigned char byte) const;

  std::vector<Node> nodes_;
  bool isEmpty_ = true;
};

// Expands {name} references of one text in bounded pieces, so a caller can stream the result.
// The index and the text must outlive the expander.
class BraceExpander {
 public:
  BraceExpander(const ReverseNameIndex& index, std::string_view text);

  bool isDone() const { return position_ >= text_.size() && !hasSegment_; }

  // Appends expanded text to `out` until it holds at least `target` bytes or the text is done.
  // A value is appended whole, so `out` may pass `target` by up to one value's length.
  void expandInto(std::string& out, size_t target);

 private:
  void planSegment();

  const ReverseNameIndex& index_;
  std::string_view text_;
  size_t position_ = 0;  // next byte of the text to copy
  // The planned segment: copy up to copyEnd, then append value (if any), then go on at resume.
  bool hasSegment_ = false;
  size_t copyEnd_ = 0;
  const std::string* value_ = nullptr;
  size_t resume_ = 0;
};

// Returns `text` with every {name} reference to a defined name replaced by its value.
std::string expandBraceReferences(const DefinitionTable& table, std::string_view text);

}  // namespace kvowrapper
