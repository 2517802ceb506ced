#include "driver/windows_command_line.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "system/windows_path.h"
#include "windows_model.h"

namespace kvowrapper {
namespace {

// Arguments that a careless command line lets loose: each alone and inside a longer argument,
// read back by the model of how Windows reads the lines the launcher builds, for an ordinary
// program, for a batch file run through cmd, and for a program a batch file hands %* to.
TEST(CommandLines, AreReadBackExactlyAndRunNothing) {
  const std::vector<std::string> hostile = {"&calc&",
                                            R"("&calc&")",
                                            R"(\"&calc)",
                                            R"(a\\"&calc)",
                                            R"(^"&calc)",
                                            R"("^&calc)",
                                            R"(a b"&calc&"c)",
                                            R"("""&calc)",
                                            R"(\\\")",
                                            "!CD!",
                                            R"(tr\)",
                                            R"(\\)",
                                            "",
                                            "&",
                                            "|",
                                            "<",
                                            ">",
                                            "(",
                                            ")",
                                            "@",
                                            ",",
                                            ";",
                                            "=",
                                            "\t",
                                            R"(a\"b)",
                                            R"(C:\dir\)",
                                            "two words"};
  std::vector<std::string> arguments;
  for (const auto& piece : hostile) {
    arguments.push_back(piece);
    arguments.push_back("x" + piece + "y");
  }
  for (const auto& argument : arguments) {
    const std::vector<std::string> expected = {R"(C:\tools\)", argument, "-fo", "out.res"};
    std::vector<const char*> vector;
    for (const auto& entry : expected) vector.push_back(entry.c_str());
    vector.push_back(nullptr);

    const auto line = buildWindowsCommandLine(vector.data());
    ASSERT_TRUE(line.has_value());
    const auto result = buildBatchCommandLine(R"(C:\Windows\system32\cmd.exe)", R"(C:\b\kvo.bat)",
                                              vector.data() + 1);
    // A quote cannot reach a program behind a batch file whichever rule it reads by: refused.
    if (argument.find('"') != std::string::npos) {
      ASSERT_TRUE(std::holds_alternative<RefusedArgument>(result)) << argument;
      EXPECT_EQ(std::get<RefusedArgument>(result).position, 1U);
    }
    const auto* batch = std::get_if<std::string>(&result);
    const auto command = batch ? windows_model::readCmdCommand(*batch) : std::nullopt;
    ASSERT_TRUE(batch == nullptr || command.has_value()) << *batch;
    for (const auto runtime : {windows_model::Runtime::k2008, windows_model::Runtime::kMsvcrt}) {
      EXPECT_EQ(windows_model::splitCommandLine(*line, runtime), expected) << *line;
      if (batch == nullptr) continue;
      const auto [script, rest] = windows_model::splitScript(*command);
      EXPECT_EQ(script, R"(C:\b\kvo.bat)");
      // The shim most batch compilers are: @"C:\x\kvo.exe" %*
      auto shimmed = windows_model::splitCommandLine(R"("C:\x\kvo.exe" )" + rest, runtime);
      shimmed.front() = expected.front();
      EXPECT_EQ(shimmed, expected) << *batch;
    }
  }
}

