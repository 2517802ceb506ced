#include "system/utf16.h"

#include <algorithm>

namespace kvowrapper {

std::u16string toUtf16(std::string_view wtf8) {
  std::u16string units;
  units.reserve(wtf8.size());
  const auto* s = reinterpret_cast<const unsigned char*>(wtf8.data());
  for (size_t at = 0; at < wtf8.size();) {
    const unsigned char lead = s[at];
    const size_t length = std::min<size_t>(lead < 0x80   ? 1
                                           : lead < 0xE0 ? 2
                                           : lead < 0xF0 ? 3
                                                         : 4,
                                           wtf8.size() - at);
    char32_t c = length == 1 ? lead : lead & (0x7Fu >> length);
    for (size_t k = 1; k < length; ++k) c = c << 6 | (s[at + k] & 0x3Fu);
    at += length;
    if (c < 0x10000) {
      units += static_cast<char16_t>(c);  // a lone surrogate too
    } else {
      units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return units;
}

std::string fromUtf16(std::u16string_view units) {
  std::string text;
  text.reserve(units.size() * 3);
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    }
    // Every unit that is not half of a pair, a lone surrogate included, is a sequence of its own.
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else if (c < 0x800) {
      text += static_cast<char>(0xC0 | c >> 6);
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      text += static_cast<char>(0xE0 | c >> 12);
      text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      text += static_cast<char>(0xF0 | c >> 18);
      text += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return text;
}

bool isWtf8(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  for (size_t i = 0; i < size;) {
    const unsigned char lead = s[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    size_t length = 0;
    char32_t c = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      c = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      c = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      c = lead & 0x07u;
    } else {
      return false;
    }
    if (i + length > size) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      c = c << 6 | (s[i + k] & 0x3Fu);
    }
    const bool isOverlong = (length == 3 && c < 0x800) || (length == 4 && c < 0x10000);
    if (isOverlong || c > 0x10FFFF) return false;
    i += length;
  }
  return true;
}

bool hasSurrogate(std::string_view text) {
  // U+D800 to U+DFFF are ED A0 80 to ED BF BF.
  for (size_t at = text.find('\xED'); at != std::string_view::npos;
       at = text.find('\xED', at + 1)) {
    if (at + 1 < text.size() && (static_cast<unsigned char>(text[at + 1]) & 0xE0) == 0xA0) {
      return true;
    }
  }
  return false;
}

}  // namespace kvowrapper
