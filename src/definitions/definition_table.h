#pragma once

#include <map>
#include <string>
#include <string_view>

namespace kvowrapper {

// Name-to-value definitions from the command line. Names are compared byte for byte;
// the transparent comparator lets lookups take a string_view without copying.
using DefinitionTable = std::map<std::string, std::string, std::less<>>;

// True when `text` is a definition option: it starts with "-D", contains '=' and has no comma.
bool isDefinitionOption(std::string_view text);

// Records a "-Dname=value" option (one for which isDefinitionOption holds): the name runs to the
// first '=', the value is the rest with every backslash turned into a slash. A later definition
// of the same name replaces the earlier one.
void recordDefinition(DefinitionTable& table, std::string_view option);

}  // namespace kvowrapper
