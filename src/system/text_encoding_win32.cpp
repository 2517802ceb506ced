#include <windows.h>

#include "system/text_encoding.h"
#include "system/utf16.h"
#include "system/wide_win32.h"

namespace kvowrapper {

std::optional<std::string> toAnsiText(std::string_view text) {
  const UINT codePage = GetACP();
  if (codePage == CP_UTF8) return toUtf8Text(text);
  const std::wstring units = toWide(text);
  if (units.empty()) return std::string();
  BOOL isLacking = FALSE;
  const auto count = static_cast<int>(units.size());
  const int size = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, units.data(), count, nullptr,
                                       0, nullptr, &isLacking);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, units.data(), count, bytes.data(), size,
                      nullptr, &isLacking);
  if (size == 0 || isLacking) return std::nullopt;
  return bytes;
}

std::optional<std::string> toUtf8Text(std::string_view text) {
  if (hasSurrogate(text)) return std::nullopt;
  return std::string(text);
}

std::string_view ansiCodePageName() {
  return GetACP() == CP_UTF8 ? "UTF-8" : "the ANSI code page";
}

}  // namespace kvowrapper
