#include "definitions/definition_table.h"

#include <algorithm>

namespace kvowrapper {

bool isDefinitionOption(std::string_view text) {
  return text.find(',') == std::string_view::npos && text.substr(0, 2) == "-D" &&
         text.find('=') != std::string_view::npos;
}

void recordDefinition(DefinitionTable& table, std::string_view option) {
  constexpr std::string_view kPrefix = "-D";
  std::string_view body = option.substr(std::min(kPrefix.size(), option.size()));
  const size_t equals = body.find('=');
  std::string_view name = body.substr(0, equals);
  std::string value;
  if (equals != std::string_view::npos) value = std::string(body.substr(equals + 1));
  // Values are usually paths, which the compiler wants with forward slashes.
  std::replace(value.begin(), value.end(), '\\', '/');

  table.insert_or_assign(std::string(name), std::move(value));
}

}  // namespace kvowrapper
