#include "preprocess/processed_file.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "preprocess/brace_substitution.h"
#include "preprocess/file_io.h"
#include "preprocess/string_joining.h"

namespace kvowrapper {

namespace {

void reportOutOfMemory() {
  std::fprintf(stderr, "kvowrapper: out of memory\n");
}

}  // namespace

bool streamProcessedText(const DefinitionTable& table, std::string_view source, size_t chunkSize,
                         const TextSink& sink) {
  // The text ends at its first NUL byte, as a C string would.
  if (const size_t nul = source.find('\0'); nul != std::string_view::npos) {
    source = source.substr(0, nul);
  }
  // A small source gets a buffer of its own size: fresh pages cost more than the text's work.
  chunkSize = std::clamp<size_t>(source.size(), 1, std::max<size_t>(chunkSize, 1));
  const NameIndex index(table);
  BraceExpander expander(index, source);
  StringJoiner joiner;
  // One buffer for the whole stream: buffer[0, used) holds text not yet handed on.
  std::string buffer;
  size_t used = 0;
  size_t target = chunkSize;
  for (;;) {
    if (buffer.size() < target + index.longestValue()) buffer.resize(target + index.longestValue());
    used = expander.expandInto(buffer.data(), used, target);
    const bool isLast = expander.isDone();
    const auto progress = joiner.join(buffer.data(), used, isLast);
    if (progress.finished > 0 && !sink(std::string_view(buffer.data(), progress.finished))) {
      return false;
    }
    if (isLast) return true;
    const size_t pendingLength = used - progress.pending;
    std::memmove(buffer.data(), buffer.data() + progress.pending, pendingLength);
    used = pendingLength;
    // A span left open is tested again from its start; asking for twice its length each time
    // keeps that retesting linear however long the span grows.
    target = std::max(chunkSize, pendingLength * 2);
  }
}

std::string processText(const DefinitionTable& table, std::string_view source, size_t chunkSize) {
  std::string text;
  streamProcessedText(table, source, chunkSize, [&text](std::string_view piece) {
    text.append(piece);
    return true;
  });
  return text;
}

bool writeProcessedFile(std::string& processedName, const DefinitionTable& table,
                        SourceFile& source, const char* inputPath) {
  processedName.assign(inputPath).append(kProcessedSuffix);
  // The processed file is written in place; when a mapped source is that very file (through a
  // link), it must be read from a copy. A source read into memory is safe already, and the
  // check costs a system call at every start.
  if (source.isMapped() && source.isSameFile(processedName.c_str()) && !source.detach()) {
    reportOutOfMemory();
    return false;
  }
  const int fd = openForWriting(processedName.c_str());
  if (fd < 0) {
    std::fprintf(stderr, "kvowrapper: unable to create temporary file %s\n", processedName.c_str());
    return false;
  }
  bool isWritten = false;
  bool isOutOfMemory = false;
  uint64_t written = 0;
  std::optional<MappedReadFaultGuard> faultGuard;
  try {
    if (source.isMapped()) {
      faultGuard.emplace("kvowrapper: unable to read input file " + std::string(inputPath) + "\n",
                         processedName);
    }
    isWritten = streamProcessedText(table, source.bytes(), kDefaultChunkSize,
                                    [fd, &written](std::string_view piece) {
                                      written += piece.size();
                                      return writeAll(fd, piece.data(), piece.size());
                                    });
  } catch (const std::bad_alloc&) {
    isOutOfMemory = true;
  }
  // An earlier, longer processed file may have been overwritten in place.
  if (isWritten) isWritten = truncateFile(fd, written);
  // A failed close can mean the data never reached the disk.
  const bool isClosed = closeFile(fd);
  if (isWritten && isClosed) return true;
  if (isOutOfMemory) {
    reportOutOfMemory();
  } else {
    std::fprintf(stderr, "kvowrapper: unable to write temporary file %s\n", processedName.c_str());
  }
  std::remove(processedName.c_str());
  return false;
}

bool produceProcessedFile(const DefinitionTable& table, std::string& processedName,
                          const char* inputPath) {
  SourceFile source;
  switch (source.load(inputPath)) {
    case SourceFile::Status::kOpenFailed:
      std::fprintf(stderr, "kvowrapper: unable to open input file %s\n", inputPath);
      return false;
    case SourceFile::Status::kReadFailed:
      std::fprintf(stderr, "kvowrapper: unable to read input file %s\n", inputPath);
      return false;
    case SourceFile::Status::kOutOfMemory:
      reportOutOfMemory();
      return false;
    case SourceFile::Status::kOk:
      break;
  }
  return writeProcessedFile(processedName, table, source, inputPath);
}

}  // namespace kvowrapper
