#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "system/windows_path.h"

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

// Everything cmd could read as an operator stays inside quotes; what it would expand is refused.
TEST(BuildBatchCommandLine, QuotesForCmdAndRefusesWhatItExpands) {
  struct Case {
    std::vector<const char*> arguments;
    std::optional<std::string> expected;
    size_t refused = 0;
  };
  const std::string head = R"("C:\cmd.exe" /d /v:off /c ""C:\b\kvo.bat")";
  const Case cases[] = {
      {{"-DA=1", "a b", ""}, head + R"( "-DA=1" "a b" """)"},
      {{R"(a"&echo X&")", "!x!", "^|<>"}, head + R"( "a""&echo X&""" "!x!" "^|<>"")"},
      {{"ok", "%PATH%"}, std::nullopt, 1},
      {{"line\nbreak"}, std::nullopt, 0},
      {{"ok", "ok", "a\rb"}, std::nullopt, 2},
  };
  for (auto c : cases) {
    c.arguments.push_back(nullptr);
    size_t refused = 99;
    EXPECT_EQ(
        buildBatchCommandLine(R"(C:\cmd.exe)", R"(C:\b\kvo.bat)", c.arguments.data(), refused),
        c.expected);
    if (!c.expected) {
      EXPECT_EQ(refused, c.refused);
    }
  }
  EXPECT_TRUE(isBatchFile("kvo.BAT"));
  EXPECT_TRUE(isBatchFile(R"(C:\x\kvo.cmd)"));
  EXPECT_FALSE(isBatchFile("kvo.exe"));
}

TEST(FindWindowsProgram, SearchesAsTheRuntimeDoes) {
  const std::set<std::string> files = {"kvo.exe",          "tool.bat",       R"(C:\bin\kvo.cmd)",
                                       R"(C:\bin\rc.exe)", R"(D:\x\rc.com)", "sub/kvo.com",
                                       R"(D:\x\plain)"};
  auto exists = [&](const std::string& path) { return files.count(path) > 0; };
  struct Case {
    std::string name;
    std::string path;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"kvo", R"(C:\bin)", "kvo.exe"},                          // the working directory first
      {"tool", "", "tool.bat"},                                 // extensions in order
      {"rc", R"(C:\nothing;;D:\x\;C:\bin)", R"(D:\x\rc.com)"},  // PATH in order
      {"rc.exe", R"(D:\x;C:\bin)", R"(C:\bin\rc.exe)"},         // an extension is kept
      {"plain", R"(D:\x)", std::nullopt},  // no extension: only the four are tried
      {"sub/kvo", R"(C:\bin)", "sub/kvo.com"},
      {R"(sub\rc)", R"(C:\bin)", std::nullopt},  // a directory: no PATH search
      {"missing", R"(C:\bin)", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(findWindowsProgram(c.name, c.path, exists), c.expected) << c.name;
  }
}

TEST(ExtendedLengthPath, MakesLongPathsAbsoluteAndLiteral) {
  const std::string cwd = R"(C:\work)";
  const std::string deep = std::string(R"(C:\work\)") + std::string(250, 'd');
  const std::string name(300, 'n');
  struct Case {
    std::string path;
    std::string currentDirectory;
    std::string expected;
  };
  const Case cases[] = {
      {"a.rsrc", cwd, "a.rsrc"},
      {R"(C:\x\..\a.rsrc)", cwd, R"(C:\x\..\a.rsrc)"},
      {name, cwd, R"(\\?\C:\work\)" + name},
      {"sub/./x/../" + name, cwd, R"(\\?\C:\work\sub\)" + name},
      {"a.rsrc", deep, R"(\\?\)" + deep + R"(\a.rsrc)"},
      {"../a.rsrc", deep, R"(\\?\C:\work\a.rsrc)"},
      {R"(D:/y/)" + name, cwd, R"(\\?\D:\y\)" + name},
      {R"(\)" + name, cwd, R"(\\?\C:\)" + name},
      {R"(\\server\share\)" + name, cwd, R"(\\?\UNC\server\share\)" + name},
      {R"(\\?\C:\as\is)", cwd, R"(\\?\C:\as\is)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(extendedLengthPath(c.path, c.currentDirectory), c.expected) << c.path;
  }
}

}  // namespace
}  // namespace kvowrapper