// What no line can pass: a program name holding a quote (the runtime reads the name up to the
// next one), and for a batch file, what cmd expands or ends a line at.
TEST(CommandLines, RefuseWhatCannotBePassed) {
  const char* injected[] = {R"(x" -fo evil.res "y)", "-fo", "out.res", nullptr};
  EXPECT_EQ(buildWindowsCommandLine(injected), std::nullopt);
  struct Case {
    std::vector<const char*> arguments;
    size_t refused;
  };
  const Case cases[] = {{{"ok", "%CD%"}, 2},
                        {{"%%CD%%"}, 1},
                        {{"line\nbreak"}, 1},
                        {{"ok", "ok", "a\rb"}, 3},
                        {{"ok", "a \"quoted\" b"}, 2}};
  for (auto c : cases) {
    c.arguments.push_back(nullptr);
    const auto result = buildBatchCommandLine("cmd.exe", "kvo.bat", c.arguments.data());
    ASSERT_TRUE(std::holds_alternative<RefusedArgument>(result));
    EXPECT_EQ(std::get<RefusedArgument>(result).position, c.refused);
  }
  // While the compiler runs: Ctrl+C and Ctrl+Break are the compiler's; close, logoff, shutdown
  // end the wrapper.
  for (const auto& [event, isLeft] :
       {std::pair(0UL, true), {1UL, true}, {2UL, false}, {5UL, false}, {6UL, false}}) {
    EXPECT_EQ(isLeftToCompiler(event), isLeft) << event;
  }
  EXPECT_TRUE(isBatchFile("kvo.BAT"));
  EXPECT_TRUE(isBatchFile(R"(C:\x\kvo.cmd)"));
  EXPECT_TRUE(isBatchFile(".Cmd"));
  EXPECT_FALSE(isBatchFile("kvo.exe"));
}

TEST(FindWindowsProgram, SearchesAsTheRuntimeDoes) {
  const std::set<std::string> files = {"kvo.exe",
                                       "tool.bat",
                                       R"(C:\bin\kvo.cmd)",
                                       R"(C:\bin\rc.exe)",
                                       R"(D:\x\rc.com)",
                                       "sub/kvo.com",
                                       R"(D:\x\plain)",
                                       R"(C:\p q;r\k.exe)",
                                       R"(C:\bin\x\rc.exe)",
                                       R"(\\srv\down\rc.exe)",
                                       R"(//srv/up\rc.exe)"};
  auto exists = [&](const std::string& path) { return files.count(path) > 0; };
  // A program on a network entry is started by the search; the one on "down" does not start.
  std::vector<std::string> starts;
  auto startsOnNetwork = [&](const std::string& path) {
    starts.push_back(path);
    return path.find("down") == std::string::npos;
  };
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
      {R"(x\rc)", R"(C:\bin)", std::nullopt},  // a directory: no PATH search
      // Quotes anywhere in an entry go, and keep a semicolon inside them.
      {"k", R"(;"C:\p q;r";C:\bin)", R"(C:\p q;r\k.exe)"},
      {"rc", R"(C:\"bi"n)", R"(C:\bin\rc.exe)"},
      {"rc", R"(\\srv\down;//srv/up;C:\bin)", R"(//srv/up\rc.exe)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(findWindowsProgram(c.name, c.path, exists, startsOnNetwork), c.expected) << c.name;
  }
  EXPECT_EQ(starts, (std::vector<std::string>{R"(\\srv\down\rc.exe)", R"(//srv/up\rc.exe)"}));
}

TEST(ExtendedLengthPath, PrefixesLongFullPaths) {
  const std::u16string name(250, u'n');
  struct Case {
    std::u16string path;
    std::u16string expected;
  };
  const Case cases[] = {
      {u"C:\\a.rsrc", u"C:\\a.rsrc"},
      {u"C:\\" + name + u"\\a.rsrc", u"\\\\?\\C:\\" + name + u"\\a.rsrc"},
      {u"\\\\srv\\share\\" + name, u"\\\\?\\UNC\\srv\\share\\" + name},
      {u"\\\\.\\C:\\" + name + name, u"\\\\?\\C:\\" + name + name},
      {u"\\\\?\\C:\\as\\is", u"\\\\?\\C:\\as\\is"},
      // 259 UTF-16 units, but more UTF-8 bytes: still short.
      {u"C:\\" + std::u16string(256, u'\u00E9'), u"C:\\" + std::u16string(256, u'\u00E9')},
  };
  for (const auto& c : cases) EXPECT_EQ(extendedLengthPath(c.path), c.expected);
}

}  // namespace
}  // namespace kvowrapper
