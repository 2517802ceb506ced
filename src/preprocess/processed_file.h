#pragma once

#include <string>
#include <string_view>

#include "definitions/definition_table.h"
#include "system/file_access.h"

namespace kvowrapper {

// Appended to the source's path to name the processed file beside it.
inline constexpr std::string_view kProcessedSuffix = "-processed.rsrc";

// What a processed source leaves to the run: the processed file's name, and the open source,
// whose lock must be held until the compiler that reads the file has ended.
struct ProcessedFile {
  std::string name;
  FileHandle source;
};

// Reads the source at `inputPath` whole (holding its lock, so that runs on one source take
// turns), and writes its processed text, {name} references expanded and then continued strings
// joined, to a new file that is put in place under the input path followed by kProcessedSuffix,
// replacing whatever stood there in one step. On failure it has written its message, left the
// processed name as it was and no new file behind, and returns false.
bool produceProcessedFile(const DefinitionTable& table, const std::string& inputPath,
                          ProcessedFile& processed);

}  // namespace kvowrapper
