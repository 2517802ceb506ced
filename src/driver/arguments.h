#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kvowrapper {

// True when `text` names a resource source: at least 6 bytes ending in ".rsrc" (case-sensitive).
bool isResourceSource(std::string_view text);

// The list of identities a compiler is given in KVOWRAPPER_PROCESSING: the entries of `inherited`
// that are identities (digits and colons), then those of `added`, space-separated; the oldest go
// where the list would be longer than `limit`, so that the compiler can always start.
std::string listRunIdentities(std::string_view inherited, std::string_view added, size_t limit);

}  // namespace kvowrapper
