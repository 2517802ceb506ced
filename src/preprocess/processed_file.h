#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "driver/definition_table.h"
#include "preprocess/source_file.h"

namespace kvowrapper {

// Appended to the source's path to name the processed file beside it.
inline constexpr std::string_view kProcessedSuffix = "-processed.rsrc";

// Size of the pieces in which the processed text is produced and written.
inline constexpr size_t kDefaultChunkSize = size_t{256} * 1024;

// Receives consecutive pieces of processed text; returns false to stop the stream.
using TextSink = std::function<bool(std::string_view)>;

// Produces the processed text of `source`: cut at its first NUL byte, {name} references expanded,
// then continued strings joined. Hands it to `sink` in pieces of about `chunkSize` bytes and
// returns false as soon as the sink does.
bool streamProcessedText(const DefinitionTable& table, std::string_view source, size_t chunkSize,
                         const TextSink& sink);

// The whole processed text of `source`, for callers that want it in memory.
std::string processText(const DefinitionTable& table, std::string_view source,
                        size_t chunkSize = kDefaultChunkSize);

// Reads the source at `inputPath` and writes its processed text to `processedName`, which it sets
// to the input path followed by kProcessedSuffix. On failure it has written its message to
// standard error, left no processed file behind, and returns false.
bool produceProcessedFile(const DefinitionTable& table, std::string& processedName,
                          const char* inputPath);

// Names, creates and writes the processed file for the source loaded from `inputPath`.
// On failure it has written its message, removed any partial file, and returns false.
bool writeProcessedFile(std::string& processedName, const DefinitionTable& table,
                        SourceFile& source, const char* inputPath);

}  // namespace kvowrapper
