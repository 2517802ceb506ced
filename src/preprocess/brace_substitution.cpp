#include "preprocess/brace_substitution.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kvowrapper {

namespace {

uint64_t mix(uint64_t h) {
  h ^= h >> 32;
  h *= 0xd6e8feb86659fd93ULL;
  h ^= h >> 32;
  return h;
}

// Packs a short name's bytes and its length into a word that is never 0.
uint64_t packShortName(uint64_t bytes, size_t length) {
  const uint64_t mask = (uint64_t{1} << (8 * length)) - 1;
  return (bytes & mask) | (static_cast<uint64_t>(length + 1) << 56);
}

// Marks the bytes of `word` that are 0 with their top bit; the lowest mark is exact.
uint64_t zeroBytes(uint64_t word) {
  return (word - 0x0101010101010101ULL) & ~word & 0x8080808080808080ULL;
}

// Copies with fixed-size moves when short: dense references copy a few bytes at a time, where
// a call to memcpy costs more than the copy.
void copyBytes(char* to, const char* from, size_t size) {
  if (size > 16) {
    std::memcpy(to, from, size);
  } else if (size >= 8) {
    uint64_t head = 0;
    uint64_t tail = 0;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + size - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + size - 8, &tail, 8);
  } else {
    for (size_t i = 0; i < size; ++i) to[i] = from[i];
  }
}

uint64_t hashName(std::string_view name) {
  uint64_t h = 0x9e3779b97f4a7c15ULL ^ name.size();
  size_t i = 0;
  for (; i + 8 <= name.size(); i += 8) {
    uint64_t word = 0;
    std::memcpy(&word, name.data() + i, 8);
    h = mix(h ^ word) * 0xbf58476d1ce4e5b9ULL;
  }
  // Bytes one by one: a short memcpy into a word stalls on store forwarding.
  uint64_t tail = 0;
  for (; i < name.size(); ++i) tail = (tail << 8) | static_cast<unsigned char>(name[i]);
  return mix(h ^ tail);
}

}  // namespace

NameIndex::NameIndex(const DefinitionTable& table) {
  // A reference name never contains a closing brace, so such a name can never match.
  size_t arenaSize = 0;
  for (const auto& [name, value] : table) {
    if (name.find('}') == std::string::npos) arenaSize += name.size() + value.size();
  }
  arena_.reserve(arenaSize);  // no reallocation below, so the views stay valid
  for (const auto& [name, value] : table) {
    if (name.find('}') != std::string::npos) continue;
    const size_t at = arena_.size();
    arena_.append(name).append(value);
    const std::string_view stored(arena_.data() + at, name.size() + value.size());
    entries_.push_back({stored.substr(0, name.size()), stored.substr(name.size())});
    longestName_ = std::max(longestName_, name.size());
    longestValue_ = std::max(longestValue_, value.size());
    nameLengths_ |= uint64_t{1} << std::min<size_t>(name.size(), 63);
    if (!name.empty()) {
      const auto first = static_cast<unsigned char>(name[0]);
      firstBytes_[first / 64] |= uint64_t{1} << (first % 64);
    }
    hasBraceInNames_ = hasBraceInNames_ || name.find('{') != std::string::npos;
  }
  isEmpty_ = entries_.empty();

  size_t capacity = 16;
  while (capacity < entries_.size() * 2) capacity *= 2;
  slots_.resize(capacity);
  for (const Entry& entry : entries_) {
    const uint64_t hash = hashName(entry.name);
    size_t at = static_cast<size_t>(hash) & (capacity - 1);
    while (slots_[at].offset != kNoEntry) at = (at + 1) & (capacity - 1);
    // A command line is far below 4 GiB, so the arena's offsets and lengths fit 32 bits.
    slots_[at] = Slot{
        static_cast<uint32_t>(hash >> 32), static_cast<uint32_t>(entry.name.data() - arena_.data()),
        static_cast<uint32_t>(entry.name.size()), static_cast<uint32_t>(entry.value.size())};
  }

  size_t shortCapacity = 16;
  while (shortCapacity < entries_.size() * 2) shortCapacity *= 2;
  shortSlots_.resize(shortCapacity);
  for (const Entry& entry : entries_) {
    if (entry.name.size() > kShortName) continue;
    uint64_t bytes = 0;
    std::memcpy(&bytes, entry.name.data(), entry.name.size());
    const uint64_t key = packShortName(bytes, entry.name.size());
    size_t at = static_cast<size_t>(mix(key)) & (shortCapacity - 1);
    while (shortSlots_[at].key != 0) at = (at + 1) & (shortCapacity - 1);
    shortSlots_[at] = ShortSlot{key, static_cast<uint32_t>(entry.value.data() - arena_.data()),
                                static_cast<uint32_t>(entry.value.size())};
  }

  // Only names holding an opening brace need the trie; without them it is never walked.
  if (hasBraceInNames_) buildTrie();
}

