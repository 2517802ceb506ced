#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "preprocess/name_index.h"

namespace kvowrapper {

// Expands {name} references of one text in bounded pieces, so a caller can stream the result.
// It works by plans: copy the text up to a point, then a value (if any), then go on at another.
// The index and the text must outlive the expander.
class BraceExpander {
 public:
  BraceExpander(const NameIndex& index, std::string_view text);

  // Goes on with `text`, which must follow the last one at a point no reference spans.
  void reset(std::string_view text) {
    text_ = text;
    position_ = 0;
    hasPlan_ = false;
  }

  bool isDone() const { return position_ >= text_.size() && !hasPlan_; }

  // The name of a refused value (see RefusedNames) that a reference asked for; the expander then
  // stops. None while none was.
  const std::optional<std::string>& refusedName() const { return refusedName_; }

  // Writes expanded text to out[used, ...) until at least `target` bytes are used or the text is
  // done, and returns the new used count. A value is written whole, so `out` must have room for
  // target + index.longestValue() bytes.
  size_t expandInto(char* out, size_t used, size_t target);

 private:
  void plan();
  void planToNextReference();
  void planToNextClosingBrace();
  void planCopyTo(size_t end);
  void planReplacement(size_t brace, std::string_view value, size_t resume);
  size_t findOpeningBrace(size_t from) const;
  size_t findNameEnd(size_t name) const;

  const NameIndex& index_;
  std::string_view text_;
  size_t position_ = 0;  // next byte of the text to copy
  // The plan: copy up to copyEnd_, then append value_ (if hasValue_), then go on at resume_.
  bool hasPlan_ = false;
  size_t copyEnd_ = 0;
  bool hasValue_ = false;
  std::string_view value_;
  size_t resume_ = 0;
  std::optional<std::string> refusedName_;
};

}  // namespace kvowrapper
