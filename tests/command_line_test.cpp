#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace kvowrapper {
namespace {

// What the Windows runtime splits back into the original; the end-to-end tests under Wine check
// the same against a real runtime.
TEST(QuoteWindowsArgument, QuotesByTheRuntimeRules) {
  struct Case {
    std::string in;
    std::string expected;
  };
  const Case cases[] = {
      {"", R"("")"},
      {"two words", R"("two words")"},
      {R"(say "hi")", R"("say \"hi\"")"},
      {R"(C:\dir\)", R"("C:\dir\\")"},
      {R"(a\"b)", R"("a\\\"b")"},
      {R"(a\\"b)", R"("a\\\\\"b")"},
      {R"(\\server\share\)", R"("\\server\share\\")"},
  };
  for (const auto& c : cases) EXPECT_EQ(quoteWindowsArgument(c.in), c.expected) << c.in;
  const char* vector[] = {"kvo", "a b", nullptr};
  EXPECT_EQ(buildWindowsCommandLine(vector), R"("kvo" "a b")");
}

}  // namespace
}  // namespace kvowrapper
