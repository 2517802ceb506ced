#pragma once

#include <string>
#include <string_view>

namespace testing_support {

// A UTF-16 text with its byte-order mark, as a source holds it.
inline std::string utf16(std::u16string_view text, bool isBigEndian = false) {
  std::string bytes = isBigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char16_t unit : text) {
    const auto high = static_cast<char>(unit >> 8);
    const auto low = static_cast<char>(unit & 0xFF);
    bytes += isBigEndian ? high : low;
    bytes += isBigEndian ? low : high;
  }
  return bytes;
}

}  // namespace testing_support
