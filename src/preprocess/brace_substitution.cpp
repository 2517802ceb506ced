#include "preprocess/brace_substitution.h"

#include <algorithm>
#include <cstring>

namespace kvowrapper {

BraceExpander::BraceExpander(const NameIndex& index, std::string_view text)
    : index_(index), text_(text) {}

void BraceExpander::plan() {
  hasPlan_ = true;
  hasValue_ = false;
  if (index_.isEmpty()) {
    planCopyTo(text_.size());
  } else if (index_.hasBraceInNames()) {
    planToNextClosingBrace();
  } else {
    planToNextReference();
  }
}

void BraceExpander::planCopyTo(size_t end) {
  copyEnd_ = resume_ = end;
}

void BraceExpander::planReplacement(size_t brace, std::string_view value, size_t resume) {
  if (NameIndex::isRefused(value)) {
    // Rare: the name is copied, and the text is given up.
    const size_t close = std::min(resume, text_.size() + 1) - 1;
    refusedName_ = std::string(text_.substr(brace + 1, close - brace - 1));
    position_ = text_.size();
    hasPlan_ = false;
    return;
  }
  copyEnd_ = brace;
  hasValue_ = true;
  value_ = value;
  resume_ = std::min(resume, text_.size());
}

size_t BraceExpander::findOpeningBrace(size_t from) const {
  const size_t size = text_.size();
  // References often stand close together; a call to memchr costs more than a short look
  // (without it the bench's dense references to undefined names take 1.5 times as long).
  const size_t near = std::min(size, from + 16);
  for (; from < near; ++from) {
    if (text_[from] == '{') return from;
  }
  if (from == size) return size;
  const void* found = std::memchr(text_.data() + from, '{', size - from);
  return found != nullptr ? static_cast<size_t>(static_cast<const char*>(found) - text_.data())
                          : size;
}

size_t BraceExpander::findNameEnd(size_t name) const {
  // No defined name holds a '{' or is longer than the longest, so the scan stops at either; it
  // looks at each byte at most once more than the search for the next brace does.
  const size_t limit = name + std::min(index_.longestName(), text_.size() - name);
  size_t end = name;
  while (end < limit && text_[end] != '}' && text_[end] != '{') ++end;
  return end;
}

void BraceExpander::planToNextReference() {
  const size_t size = text_.size();
  // Braces that start no defined name stay in the copy, so a run of them costs one plan.
  for (size_t brace = findOpeningBrace(position_); brace < size;) {
    // In a run of opening braces only the last can start a name: skip to it at once (the bench's
    // only-opening-braces input takes two to three times as long without).
    while (brace + 1 < size && text_[brace + 1] == '{') ++brace;
    const size_t end = findNameEnd(brace + 1);
    const bool isWholeName = end == size || text_[end] == '}';
    std::string_view value;
    if (isWholeName && index_.findValue(text_.substr(brace + 1, end - brace - 1), value)) {
      planReplacement(brace, value, end + 1);
      return;
    }
    // A '{' that cut the name short may start the next one.
    brace = end < size && text_[end] == '{' ? end : findOpeningBrace(brace + 1);
  }
  planCopyTo(size);
}

void BraceExpander::planToNextClosingBrace() {
  // A plan runs from here to the next closing brace (or the end). Every opening brace in it names
  // the text up to that closing brace, so only the leftmost defined one can be replaced; scanning
  // resumes after the closing brace either way.
  const void* found = std::memchr(text_.data() + position_, '}', text_.size() - position_);
  const size_t close = found != nullptr
                           ? static_cast<size_t>(static_cast<const char*>(found) - text_.data())
                           : text_.size();
  if (const auto reference = index_.findLeftmostReference(text_, position_, close)) {
    planReplacement(reference->bracePosition, reference->value, close + 1);
  } else {
    planCopyTo(std::min(close + 1, text_.size()));
  }
}

size_t BraceExpander::expandInto(char* out, size_t used, size_t target) {
  while (used < target && !isDone()) {
    if (!hasPlan_) plan();
    if (!hasPlan_) break;  // refused
    const size_t length = std::min(copyEnd_ - position_, target - used);
    std::memcpy(out + used, text_.data() + position_, length);
    used += length;
    position_ += length;
    if (position_ == copyEnd_) {
      if (hasValue_) {
        std::memcpy(out + used, value_.data(), value_.size());
        used += value_.size();
      }
      position_ = resume_;
      hasPlan_ = false;
    }
  }
  return used;
}

}  // namespace kvowrapper
