#pragma once

#include <string_view>

#include "definitions/definition_table.h"
#include "preprocess/written.h"
#include "system/file_access.h"

namespace kvowrapper {

// Writes the processed text of `source`, read from where it stands to the end of its text, to
// `out`: {name} references to `table`'s definitions expanded, then continued strings joined,
// in the source's encoding. The first failed write ends it; so does a source that cannot be read
// (named `sourcePath` in the failure) or a reference to a value that the encoding cannot hold.
// Nothing is printed.
Written writeProcessedText(const FileHandle& source, std::string_view sourcePath,
                           const DefinitionTable& table, const FileHandle& out);

}  // namespace kvowrapper
