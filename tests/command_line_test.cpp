#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kvowrapper {
namespace {

// Splits a command line the way the Windows C runtime builds argv (the rules since 2008).
std::vector<std::string> splitLikeWindowsRuntime(const std::string& line) {
  std::vector<std::string> arguments;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == line.size()) break;
    std::string argument;
    bool isQuoted = false;
    for (; i < line.size(); ++i) {
      size_t backslashes = 0;
      while (i < line.size() && line[i] == '\\') {
        ++backslashes;
        ++i;
      }
      if (i < line.size() && line[i] == '"') {
        argument.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          argument += '"';
        } else if (isQuoted && i + 1 < line.size() && line[i + 1] == '"') {
          argument += '"';
          ++i;
        } else {
          isQuoted = !isQuoted;
        }
        continue;
      }
      argument.append(backslashes, '\\');
      if (i == line.size()) break;
      if (!isQuoted && (line[i] == ' ' || line[i] == '\t')) break;
      argument += line[i];
    }
    arguments.push_back(argument);
  }
  return arguments;
}

TEST(QuoteWindowsArgument, QuotesByTheRuntimeRules) {
  struct Case {
    std::string in;
    std::string expected;
  };
  const Case cases[] = {
      {"", R"("")"},
      {"plain", R"("plain")"},
      {"two words", R"("two words")"},
      {"tab\there", "\"tab\there\""},
      {R"(say "hi")", R"("say \"hi\"")"},
      {R"(C:\dir\)", R"("C:\dir\\")"},
      {R"(C:\Program Files\kvo\kvo.exe)", R"("C:\Program Files\kvo\kvo.exe")"},
      {R"(a\"b)", R"("a\\\"b")"},
      {R"(a\\"b)", R"("a\\\\\"b")"},
      {R"(\\server\share\)", R"("\\server\share\\")"},
      {R"(-DNAME="a b")", R"("-DNAME=\"a b\"")"},
  };
  for (const auto& c : cases) EXPECT_EQ(quoteWindowsArgument(c.in), c.expected) << c.in;
}

TEST(BuildWindowsCommandLine, RoundTripsThroughTheRuntimeSplit) {
  const std::vector<std::vector<std::string>> vectors = {
      {"kvo", "-DA=1", "a.rsrc-processed.rsrc"},
      {"kvo", "", "two words", "\t", "\"", "\\", "\\\\", "x\\", "x\\\\\"y\\", "\"\"", " "},
      {R"(C:\Program Files\kvo.exe)", R"(-DROOT=C:\src dir\)", R"(-DQ="quoted")"},
  };
  for (const auto& vector : vectors) {
    std::vector<const char*> arguments;
    for (const auto& entry : vector) arguments.push_back(entry.c_str());
    arguments.push_back(nullptr);
    EXPECT_EQ(splitLikeWindowsRuntime(buildWindowsCommandLine(arguments.data())), vector);
  }
}

}  // namespace
}  // namespace kvowrapper
