#include "preprocess/string_joining.h"

#include <cstring>

namespace kvowrapper {

namespace {

enum class SpanTest { kNone, kFound, kNeedMore };

bool isLineBreak(char c) {
  return c == '\r' || c == '\n';
}

// Tests for a joinable span at data[start], a double quote: spaces, one backslash, a run of
// spaces and line breaks holding at least one line break, then a double quote, whose index goes
// to `quote`.
SpanTest testSpan(const char* data, size_t size, size_t start, bool isLast, size_t& quote) {
  const SpanTest atEnd = isLast ? SpanTest::kNone : SpanTest::kNeedMore;
  size_t i = start + 1;
  while (i < size && data[i] == ' ') ++i;
  if (i == size) return atEnd;
  if (data[i] != '\\') return SpanTest::kNone;
  ++i;
  bool sawLineBreak = false;
  while (i < size && (data[i] == ' ' || isLineBreak(data[i]))) {
    sawLineBreak = sawLineBreak || isLineBreak(data[i]);
    ++i;
  }
  if (i == size) return atEnd;
  if (data[i] != '"' || !sawLineBreak) return SpanTest::kNone;
  quote = i;
  return SpanTest::kFound;
}

}  // namespace

StringJoiner::Progress StringJoiner::join(char* data, size_t size, bool isLast) {
  size_t read = 0;
  size_t write = 0;
  // Moves data[read, end) down to the write position.
  auto keep = [&](size_t end) {
    if (write != read) std::memmove(data + write, data + read, end - read);
    write += end - read;
    read = end;
  };
  while (read < size) {
    if (skipNext_) {
      skipNext_ = false;
      keep(read + 1);
      continue;
    }
    const void* found = std::memchr(data + read, '"', size - read);
    if (found == nullptr) {
      keep(size);
      break;
    }
    keep(static_cast<size_t>(static_cast<const char*>(found) - data));
    size_t quote = 0;
    switch (testSpan(data, size, read, isLast, quote)) {
      case SpanTest::kNeedMore:
        return {write, read};
      case SpanTest::kNone:
        keep(read + 1);
        break;
      case SpanTest::kFound:
        read = quote + 1;
        skipNext_ = true;
        break;
    }
  }
  return {write, size};
}

}  // namespace kvowrapper
