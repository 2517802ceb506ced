#pragma once

#include <cstddef>
#include <string_view>

namespace kvowrapper {

// A text read in windows, so that a source of any size needs memory for a window only.
class TextInput {
 public:
  TextInput() = default;
  TextInput(const TextInput&) = delete;
  TextInput& operator=(const TextInput&) = delete;
  virtual ~TextInput() = default;

  // Sets `window` to the next window on the text: its first `keep` bytes are the last `keep` of
  // the window before, then come the bytes that follow them (at least one more unless the text
  // has ended). The window stays valid until the next call. False when reading fails.
  virtual bool more(size_t keep, std::string_view& window) = 0;

  // True once the last window handed out reaches the end of the text.
  virtual bool isAtEnd() const = 0;
};

}  // namespace kvowrapper
