#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "definitions/definition_table.h"

namespace kvowrapper {

// The defined names, indexed for the two ways a reference is found. When no defined name holds an
// opening brace (the usual case), a reference is an opening brace followed by a defined name that
// runs to the next closing brace, and one hash lookup decides. Otherwise a trie of the names read
// backwards finds every defined name that ends at a closing brace in one backward walk from it,
// however many opening braces precede it.
class NameIndex {
 public:
  explicit NameIndex(const DefinitionTable& table);

  bool isEmpty() const { return isEmpty_; }
  bool hasBraceInNames() const { return hasBraceInNames_; }
  size_t longestName() const { return longestName_; }
  size_t longestValue() const { return longestValue_; }

  // Sets `value` to the value of exactly `name` and returns true, or returns false. (An out
  // parameter: returning an optional view here costs a store-forwarding stall per reference.)
  bool findValue(std::string_view name, std::string_view& value) const;

  // The same for a name of at most kShortName bytes given as the first `length` bytes of `word`
  // (loaded little-endian from the text, bytes past the name ignored): one probe, one compare.
  static constexpr size_t kShortName = 7;
  bool findShortValue(uint64_t word, size_t length, std::string_view& value) const;

  struct Reference {
    size_t bracePosition;  // index of the '{' that opens the reference
    std::string_view value;
  };

  // Within text[begin, end), where end is a closing brace or the end of the text and no closing
  // brace lies in between, finds the leftmost '{' whose name (the bytes after it up to end) is
  // defined.
  std::optional<Reference> findLeftmostReference(std::string_view text, size_t begin,
                                                 size_t end) const;

 private:
  // Nodes and edges in flat arrays, in breadth-first order, so that a walk touches few cache
  // lines: a node's edges are edgeBytes_/edgeTargets_[firstEdge, firstEdge + edgeCount).
  struct Node {
    uint32_t entry = kNoEntry;
    uint32_t firstEdge = 0;
    uint32_t edgeCount = 0;
  };
  static constexpr uint32_t kNoNode = UINT32_MAX;
  static constexpr uint32_t kNoEntry = UINT32_MAX;
  void buildTrie();
  uint32_t childOf(uint32_t node, unsigned char byte) const;

  std::vector<Node> nodes_;
  std::vector<unsigned char> edgeBytes_;  // sorted within each node
  std::vector<uint32_t> edgeTargets_;
  bool isEmpty_ = true;

  bool hasBraceInNames_ = false;
  size_t longestName_ = 0;
  size_t longestValue_ = 0;
  // The names and values, copied together into one arena so that lookups stay in cache.
  struct Entry {
    std::string_view name;
    std::string_view value;
  };
  std::string arena_;
  std::vector<Entry> entries_;

  // Open addressing in a power-of-two table. A slot holds all a lookup needs besides the name's
  // bytes, which the value follows in the arena: a lookup costs two cache misses at most.
  struct Slot {
    uint32_t hash = 0;
    uint32_t offset = kNoEntry;  // of the name in the arena; kNoEntry marks an empty slot
    uint32_t nameLength = 0;
    uint32_t valueLength = 0;
  };
  const Slot* findByName(std::string_view name) const;

  // Short names packed with their length into one word, which is the whole key: dense
  // references to short names are looked up with no loop over their bytes.
  struct ShortSlot {
    uint64_t key = 0;  // 0 marks an empty slot; a packed key never is 0
    uint32_t valueOffset = 0;
    uint32_t valueLength = 0;
  };
  std::vector<ShortSlot> shortSlots_;

  // Cheap filters that turn most undefined names away before hashing: the lengths of the names
  // (the last bit stands for every length from 63 on) and their first bytes.
  uint64_t nameLengths_ = 0;
  std::array<uint64_t, 4> firstBytes_{};
  std::vector<Slot> slots_;
};

// Expands {name} references of one text in bounded pieces, so a caller can stream the result.
// The index and the text must outlive the expander.
class BraceExpander {
 public:
  BraceExpander(const NameIndex& index, std::string_view text);

  // Goes on with `text`, which must follow the last one at a point no reference spans.
  void reset(std::string_view text) {
    text_ = text;
    position_ = 0;
    hasSegment_ = false;
  }

  bool isDone() const { return position_ >= text_.size() && !hasSegment_; }

  // Writes expanded text to out[used, ...) until at least `target` bytes are used or the text is
  // done, and returns the new used count. A value is written whole, so `out` must have room for
  // target + index.longestValue() bytes.
  size_t expandInto(char* out, size_t used, size_t target);

 private:
  void planSegment();
  void planFromNextBrace();
  void planWithTrie();

  const NameIndex& index_;
  std::string_view text_;
  size_t position_ = 0;  // next byte of the text to copy
  // The planned segment: copy up to copyEnd, then append value (if any), then go on at resume.
  bool hasSegment_ = false;
  size_t copyEnd_ = 0;
  bool hasValue_ = false;
  std::string_view value_;
  size_t resume_ = 0;
};

}  // namespace kvowrapper
