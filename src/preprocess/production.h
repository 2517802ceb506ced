#pragma once

#include <string>

#include "definitions/definition_table.h"
#include "preprocess/processed_file.h"

namespace kvowrapper {

// The step that makes the processed file: opens the source at `inputPath`, takes the turn on
// `processed`'s name and writes there the source's text processed with `table`'s definitions.
// On failure it has written its one-line message and returns false, the name as it was.
bool produceProcessedFile(const DefinitionTable& table, const std::string& inputPath,
                          ProcessedFile& processed);

}  // namespace kvowrapper
