#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvowrapper {

// A definition as it stands in a text of `Unit`s: bytes, or UTF-16 code units.
template <class Unit>
struct Definition {
  std::basic_string<Unit> name;
  std::basic_string<Unit> value;
  bool isRefused = false;  // the value cannot be written in the text's encoding
  std::string givenName;   // as given on the command line, for the message that refuses it
};

// The defined names in a trie of the names read backwards. Every reference that a closing brace
// ends names the text from its opening brace up to that closing brace, so one walk back from the
// closing brace, a unit per step, meets every defined name that ends there, whatever opening
// braces the names hold; it stops where no defined name goes on, so it is never longer than the
// longest name.
template <class Unit>
class NameIndex {
 public:
  using Node = uint32_t;  // stands for the name spelled from it back to the root
  static constexpr Node kRoot = 0;
  static constexpr Node kNone = UINT32_MAX;

  // The definitions must outlive the index; of two with one name, the later counts.
  explicit NameIndex(const std::vector<Definition<Unit>>& definitions) {
    // Built with a list of children per node, then laid out flat.
    std::vector<std::vector<std::pair<Unit, Node>>> children(1);
    std::vector<const Definition<Unit>*> definitionOf(1, nullptr);
    for (const Definition<Unit>& definition : definitions) {
      // A reference's name runs to the first closing brace, so a name holding one never matches.
      if (definition.name.find(Unit('}')) != std::basic_string<Unit>::npos) continue;
      Node node = kRoot;
      for (auto unit = definition.name.rbegin(); unit != definition.name.rend(); ++unit) {
        auto& list = children[node];
        auto at = std::lower_bound(list.begin(), list.end(), std::pair<Unit, Node>(*unit, 0));
        if (at == list.end() || at->first != *unit) {
          at = list.insert(at, {*unit, static_cast<Node>(children.size())});
          children.emplace_back();  // `list` and `at` are not used again
          definitionOf.push_back(nullptr);
        }
        node = at->second;
      }
      definitionOf[node] = &definition;
    }
    nodes_.resize(children.size());
    for (size_t node = 0; node < children.size(); ++node) {
      nodes_[node] = {definitionOf[node], static_cast<uint32_t>(edgeUnits_.size()),
                      static_cast<uint32_t>(children[node].size())};
      for (const auto& [unit, child] : children[node]) {
        edgeUnits_.push_back(unit);
        edgeTargets_.push_back(child);
      }
    }
  }

  // The node for `unit` followed by the name of `node`; kNone when no defined name ends so.
  Node extend(Node node, Unit unit) const {
    const NodeData& from = nodes_[node];
    const Unit* first = edgeUnits_.data() + from.firstEdge;
    const Unit* last = first + from.edgeCount;
    const Unit* at = std::lower_bound(first, last, unit);
    return at == last || *at != unit
               ? kNone
               : edgeTargets_[from.firstEdge + static_cast<size_t>(at - first)];
  }

  // The definition of the name that `name` stands for, or nullptr when it is not defined.
  const Definition<Unit>* findDefinition(Node name) const { return nodes_[name].definition; }

 private:
  // A node's edges are edgeUnits_/edgeTargets_[firstEdge, firstEdge + edgeCount), sorted.
  struct NodeData {
    const Definition<Unit>* definition = nullptr;
    uint32_t firstEdge = 0;
    uint32_t edgeCount = 0;
  };
  std::vector<NodeData> nodes_;
  std::vector<Unit> edgeUnits_;
  std::vector<Node> edgeTargets_;
};

}  // namespace kvowrapper
