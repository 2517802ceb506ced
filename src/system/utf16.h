#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace kvowrapper {

// UTF-16 text is processed as WTF-8: UTF-8 in which a surrogate without its partner is kept as a
// three-byte sequence of its own. The byte passes then apply unchanged (no multi-byte sequence
// holds an ASCII byte), and the text comes back unit for unit.

// Decodes the UTF-16 code units in `bytes` (an even number of bytes, no mark) into WTF-8 at
// `out`, which has room for bytes.size() * 3 / 2; returns the length written.
size_t decodeUtf16(std::string_view bytes, bool isBigEndian, char* out);

// Encodes WTF-8 text (whole sequences only) back into UTF-16 code units at `out`, which has room
// for wtf8.size() * 2 bytes; returns the length written.
size_t encodeUtf16(std::string_view wtf8, bool isBigEndian, char* out);

// WTF-8 to UTF-16 code units and back, for the wide Windows API: exact for any sequence of
// units, lone surrogates included.
std::u16string toUtf16(std::string_view wtf8);
std::string fromUtf16(std::u16string_view units);

// True when `text` is well-formed UTF-8 (no surrogates, no overlong forms).
bool isValidUtf8(std::string_view text);

}  // namespace kvowrapper
