// Differential fuzzing of the text passes: the program's passes must give exactly the text of
// the plain reference passes, for any definitions and text, of bytes or of UTF-16 code units.
//
// Input layout: byte 0 picks the number of definitions (0 to 3) and, by its bit 2, a text of
// UTF-16 units (pairs of bytes); then the definitions as "name=value" and the text, separated by
// 0x01 bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "definitions/definition_table.h"

#include "reference_passes.h"
#include "system/utf16.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t definitions = data[0] % 4;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);

  kvowrapper::DefinitionTable table;
  for (size_t i = 0; i < definitions; ++i) {
    const size_t end = rest.find('\x01');
    if (end == std::string_view::npos) break;
    const std::string_view definition = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    const size_t equals = definition.find('=');
    table[std::string(definition.substr(0, equals))] =
        equals == std::string_view::npos ? std::string()
                                         : std::string(definition.substr(equals + 1));
  }

  bool isSame = false;
  if ((data[0] & 4) == 0) {
    isSame = kvowrapper::processText(table, rest) ==
             kvowrapper::reference::processText(table, std::string(rest));
  } else {
    // Names and values come from a command line in UTF-8 (WTF-8 on Windows).
    std::vector<kvowrapper::Definition<char16_t>> definitions;
    std::map<std::u16string, std::u16string> units;
    for (const auto& [name, value] : table) {
      if (!kvowrapper::isWtf8(name) || !kvowrapper::isWtf8(value)) continue;
      definitions.push_back({kvowrapper::toUtf16(name), kvowrapper::toUtf16(value), false, name});
      units[definitions.back().name] = definitions.back().value;
    }
    std::u16string text(rest.size() / 2, u'\0');
    std::memcpy(text.data(), rest.data(), text.size() * 2);
    text = text.substr(0, text.find(u'\0'));
    isSame = kvowrapper::processUnits<char16_t>(definitions, text) ==
             kvowrapper::reference::processText(units, text);
  }
  if (!isSame) {
    std::fprintf(stderr, "processed text differs from the reference\n");
    std::abort();
  }
  return 0;
}
