#include "system/windows_path.h"

namespace kvowrapper {

std::u16string extendedLengthPath(std::u16string_view fullPath) {
  constexpr size_t kMaxPath = 260;
  if (fullPath.size() < kMaxPath || fullPath.starts_with(u"\\\\?\\")) {
    return std::u16string(fullPath);
  }
  if (fullPath.starts_with(u"\\\\.\\")) return u"\\\\?\\" + std::u16string(fullPath.substr(4));
  if (fullPath.starts_with(u"\\\\")) return u"\\\\?\\UNC\\" + std::u16string(fullPath.substr(2));
  return u"\\\\?\\" + std::u16string(fullPath);
}

}  // namespace kvowrapper
