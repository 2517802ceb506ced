#include "preprocess/processed_file.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
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

#ifdef _WIN32
constexpr int kTruncateOnOpen = O_TRUNC;
bool truncateTo(int fd, uint64_t size) {
  return _chsize_s(fd, static_cast<__int64>(size)) == 0;
}
#else
// An existing processed file is overwritten in place and then cut to the new length, rather than
// truncated on opening: ext4 flushes a file that was truncated to nothing and written again when
// it is closed, which costs more than all the rest of a typical run.
constexpr int kTruncateOnOpen = 0;
bool truncateTo(int fd, uint64_t size) {
  return ftruncate(fd, static_cast<off_t>(size)) == 0;
}
#endif

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
  // A small source gets a buffer of its own size: fresh pages cost more than the text's work.
  chunkSize = std::clamp<size_t>(source.size(), 1, std::max<size_t>(chunkSize, 1));
  const ReverseNameIndex index(table);
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
  // The processed file is written in place; when it is the source itself (through a link),
  // the source must be read from a copy.
  if (source.isSameFile(processedName.c_str()) && !source.detach()) {
    reportOutOfMemory();
    return false;
  }
  const int fd = open(processedName.c_str(), O_WRONLY | O_CREAT | kTruncateOnOpen | O_BINARY,
                      0666);  // NOLINT(cppcoreguidelines-pro-type-vararg)
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
                                      return writeAll(fd, piece);
                                    });
  } catch (const std::bad_alloc&) {
    isOutOfMemory = true;
  }
  if (isWritten && kTruncateOnOpen == 0) isWritten = truncateTo(fd, written);
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
  return writeProcessedFile(processedName, table, source, inputPath);
}

}  // namespace kvowrapper
