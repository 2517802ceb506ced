#pragma once

#include <string_view>

namespace kvowrapper {

// True when `text` names a resource source: at least 6 bytes ending in ".rsrc" (case-sensitive).
bool isResourceSource(std::string_view text);

}  // namespace kvowrapper
