#pragma once

#include <string>
#include <string_view>

namespace kvowrapper {

// WTF-8 (UTF-8 in which a surrogate without its partner is kept as a three-byte sequence of its
// own) to UTF-16 code units and back: exact for any sequence of units, lone surrogates included,
// for UTF-16 sources and the wide Windows API.
std::u16string toUtf16(std::string_view wtf8);
std::string fromUtf16(std::u16string_view units);

// True when `text` is well-formed WTF-8: UTF-8 (no overlong forms) in which a lone surrogate may
// stand as a sequence of its own, as the wide Windows command line gives it.
bool isWtf8(std::string_view text);

// True when `text` holds a surrogate's sequence, which UTF-8 cannot hold.
bool hasSurrogate(std::string_view text);

}  // namespace kvowrapper
