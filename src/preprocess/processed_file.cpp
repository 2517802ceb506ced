#include "preprocess/processed_file.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "preprocess/brace_substitution.h"
#include "preprocess/source_file.h"
#include "preprocess/string_joining.h"

#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace kvowrapper {

namespace {

// Largest transfer asked of one write; the Windows runtime counts in unsigned int.
constexpr size_t kMaxTransfer = size_t{1} << 30;

void reportOutOfMemory() {
  std::fprintf(stderr, "kvowrapper: out of memory\n");
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const size_t chunk = std::min(bytes.size(), kMaxTransfer);
#ifdef _WIN32
    const int put = _write(fd, bytes.data(), static_cast<unsigned>(chunk));
#else
    const ssize_t put = write(fd, bytes.data(), chunk);
#endif
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(put));
  }
  return true;
}

}  // namespace

bool streamProcessedText(const DefinitionTable& table, std::string_view source, size_t chunkSize,
                         const TextSink& sink) {
  // The text ends at its first NUL byte, as a C string would.
  if (const size_t nul = source.find('\0'); nul != std::string_view::npos) {
    source = source.substr(0, nul);
  }
  chunkSize = std::max<size_t>(chunkSize, 1);
  const ReverseNameIndex index(table);
  BraceExpander expander(index, source);
  StringJoiner joiner;
  std::string buffer;
  buffer.reserve(chunkSize);
  size_t target = chunkSize;
  for (;;) {
    expander.expandInto(buffer, target);
    const bool isLast = expander.isDone();
    const auto progress = joiner.join(buffer.data(), buffer.size(), isLast);
    if (progress.finished > 0 && !sink(std::string_view(buffer.data(), progress.finished))) {
      return false;
    }
    if (isLast) return true;
    const size_t pendingLength = buffer.size() - progress.pending;
    buffer.erase(0, progress.pending);
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
                        std::string_view source, const char* inputPath, bool isSourceMapped) {
  processedName.assign(inputPath).append(kProcessedSuffix);
  const int fd =
      open(processedName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0666);  // NOLINT
  if (fd < 0) {
    std::fprintf(stderr, "kvowrapper: unable to create temporary file %s\n", processedName.c_str());
    return false;
  }
  bool isWritten = false;
  bool isOutOfMemory = false;
  std::optional<MappedReadFaultGuard> faultGuard;
  try {
    if (isSourceMapped) {
      faultGuard.emplace("kvowrapper: unable to read input file " + std::string(inputPath) + "\n",
                         processedName);
    }
    isWritten = streamProcessedText(table, source, kDefaultChunkSize,
                                    [fd](std::string_view piece) { return writeAll(fd, piece); });
  } catch (const std::bad_alloc&) {
    isOutOfMemory = true;
  }
  // A failed close can mean the data never reached the disk.
  const bool isClosed = close(fd) == 0;
  if (isWritten && isClosed) return true;
  if (isOutOfMemory) {
    reportOutOfMemory();
  } else {
    std::fprintf(stderr, "kvowrapper: unable to write temporary file %s\n", processedName.c_str());
  }
  unlink(processedName.c_str());
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
  return writeProcessedFile(processedName, table, source.bytes(), inputPath, source.isMapped());
}

}  // namespace kvowrapper
