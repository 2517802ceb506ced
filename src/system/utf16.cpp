#include "system/utf16.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace kvowrapper {

namespace {

size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  return 2;
}

}  // namespace

size_t decodeUtf16(std::string_view bytes, bool isBigEndian, char* out) {
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t units = bytes.size() / 2;
  const size_t high = isBigEndian ? 0 : 1;
  auto unitAt = [&](size_t i) -> char32_t {
    return static_cast<char32_t>(in[2 * i + high] << 8 | in[2 * i + (1 - high)]);
  };
  char* const start = out;
  // The mask that keeps four units' bits beyond ASCII, in the order the bytes come.
  const uint64_t beyondAscii = isBigEndian ? 0x80FF80FF80FF80FFULL : 0xFF80FF80FF80FF80ULL;
  for (size_t i = 0; i < units; ++i) {
    // Runs of ASCII, most of a resource script, four units at a time. With the same in the
    // encoder and the search for the end, this made the bench's UTF-16 source three times faster.
    while (std::endian::native == std::endian::little && i + 4 <= units) {
      uint64_t word = 0;
      std::memcpy(&word, in + 2 * i, 8);
      if ((word & beyondAscii) != 0) break;
      for (size_t k = 0; k < 4; ++k) out[k] = static_cast<char>(in[2 * (i + k) + 1 - high]);
      out += 4;
      i += 4;
    }
    if (i == units) break;
    char32_t c = unitAt(i);
    if (c < 0x80) {
      *out++ = static_cast<char>(c);
      continue;
    }
    if (c < 0x800) {
      *out++ = static_cast<char>(0xC0 | c >> 6);
      *out++ = static_cast<char>(0x80 | (c & 0x3F));
      continue;
    }
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
      const char32_t low = unitAt(i + 1);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
        *out++ = static_cast<char>(0xF0 | c >> 18);
        *out++ = static_cast<char>(0x80 | (c >> 12 & 0x3F));
        *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
        continue;
      }
    }
    // Every other unit, a lone surrogate included, is three bytes.
    *out++ = static_cast<char>(0xE0 | c >> 12);
    *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return static_cast<size_t>(out - start);
}

size_t encodeUtf16(std::string_view wtf8, bool isBigEndian, char* out) {
  char* const start = out;
  const size_t high = isBigEndian ? 0 : 1;
  auto put = [&](char32_t unit) {
    out[high] = static_cast<char>(unit >> 8);
    out[1 - high] = static_cast<char>(unit & 0xFF);
    out += 2;
  };
  const auto* in = reinterpret_cast<const unsigned char*>(wtf8.data());
  const size_t size = wtf8.size();
  for (size_t at = 0; at < size;) {
    // Runs of ASCII, eight bytes at a time.
    if (at + 8 <= size) {
      uint64_t word = 0;
      std::memcpy(&word, in + at, 8);
      if ((word & 0x8080808080808080ULL) == 0) {
        for (size_t k = 0; k < 8; ++k) {
          out[2 * k + high] = 0;
          out[2 * k + 1 - high] = static_cast<char>(in[at + k]);
        }
        out += 16;
        at += 8;
        continue;
      }
    }
    const unsigned char* s = in + at;
    const size_t length = std::min(sequenceLength(s[0]), size - at);
    at += length;
    switch (length) {
      case 1:
        put(s[0]);
        break;
      case 2:
        put((s[0] & 0x1Fu) << 6 | (s[1] & 0x3Fu));
        break;
      case 3:
        put((s[0] & 0x0Fu) << 12 | (s[1] & 0x3Fu) << 6 | (s[2] & 0x3Fu));
        break;
      default: {
        const char32_t c =
            ((s[0] & 0x07u) << 18 | (s[1] & 0x3Fu) << 12 | (s[2] & 0x3Fu) << 6 | (s[3] & 0x3Fu)) -
            0x10000;
        put(0xD800 + (c >> 10));
        put(0xDC00 + (c & 0x3FF));
      }
    }
  }
  return static_cast<size_t>(out - start);
}

std::u16string toUtf16(std::string_view wtf8) {
  std::string bytes(wtf8.size() * 2, '\0');
  bytes.resize(encodeUtf16(wtf8, false, bytes.data()));
  std::u16string units(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  }
  return units;
}

std::string fromUtf16(std::u16string_view units) {
  std::string bytes(units.size() * 2, '\0');
  for (size_t i = 0; i < units.size(); ++i) {
    bytes[2 * i] = static_cast<char>(units[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(units[i] >> 8);
  }
  std::string text(units.size() * 3, '\0');
  text.resize(decodeUtf16(bytes, false, text.data()));
  return text;
}

bool isValidUtf8(std::string_view text) {
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
    if (isOverlong || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return false;
    i += length;
  }
  return true;
}

}  // namespace kvowrapper