void NameIndex::buildTrie() {
  // The trie is built with a child list per node, then laid out flat.
  struct BuildNode {
    uint32_t entry = kNoEntry;
    std::vector<std::pair<unsigned char, uint32_t>> children;  // sorted by byte
  };
  std::vector<BuildNode> built(1);
  for (size_t i = 0; i < entries_.size(); ++i) {
    const std::string_view name = entries_[i].name;
    uint32_t node = 0;
    for (auto it = name.rbegin(); it != name.rend(); ++it) {
      const auto byte = static_cast<unsigned char>(*it);
      auto& children = built[node].children;
      auto slot =
          std::lower_bound(children.begin(), children.end(), byte,
                           [](const auto& child, unsigned char b) { return child.first < b; });
      if (slot != children.end() && slot->first == byte) {
        node = slot->second;
        continue;
      }
      const auto created = static_cast<uint32_t>(built.size());
      children.insert(slot, {byte, created});
      built.emplace_back();  // invalidates `children`, which is not used again
      node = created;
    }
    built[node].entry = static_cast<uint32_t>(i);
  }

  // Breadth-first renumbering: the root is 0 and every node's children are numbered together.
  std::vector<uint32_t> order = {0};
  std::vector<uint32_t> newIndex(built.size());
  for (size_t i = 0; i < order.size(); ++i) {
    newIndex[order[i]] = static_cast<uint32_t>(i);
    for (const auto& child : built[order[i]].children) order.push_back(child.second);
  }
  nodes_.resize(built.size());
  edgeBytes_.reserve(built.size() - 1);
  edgeTargets_.reserve(built.size() - 1);
  for (size_t i = 0; i < order.size(); ++i) {
    const BuildNode& from = built[order[i]];
    Node& to = nodes_[i];
    to.entry = from.entry;
    to.firstEdge = static_cast<uint32_t>(edgeBytes_.size());
    to.edgeCount = static_cast<uint32_t>(from.children.size());
    for (const auto& [byte, child] : from.children) {
      edgeBytes_.push_back(byte);
      edgeTargets_.push_back(newIndex[child]);
    }
  }
}

bool NameIndex::findShortValue(uint64_t word, size_t length, std::string_view& value) const {
  const uint64_t key = packShortName(word, length);
  const size_t mask = shortSlots_.size() - 1;
  for (size_t at = static_cast<size_t>(mix(key)) & mask;; at = (at + 1) & mask) {
    const ShortSlot& slot = shortSlots_[at];
    if (slot.key == key) {
      value = std::string_view(arena_.data() + slot.valueOffset, slot.valueLength);
      return true;
    }
    if (slot.key == 0) return false;
  }
}

const NameIndex::Slot* NameIndex::findByName(std::string_view name) const {
  const uint64_t hash = hashName(name);
  const auto hashHigh = static_cast<uint32_t>(hash >> 32);
  const size_t mask = slots_.size() - 1;
  for (size_t at = static_cast<size_t>(hash) & mask;; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.offset == kNoEntry) return nullptr;
    if (slot.hash != hashHigh || slot.nameLength != name.size()) continue;
    // Names are short; a plain loop beats a call to memcmp here.
    const char* stored = arena_.data() + slot.offset;
    size_t i = 0;
    while (i < name.size() && stored[i] == name[i]) ++i;
    if (i == name.size()) return &slot;
  }
}

uint32_t NameIndex::childOf(uint32_t node, unsigned char byte) const {
  const Node& from = nodes_[node];
  const unsigned char* first = edgeBytes_.data() + from.firstEdge;
  const unsigned char* last = first + from.edgeCount;
  const unsigned char* slot = std::lower_bound(first, last, byte);
  if (slot == last || *slot != byte) return kNoNode;
  return edgeTargets_[static_cast<size_t>(slot - edgeBytes_.data())];
}

bool NameIndex::findValue(std::string_view name, std::string_view& value) const {
  if ((nameLengths_ >> std::min<size_t>(name.size(), 63) & 1) == 0) return false;
  if (!name.empty()) {
    const auto first = static_cast<unsigned char>(name[0]);
    if ((firstBytes_[first / 64] >> (first % 64) & 1) == 0) return false;
  }
  const Slot* slot = findByName(name);
  if (slot == nullptr) return false;
  value = std::string_view(arena_.data() + slot->offset + slot->nameLength, slot->valueLength);
  return true;
}

