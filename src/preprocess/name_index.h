#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "definitions/definition_table.h"

namespace kvowrapper {

// Names whose values cannot be written into the text at hand (its encoding lacks a character):
// they are looked up like any other, and the expander refuses to replace a reference to one.
using RefusedNames = std::set<std::string, std::less<>>;

// The defined names, indexed for the two ways a reference is found. When no defined name holds an
// opening brace (the usual case), a reference is an opening brace followed by a defined name that
// runs to the next closing brace, and one hash lookup decides. Otherwise a trie of the names read
// backwards finds every defined name that ends at a closing brace in one backward walk from it,
// however many opening braces precede it.
class NameIndex {
 public:
  explicit NameIndex(const DefinitionTable& table, const RefusedNames* refused = nullptr);

  // True when `value`, as found, stands for a refused name's value.
  static bool isRefused(std::string_view value) { return value.data() == kRefusedValue; }

  bool isEmpty() const { return entries_.empty(); }
  bool hasBraceInNames() const { return hasBraceInNames_; }
  size_t longestName() const { return longestName_; }
  size_t longestValue() const { return longestValue_; }

  // Sets `value` to the value of exactly `name` and returns true, or returns false.
  bool findValue(std::string_view name, std::string_view& value) const;

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
  static constexpr uint32_t kNone = UINT32_MAX;
  static constexpr uint32_t kRefusedBit = 0x80000000U;  // in Slot::valueLength
  static const char kRefusedValue[1];

  struct Entry {
    std::string_view name;
    std::string_view value;
  };
  // Open addressing in a power-of-two table. A slot holds all a lookup needs besides the name's
  // bytes, which the value follows in the arena: a lookup costs two cache misses at most.
  struct Slot {
    uint32_t hash = 0;
    uint32_t offset = kNone;  // of the name in the arena; kNone marks an empty slot
    uint32_t nameLength = 0;
    uint32_t valueLength = 0;
  };
  // Trie nodes and edges in flat arrays, in breadth-first order, so that a walk touches few cache
  // lines: a node's edges are edgeBytes_/edgeTargets_[firstEdge, firstEdge + edgeCount).
  struct Node {
    uint32_t entry = kNone;
    uint32_t firstEdge = 0;
    uint32_t edgeCount = 0;
  };

  void buildTable();
  void buildTrie();
  uint32_t childOf(uint32_t node, unsigned char byte) const;

  // The names and values, copied together into one arena so that lookups stay in cache.
  std::string arena_;
  std::vector<Entry> entries_;
  std::vector<Slot> slots_;
  bool hasBraceInNames_ = false;
  size_t longestName_ = 0;
  size_t longestValue_ = 0;
  // Cheap filters that turn most undefined names away before hashing: the lengths of the names
  // (the last bit stands for every length from 63 on) and their first bytes. Without them the
  // bench's dense references to undefined names take 1.4 to 2 times as long.
  uint64_t nameLengths_ = 0;
  std::array<uint64_t, 4> firstBytes_{};
  std::vector<Node> nodes_;
  std::vector<unsigned char> edgeBytes_;  // sorted within each node
  std::vector<uint32_t> edgeTargets_;
};

}  // namespace kvowrapper
