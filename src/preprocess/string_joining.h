#pragma once

#include <cstddef>
#include <string>

namespace kvowrapper {

// Joins continued quoted strings ("a" \<line break> "b" becomes "ab") in a text that arrives in
// pieces. Text is compacted in place with a read and a write position, so each byte moves once.
class StringJoiner {
 public:
  struct Progress {
    size_t finished;  // data[0, finished) is final joined text
    size_t pending;   // data[pending, size) must be offered again with more text after it
  };

  // Joins within data[0, size). `isLast` says no text follows; otherwise a possible span that
  // runs into the end is left pending. The byte after a removed span is never itself tested as
  // the start of a span, also when it arrives in the next piece.
  Progress join(char* data, size_t size, bool isLast);

 private:
  bool skipNext_ = false;
};

}  // namespace kvowrapper
