#pragma once

#include <string_view>

namespace kvowrapper {

// True when `text` names a resource source: at least 6 bytes ending in ".rsrc" (case-sensitive).
bool isResourceSource(std::string_view text);

// True when `text` is a definition option: it starts with "-D", contains '=' and has no comma.
bool isDefinitionOption(std::string_view text);

}  // namespace kvowrapper
