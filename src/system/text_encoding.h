#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kvowrapper {

// How the command line's texts stand in a source that has no UTF-16 mark.

// The bytes that stand for the UTF-8 `text` in a source without a byte-order mark: on Windows its
// characters in the ANSI code page, none when the code page lacks one (a best fit, such as e for
// é, is lacking too); elsewhere the bytes as they are.
std::optional<std::string> toAnsiText(std::string_view text);

// The bytes that stand for the command-line `text` in a UTF-8 source: on Windows the text itself,
// none when it holds a lone surrogate, which UTF-8 cannot hold; elsewhere the bytes as they are.
std::optional<std::string> toUtf8Text(std::string_view text);

// What the texts of a source without a mark are, for messages: "UTF-8" on Windows where the ANSI
// code page is UTF-8, else "the ANSI code page".
std::string_view ansiCodePageName();

}  // namespace kvowrapper
