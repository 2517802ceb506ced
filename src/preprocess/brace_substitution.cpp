#include "preprocess/brace_substitution.h"

#include <algorithm>
#include <cstring>

namespace kvowrapper {

ReverseNameIndex::ReverseNameIndex(const DefinitionTable& table) : nodes_(1) {
  for (const auto& [name, value] : table) {
    // A reference name never contains a closing brace, so such a name can never match.
    if (name.find('}') != std::string::npos) continue;
    uint32_t node = 0;
    for (auto it = name.rbegin(); it != name.rend(); ++it) {
      const auto byte = static_cast<unsigned char>(*it);
      auto& children = nodes_[node].children;
      auto slot =
          std::lower_bound(children.begin(), children.end(), byte,
                           [](const auto& child, unsigned char b) { return child.first < b; });
      if (slot != children.end() && slot->first == byte) {
        node = slot->second;
        continue;
      }
      const auto created = static_cast<uint32_t>(nodes_.size());
      children.insert(slot, {byte, created});
      nodes_.emplace_back();  // invalidates `children`, which is not used again
      node = created;
    }
    nodes_[node].value = &value;
    isEmpty_ = false;
  }
}

const ReverseNameIndex::Node* ReverseNameIndex::childOf(const Node& node,
                                                        unsigned char byte) const {
  const auto& children = node.children;
  auto slot = std::lower_bound(children.begin(), children.end(), byte,
                               [](const auto& child, unsigned char b) { return child.first < b; });
  if (slot == children.end() || slot->first != byte) return nullptr;
  return &nodes_[slot->second];
}

std::optional<ReverseNameIndex::Reference> ReverseNameIndex::findLeftmostReference(
    std::string_view text, size_t begin, size_t end) const {
  std::optional<Reference> leftmost;
  const Node* node = &nodes_[0];
  // At each step `node` stands for the name text[name, end); its opening brace would be at name-1.
  for (size_t name = end; name > begin; --name) {
    const char before = text[name - 1];
    if (node->value != nullptr && before == '{') leftmost = Reference{name - 1, node->value};
    node = childOf(*node, static_cast<unsigned char>(before));
    if (node == nullptr) break;
  }
  return leftmost;
}

BraceExpander::BraceExpander(const ReverseNameIndex& index, std::string_view text)
    : index_(index), text_(text) {}

void BraceExpander::planSegment() {
  // A segment runs from here to the next closing brace (or the end). Every opening brace in it
  // names the text up to that closing brace, so only the leftmost defined one can be replaced;
  // scanning resumes after the closing brace either way.
  const char* found = static_cast<const char*>(
      std::memchr(text_.data() + position_, '}', text_.size() - position_));
  const size_t close = found != nullptr ? static_cast<size_t>(found - text_.data()) : text_.size();
  std::optional<ReverseNameIndex::Reference> reference;
  if (!index_.isEmpty()) reference = index_.findLeftmostReference(text_, position_, close);
  if (reference) {
    copyEnd_ = reference->bracePosition;
    value_ = reference->value;
    resume_ = std::min(close + 1, text_.size());
  } else {
    copyEnd_ = std::min(close + 1, text_.size());
    value_ = nullptr;
    resume_ = copyEnd_;
  }
  hasSegment_ = true;
}

void BraceExpander::expandInto(std::string& out, size_t target) {
  while (out.size() < target && !isDone()) {
    if (!hasSegment_) planSegment();
    const size_t length = std::min(copyEnd_ - position_, target - out.size());
    out.append(text_.data() + position_, length);
    position_ += length;
    if (position_ == copyEnd_) {
      if (value_ != nullptr) out.append(*value_);
      position_ = resume_;
      hasSegment_ = false;
    }
  }
}

std::string expandBraceReferences(const DefinitionTable& table, std::string_view text) {
  const ReverseNameIndex index(table);
  BraceExpander expander(index, text);
  std::string out;
  expander.expandInto(out, SIZE_MAX);
  return out;
}

}  // namespace kvowrapper
