#pragma once

#include <string>
#include <string_view>

#include "definitions/definition_table.h"
#include "system/file_access.h"

namespace kvowrapper {

// Appended to the source's path to name the processed file beside it.
inline constexpr std::string_view kProcessedSuffix = "-processed.rsrc";

// What a processed source leaves to the run: the processed file's name and identity, and the
// open processed file holding the run's turn on that name, which must be held until the compiler
// that reads the file has ended.
struct ProcessedFile {
  std::string name;
  std::string identity;  // see fileIdentity
  FileHandle turn;
  bool isWrittenInPlace = false;  // into a file this run did not make
};

// Reads the source at `inputPath` and writes its processed text, {name} references expanded and
// then continued strings joined, under the input path followed by kProcessedSuffix: in turn with
// other runs on that name (waiting for the one that holds it), into a new file put in place in
// one step, or, where no new file can be made or put in place, into the file that stands there.
// `ancestors` lists the identities of the processed files of the runs that started this one: a
// run on one of them fails at once rather than wait for itself. On failure it has written its
// message, left the processed name as it was and no new file behind, and returns false.
bool produceProcessedFile(const DefinitionTable& table, const std::string& inputPath,
                          std::string_view ancestors, ProcessedFile& processed);

}  // namespace kvowrapper
