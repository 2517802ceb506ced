#include "preprocess/string_joining.h"

#include <gtest/gtest.h>

#include <string>

namespace kvowrapper {
namespace {

struct JoinCase {
  std::string in;
  std::string expected;
};

const JoinCase kJoinCases[] = {
    {"\"abc\" \\\n    \"def\"", "\"abcdef\""},
    {"\"abc\" \\\r\n    \"def\"", "\"abcdef\""},
    {"\"abc\"\\\n\"def\"", "\"abcdef\""},
    {"\"abc\" \\ \n \n \"def\"", "\"abcdef\""},
    {"\"abc\" \\ \"def\"", "\"abc\" \\ \"def\""},
    {"\"abc\" \\\ndef", "\"abc\" \\\ndef"},
    {"\"abc\"\t\\\n\"def\"", "\"abc\"\t\\\n\"def\""},
    {"\"abc\" \\\n\t\"def\"", "\"abc\" \\\n\t\"def\""},
    {"\"a\" \\\n\"\" \\\n\"b\"", "\"a\" \\\n\"b\""},
    {"\"a\" \\\n\"b\" \\\n\"c\"", "\"abc\""},
    {"\"abc\" \\\n\"", "\"abc"},
    {"\"a\" \\\r\"b\"", "\"ab\""},
    {"\"a\" \\\r\n\r\n\n  \r\"b\"", "\"ab\""},
    {"\"a\" \\ \"b\" \\\n\"c\"", "\"a\" \\ \"bc\""},
    {"\"a\" \\\\\n\"b\"", "\"a\" \\\\\n\"b\""},
    {"\\\"a\\\" \\\n\"b\"", "\\\"a\\b\""},
    {"", ""},
    {"\"", "\""},
    {"\" \\", "\" \\"},
    {"\" \\\n", "\" \\\n"},
    {"x\" \\\n\"y", "xy"},
    {"\"\\\n\"\"\\\n\"", "\"\\\n\""},
    {"\"a\" \\\n\"b\"\n\"c\" \\\n\"d\"", "\"ab\"\n\"cd\""},
};

TEST(JoinContinuedStrings, JoinsWholeText) {
  for (const auto& c : kJoinCases) {
    std::string text = c.in;
    joinContinuedStrings(text);
    EXPECT_EQ(text, c.expected) << c.in;
  }
}

// Offering the text in pieces, as the file is streamed, must give the same bytes whatever the
// piece boundaries, including those inside a span and right after a removed one.
TEST(StringJoiner, PiecesGiveTheSameResult) {
  for (const auto& c : kJoinCases) {
    for (size_t piece = 1; piece <= 5; ++piece) {
      StringJoiner joiner;
      std::string buffer;
      std::string out;
      size_t offered = 0;
      for (;;) {
        const size_t take = std::min(piece, c.in.size() - offered);
        buffer.append(c.in, offered, take);
        offered += take;
        const bool isLast = offered == c.in.size();
        const auto progress = joiner.join(buffer.data(), buffer.size(), isLast);
        out.append(buffer, 0, progress.finished);
        if (isLast) break;
        buffer.erase(0, progress.pending);
      }
      EXPECT_EQ(out, c.expected) << c.in << " in pieces of " << piece;
    }
  }
}

}  // namespace
}  // namespace kvowrapper
