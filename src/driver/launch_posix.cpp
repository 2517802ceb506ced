#include <stdlib.h>
#include <unistd.h>

#include "driver/launch.h"

namespace kvowrapper {

std::optional<int> launchRealCompiler(const char* path, const char* const* arguments) {
  // execvp's prototype predates const; it does not modify the strings.
  execvp(path, const_cast<char* const*>(arguments));
  return std::nullopt;
}

size_t environmentValueLimit(std::string_view name) {
  constexpr size_t kLongestString = size_t{128} * 1024;  // Linux's MAX_ARG_STRLEN
  return kLongestString - name.size() - 2;               // "=" and the NUL
}

void setCompilerEnvironment(const char* name, const std::string& value) {
  setenv(name, value.c_str(), 1);
}

}  // namespace kvowrapper
