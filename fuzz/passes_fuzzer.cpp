// Differential fuzzing of the text passes: the program's passes must give exactly the bytes of
// the plain reference passes, for any definitions and text.
//
// Input layout: byte 0 picks the number of definitions (0 to 3); then the definitions as
// "name=value" and the text, separated by 0x01 bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "definitions/definition_table.h"

#include "reference_passes.h"

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

  const std::string fast = kvowrapper::processText(table, rest);
  const std::string plain = kvowrapper::reference::processText(table, std::string(rest));
  if (fast != plain) {
    std::fprintf(stderr, "processed text differs from the reference\n");
    std::abort();
  }
  return 0;
}
