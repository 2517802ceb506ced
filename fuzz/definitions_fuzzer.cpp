// Feeds arbitrary option texts to the argument predicate and the definition table, and checks
// every lookup against a plain list of the definitions in command-line order.
//
// Input layout: option texts separated by newlines.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver/arguments.h"
#include "driver/definition_table.h"

namespace {

void check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "definition check failed: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  kvowrapper::DefinitionTable table;
  std::vector<std::pair<std::string, std::string>> recorded;
  while (!input.empty()) {
    const size_t end = std::min(input.find('\n'), input.size());
    const std::string_view option = input.substr(0, end);
    input.remove_prefix(std::min(end + 1, input.size()));

    const bool expected = option.size() >= 2 && option[0] == '-' && option[1] == 'D' &&
                          option.find('=') != std::string_view::npos &&
                          option.find(',') == std::string_view::npos;
    check(kvowrapper::isDefinitionOption(option) == expected, "isDefinitionOption");
    if (!expected) continue;
    kvowrapper::recordDefinition(table, option);
    const size_t equals = option.find('=');
    std::string value(option.substr(equals + 1));
    for (char& c : value) {
      if (c == '\\') c = '/';
    }
    recorded.emplace_back(std::string(option.substr(2, equals - 2)), std::move(value));
  }

  size_t distinct = 0;
  for (size_t i = 0; i < recorded.size(); ++i) {
    const std::string& name = recorded[i].first;
    const std::string& value = recorded[i].second;
    const bool isLast =
        std::none_of(recorded.begin() + static_cast<std::ptrdiff_t>(i) + 1, recorded.end(),
                     [&](const auto& later) { return later.first == name; });
    if (!isLast) continue;
    ++distinct;
    const std::string* found = kvowrapper::findDefinition(table, name);
    check(found != nullptr && *found == value, "last definition wins");
    // No recorded name holds an equals sign, so this longer name is never defined.
    check(kvowrapper::findDefinition(table, name + '=') == nullptr, "whole-name match");
  }
  check(table.size() == distinct, "one entry per name");
  return 0;
}
