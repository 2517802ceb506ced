#include "preprocess/name_index.h"

#include <algorithm>
#include <cstring>

namespace kvowrapper {

namespace {

uint64_t mix(uint64_t h) {
  h ^= h >> 32;
  h *= 0xd6e8feb86659fd93ULL;
  h ^= h >> 32;
  return h;
}

uint64_t hashName(std::string_view name) {
  uint64_t h = 0x9e3779b97f4a7c15ULL ^ name.size();
  size_t i = 0;
  for (; i + 8 <= name.size(); i += 8) {
    uint64_t word = 0;
    std::memcpy(&word, name.data() + i, 8);
    h = mix(h ^ word) * 0xbf58476d1ce4e5b9ULL;
  }
  // The last bytes, fewer than eight, folded in one by one.
  uint64_t tail = 0;
  for (; i < name.size(); ++i) tail = (tail << 8) | static_cast<unsigned char>(name[i]);
  return mix(h ^ tail);
}

}  // namespace

const char NameIndex::kRefusedValue[1] = {};

NameIndex::NameIndex(const DefinitionTable& table, const RefusedNames* refused) {
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
    const bool isRefused = refused != nullptr && refused->count(name) > 0;
    entries_.push_back({stored.substr(0, name.size()),
                        isRefused ? std::string_view(kRefusedValue) : stored.substr(name.size())});
    longestName_ = std::max(longestName_, name.size());
    longestValue_ = std::max(longestValue_, value.size());
    nameLengths_ |= uint64_t{1} << std::min<size_t>(name.size(), 63);
    if (!name.empty()) {
      const auto first = static_cast<unsigned char>(name[0]);
      firstBytes_[first / 64] |= uint64_t{1} << (first % 64);
    }
    hasBraceInNames_ = hasBraceInNames_ || name.find('{') != std::string::npos;
  }
  // Only names holding an opening brace need the trie, and then the table is never asked.
  if (hasBraceInNames_) {
    buildTrie();
  } else {
    buildTable();
  }
}

void NameIndex::buildTable() {
  size_t capacity = 16;
  while (capacity < entries_.size() * 2) capacity *= 2;
  slots_.resize(capacity);
  for (const Entry& entry : entries_) {
    const uint64_t hash = hashName(entry.name);
    size_t at = static_cast<size_t>(hash) & (capacity - 1);
    while (slots_[at].offset != kNone) at = (at + 1) & (capacity - 1);
    // A command line is far below 4 GiB, so the arena's offsets and lengths fit 32 bits.
    slots_[at] = Slot{
        static_cast<uint32_t>(hash >> 32), static_cast<uint32_t>(entry.name.data() - arena_.data()),
        static_cast<uint32_t>(entry.name.size()),
        static_cast<uint32_t>(entry.value.size()) | (isRefused(entry.value) ? kRefusedBit : 0)};
  }
}

void NameIndex::buildTrie() {
  // The trie is built with a child list per node, then laid out flat.
  struct BuildNode {
    uint32_t entry = kNone;
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

bool NameIndex::findValue(std::string_view name, std::string_view& value) const {
  if (slots_.empty() || (nameLengths_ >> std::min<size_t>(name.size(), 63) & 1) == 0) return false;
  if (!name.empty()) {
    const auto first = static_cast<unsigned char>(name[0]);
    if ((firstBytes_[first / 64] >> (first % 64) & 1) == 0) return false;
  }
  const uint64_t hash = hashName(name);
  const auto hashHigh = static_cast<uint32_t>(hash >> 32);
  const size_t mask = slots_.size() - 1;
  for (size_t at = static_cast<size_t>(hash) & mask;; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.offset == kNone) return false;
    if (slot.hash != hashHigh || slot.nameLength != name.size()) continue;
    const char* stored = arena_.data() + slot.offset;
    if (std::string_view(stored, slot.nameLength) == name) {
      value = (slot.valueLength & kRefusedBit) != 0
                  ? std::string_view(kRefusedValue)
                  : std::string_view(stored + slot.nameLength, slot.valueLength);
      return true;
    }
  }
}

uint32_t NameIndex::childOf(uint32_t node, unsigned char byte) const {
  const Node& from = nodes_[node];
  const unsigned char* first = edgeBytes_.data() + from.firstEdge;
  const unsigned char* last = first + from.edgeCount;
  const unsigned char* slot = std::lower_bound(first, last, byte);
  if (slot == last || *slot != byte) return kNone;
  return edgeTargets_[static_cast<size_t>(slot - edgeBytes_.data())];
}

std::optional<NameIndex::Reference> NameIndex::findLeftmostReference(std::string_view text,
                                                                     size_t begin,
                                                                     size_t end) const {
  std::optional<Reference> leftmost;
  uint32_t node = 0;
  // At each step `node` stands for the name text[name, end); its opening brace would be at name-1.
  for (size_t name = end; name > begin; --name) {
    const char before = text[name - 1];
    if (before == '{' && nodes_[node].entry != kNone) {
      leftmost = Reference{name - 1, entries_[nodes_[node].entry].value};
    }
    node = childOf(node, static_cast<unsigned char>(before));
    if (node == kNone) break;
  }
  return leftmost;
}

}  // namespace kvowrapper