std::optional<NameIndex::Reference> NameIndex::findLeftmostReference(std::string_view text,
                                                                     size_t begin,
                                                                     size_t end) const {
  std::optional<Reference> leftmost;
  uint32_t node = 0;
  // At each step `node` stands for the name text[name, end); its opening brace would be at name-1.
  for (size_t name = end; name > begin; --name) {
    const char before = text[name - 1];
    if (before == '{' && nodes_[node].entry != kNoEntry) {
      leftmost = Reference{name - 1, entries_[nodes_[node].entry].value};
    }
    node = childOf(node, static_cast<unsigned char>(before));
    if (node == kNoNode) break;
  }
  return leftmost;
}

BraceExpander::BraceExpander(const NameIndex& index, std::string_view text)
    : index_(index), text_(text) {}

void BraceExpander::planSegment() {
  hasSegment_ = true;
  hasValue_ = false;
  if (index_.isEmpty()) {
    copyEnd_ = resume_ = text_.size();
  } else if (index_.hasBraceInNames()) {
    planWithTrie();
  } else {
    planFromNextBrace();
  }
}

void BraceExpander::planFromNextBrace() {
  const size_t size = text_.size();
  auto findBrace = [this, size](size_t from) {
    // References often stand close together; a call to memchr costs more than a short look.
    const size_t near = std::min(size, from + 16);
    for (; from < near; ++from) {
      if (text_[from] == '{') return from;
    }
    if (from == size) return size;
    const void* found = std::memchr(text_.data() + from, '{', size - from);
    return found != nullptr ? static_cast<size_t>(static_cast<const char*>(found) - text_.data())
                            : size;
  };
  // Braces that start no defined name are left in the copy, so a run of them costs one plan.
  for (size_t brace = findBrace(position_); brace < size;) {
    size_t name = brace + 1;
    // In a run of opening braces only the last can start a name: skip to it at once.
    while (name < size && text_[name] == '{') ++name;
    brace = name - 1;
    if (std::endian::native == std::endian::little && size - name >= 8) {
      // The next '{' or '}' among the name's first 8 bytes, found without a loop.
      uint64_t word = 0;
      std::memcpy(&word, text_.data() + name, 8);
      const uint64_t stops = zeroBytes(word ^ 0x7b7b7b7b7b7b7b7bULL) |  // '{'
                             zeroBytes(word ^ 0x7d7d7d7d7d7d7d7dULL);   // '}'
      if (stops != 0) {
        const auto length = static_cast<size_t>(std::countr_zero(stops) / 8);
        const size_t end = name + length;
        if (text_[end] == '{') {
          brace = end;
          continue;
        }
        if (index_.findShortValue(word, length, value_)) {
          copyEnd_ = brace;
          hasValue_ = true;
          resume_ = end + 1;
          return;
        }
        brace = findBrace(name);
        continue;
      }
    }
    // The name runs to the next '}' or the end. No defined name holds a '{' or is longer than
    // the longest, so the scan stops at either; it looks at each byte at most once more than the
    // search for the next brace does.
    const size_t limit = name + std::min(index_.longestName(), size - name);
    size_t end = name;
    while (end < limit && text_[end] != '}' && text_[end] != '{') ++end;
    if ((end == size || text_[end] == '}') &&
        index_.findValue(text_.substr(name, end - name), value_)) {
      copyEnd_ = brace;
      hasValue_ = true;
      resume_ = std::min(end + 1, size);
      return;
    }
    brace = end < size && text_[end] == '{' ? end : findBrace(name);
  }
  copyEnd_ = resume_ = size;
}

void BraceExpander::planWithTrie() {
  // A segment runs from here to the next closing brace (or the end). Every opening brace in it
  // names the text up to that closing brace, so only the leftmost defined one can be replaced;
  // scanning resumes after the closing brace either way.
  const void* found = std::memchr(text_.data() + position_, '}', text_.size() - position_);
  const size_t close = found != nullptr
                           ? static_cast<size_t>(static_cast<const char*>(found) - text_.data())
                           : text_.size();
  if (const auto reference = index_.findLeftmostReference(text_, position_, close)) {
    copyEnd_ = reference->bracePosition;
    hasValue_ = true;
    value_ = reference->value;
    resume_ = std::min(close + 1, text_.size());
  } else {
    copyEnd_ = resume_ = std::min(close + 1, text_.size());
  }
}

size_t BraceExpander::expandInto(char* out, size_t used, size_t target) {
  while (used < target && !isDone()) {
    if (!hasSegment_) planSegment();
    const size_t length = std::min(copyEnd_ - position_, target - used);
    copyBytes(out + used, text_.data() + position_, length);
    used += length;
    position_ += length;
    if (position_ == copyEnd_) {
      if (hasValue_) {
        copyBytes(out + used, value_.data(), value_.size());
        used += value_.size();
      }
      position_ = resume_;
      hasSegment_ = false;
    }
  }
  return used;
}

}  // namespace kvowrapper
