#pragma once

#include <optional>

#include "system/file_access.h"
#include "system/messages.h"

namespace kvowrapper {

// What writing a text gave: done; a write that failed (`writeError`: kNoRoom, or kOther for any
// other failure); or a failure of the text's own, which names its message.
struct Written {
  FileError writeError = FileError::kNone;
  std::optional<Failure> failure;

  bool isDone() const { return writeError == FileError::kNone && !failure.has_value(); }
};

}  // namespace kvowrapper
