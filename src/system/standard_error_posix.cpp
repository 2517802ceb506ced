#include <cstdio>

#include "system/standard_error.h"

namespace kvowrapper {

void writeToStandardError(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace kvowrapper
