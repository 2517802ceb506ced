#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvowrapper {

template <class Unit>
using Text = std::basic_string_view<Unit>;

// A definition as it stands in a text of `Unit`s: bytes, or UTF-16 code units.
template <class Unit>
struct Definition {
  std::basic_string<Unit> name;
  std::basic_string<Unit> value;
  bool isRefused = false;  // the value cannot be written in the text's encoding
  std::string givenName;   // as given on the command line, for the message that refuses it
};

// The defined names by a hash taken from a name's last unit to its first, so that a walk back
// from a closing brace has the hash of every name ending there at one step a unit, whatever
// opening braces the names hold.
template <class Unit>
class NameIndex {
 public:
  using Hash = uint64_t;
  static constexpr Hash kEmptyName = 0;

  // The hash of `unit` followed by the name whose hash is `hash`.
  static Hash extend(Hash hash, Unit unit) {
    constexpr Hash kMultiplier = 0x9e3779b97f4a7c15;
    return (hash + static_cast<Hash>(unit) + 1) * kMultiplier;
  }

  // The hash of a whole name, as a walk back over it makes it.
  static Hash hashOf(Text<Unit> name) {
    Hash hash = kEmptyName;
    for (auto unit = name.rbegin(); unit != name.rend(); ++unit) hash = extend(hash, *unit);
    return hash;
  }

  // The definitions must outlive the index; of two with one name, the later counts.
  explicit NameIndex(const std::vector<Definition<Unit>>& definitions) {
    while (slots_.size() < 2 * definitions.size()) slots_.resize(2 * slots_.size());
    shift_ = 64 - std::countr_zero(slots_.size());
    for (const Definition<Unit>& definition : definitions) {
      // A reference's name runs to the first closing brace, so a name holding one never matches.
      if (definition.name.find(Unit('}')) != std::basic_string<Unit>::npos) continue;
      const Hash hash = hashOf(definition.name);
      size_t slot = slotOf(hash);
      while (slots_[slot].definition != nullptr && slots_[slot].definition->name != definition.name)
        slot = (slot + 1) & (slots_.size() - 1);
      slots_[slot] = {hash, &definition};
      longestName_ = std::max(longestName_, definition.name.size());
      mostBraces_ =
          std::max(mostBraces_, static_cast<size_t>(std::count(definition.name.begin(),
                                                               definition.name.end(), Unit('{'))));
    }
  }

  // False when no defined name has this hash; true may be a name of the same hash.
  bool mayBeDefined(Hash hash) const {
    for (size_t slot = slotOf(hash); slots_[slot].definition != nullptr;
         slot = (slot + 1) & (slots_.size() - 1)) {
      if (slots_[slot].hash == hash) return true;
    }
    return false;
  }

  // The definition of `name`, whose hash is `hash`, or nullptr when it is not defined.
  const Definition<Unit>* findDefinition(Text<Unit> name, Hash hash) const {
    for (size_t slot = slotOf(hash); slots_[slot].definition != nullptr;
         slot = (slot + 1) & (slots_.size() - 1)) {
      if (slots_[slot].hash == hash && Text<Unit>(slots_[slot].definition->name) == name)
        return slots_[slot].definition;
    }
    return nullptr;
  }

  size_t longestName() const { return longestName_; }
  // The most opening braces that a defined name holds.
  size_t mostBraces() const { return mostBraces_; }

 private:
  // Open addressing, probed linearly from the hash's top bits: a power of two at least twice the
  // names, so there is always an empty slot. (A standard map's modulo took a fifth of the run on
  // the bench's dense references.)
  struct Slot {
    Hash hash = 0;
    const Definition<Unit>* definition = nullptr;  // nullptr: empty
  };
  size_t slotOf(Hash hash) const { return static_cast<size_t>(hash >> shift_); }

  std::vector<Slot> slots_ = std::vector<Slot>(2);
  int shift_ = 63;
  size_t longestName_ = 0;
  size_t mostBraces_ = 0;
};

}  // namespace kvowrapper
