// Feeds arbitrary option texts, one per line, to the argument predicate and the definition
// table, and checks the table against a plain model: the last definition of a name wins.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "definitions/definition_table.h"
#include "driver/arguments.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  kvowrapper::DefinitionTable table;
  kvowrapper::DefinitionTable model;
  while (!input.empty()) {
    const std::string_view option = input.substr(0, input.find('\n'));
    input.remove_prefix(std::min(option.size() + 1, input.size()));
    const size_t equals = option.find('=');
    const bool isDefinition = option.starts_with("-D") && equals != std::string_view::npos &&
                              option.find(',') == std::string_view::npos;
    if (kvowrapper::isDefinitionOption(option) != isDefinition) std::abort();
    if (!isDefinition) continue;
    kvowrapper::recordDefinition(table, option);
    std::string value(option.substr(equals + 1));
    for (char& c : value) c = c == '\\' ? '/' : c;
    model[std::string(option.substr(2, equals - 2))] = value;
  }
  if (table != model) std::abort();
  // Lookups match whole names only: no recorded name holds an equals sign.
  for (const auto& [name, value] : model) {
    const auto found = table.find(name);
    if (found == table.end() || found->second != value || table.count(name + '=') > 0) {
      std::abort();
    }
  }
  return 0;
}
