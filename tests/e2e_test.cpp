// What a build sees of one run: the compiler's argument vector, statuses, messages, files.
#include <map>

#include "wrapper_harness.h"

namespace e2e {
namespace {

const std::string kUsage =
    "usage: call kvowrapper instead of kvo.\n"
    "(the first parameter must tell me where the real kvo.exe is.)\n";

TEST_F(WrapperTest, HandsOverTheProcessedSource) {
  const std::string big(1000, 'v');
  std::string longPath;
  for (char c = 'a'; c < 'g'; ++c) longPath += std::string(120, c) + "/";
  std::string bigSource;
  for (int i = 0; i < 200; ++i) bigSource += "{BIG}";
  const Strings odd = {"",       "two words",  "tab\there",   "say \"hi\"", "C:\\dir\\",
                       "a\\\"b", "\\\\s\\h\\", "-DQ=\"x y\"", "\"",         "\\"};
  struct Case {
    std::string source;
    std::string text;
    Strings arguments;  // after the compiler's path
    std::string processedText;
  };
  const Case cases[] = {
      {"app.rsrc",
       "V \"{VERSION}\" \\\r\n  \"/{ROOT}\" {UNDEFINED}\r\n",
       {"kvo", "-DVERSION=2", "-DROOT=C:\\src", "app.rsrc"},
       "V \"2/C:/src\" {UNDEFINED}\r\n"},
      {"a.rsrc", "{A}{B}{C}{}", {"-DA=0", "-DA=1", "a.rsrc"}, "1{B}{C}{}"},  // the last counts
      {"a.rsrc", "{A}{B}{C}{}", {"a.rsrc", "-DA=1"}, "1{B}{C}{}"},
      {"a.rsrc",
       "{A}{B}{C}{}{D}",
       {"kvo", "-DA", "-DB=1,2", "-dC=1", "-D=e", "/x", "-DD=b=c", "a.rsrc"},
       "{A}{B}{C}eb=c"},
      // The resource test comes first, and the last source wins in every position.
      {"-DA=x.rsrc", "{A}", {"kvo", "-DA=1", "a.rsrc", "-DA=x.rsrc"}, "1"},
      {"b.rsrc", "second", {"a.rsrc", "-o", "b.rsrc"}, "second"},
      {"a.rsrc-processed.rsrc", "{A}", {"kvo", "-DA=1", "a.rsrc-processed.rsrc"}, "1"},
      {"c.rsrc",
       "a\r\nb\r\n\"x\" \\\r\n\"y\"\r\n",
       {"kvo", "-DA=\\", "c.rsrc"},
       "a\r\nb\r\n\"xy\"\r\n"},
      // Shorter than the file left by the row before, which it overwrites.
      {"c.rsrc", std::string("before\0after", 12), {"kvo", "c.rsrc"}, "before"},
      {"c.rsrc", "\x80{A}\xff", {"kvo", "-DA=\\", "c.rsrc"}, "\x80/\xff"},
      // Sources with a byte-order mark: UTF-16 processed by characters, UTF-8 as bytes.
      {"u.rsrc",
       utf16(u"V {A} \"a\" \\\r\n\"b\" {\u65E5}"),
       {"kvo", "-DA=\u00E9\u65E5\u672C\U0001F600", "-D\u65E5=x",
        // Not UTF-8 (Wine would make it so), but never asked for.
        kIsWindows ? "-DB=" : "-DB=\xFF", "u.rsrc"},
       utf16(u"V \u00E9\u65E5\u672C\U0001F600 \"ab\" x")},
      {"u.rsrc",
       utf16(std::u16string(u"{A}\0{A}", 7), true),
       {"kvo", "-DA=1", "u.rsrc"},
       utf16(u"1", true)},
      {"u.rsrc",
       utf16(u"\xD800{A}\xDC00{A}") + "x",
       {"kvo", "-DA=", "u.rsrc"},
       utf16(u"\xD800\xDC00") + "x"},
      {"u.rsrc", "\xEF\xBB\xBF{A}", {"kvo", "-DA=\u00E9", "u.rsrc"}, "\xEF\xBB\xBF\u00E9"},
      {"c.rsrc", "", {"kvo", "c.rsrc"}, ""},
      {"a b.rsrc",
       "{Q}",
       {"C:\\Program Files\\kvo.exe", odd[0], odd[1], odd[2], odd[3], odd[4], odd[5], odd[6],
        odd[7], odd[8], odd[9], "a b.rsrc"},
       "\"x y\""},
      // A processed name of 255 bytes, the most a file name may have.
      {std::string(235, 'n') + ".rsrc", "{A}", {"-DA=1", std::string(235, 'n') + ".rsrc"}, "1"},
      // Windows limits paths to 260 characters unless told otherwise.
      {longPath + "s.rsrc",
       bigSource,
       {"kvo", "-DBIG=" + big, longPath + "s.rsrc"},
       std::string(200000, 'v')},
      // Paths and values beyond ASCII; on Windows values go into the text in its code page.
      {"\u65E5\u672C/\u03B5\u03BB/\U0001F600/s.rsrc",
       "{A}",
       {"kvo", "-DA=\u00E9", "-DB=\u65E5", "\u65E5\u672C/\u03B5\u03BB/\U0001F600/s.rsrc"},
       kIsWindows ? "\xE9" : "\u00E9"},
  };
  for (const auto& c : cases) {
    writeFile(work_ / c.source, c.text);
    Strings arguments = {kCompiler};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const Outcome result = run({arguments});
    EXPECT_EQ(result.status, 0) << c.source;
    EXPECT_EQ(result.errors, "");
    // Every source's position carries the processed name of the last source.
    Strings expected = c.arguments;
    for (auto& entry : expected) {
      if (entry.size() > 5 && entry.ends_with(".rsrc")) entry = c.source + "-processed.rsrc";
    }
    EXPECT_EQ(received(), expected) << c.source;
    EXPECT_EQ(readFile(work_ / (c.source + "-processed.rsrc")), c.processedText) << c.source;
  }
}

TEST_F(WrapperTest, CompilerStatusComesBack) {
  writeFile(work_ / "a.rsrc", "text");
  std::vector<int64_t> statuses = {0, 3, 200};
  // All 32 bits, -1 included: a compiler's own -1 is no failed start and keeps its file.
  if (kIsWindows) statuses.insert(statuses.end(), {1000, 0xC0000005, 0xFFFFFFFF});
  for (const int64_t status : statuses) {
    const Outcome result =
        run({{kCompiler, "kvo", "a.rsrc"}, {"FAKE_KVO_STATUS=" + std::to_string(status)}});
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(readFile(work_ / "a.rsrc-processed.rsrc"), "text");
  }
}

// The version line as the README gives it: "`kvowrapper --version` prints `kvowrapper X.Y.Z`".
std::string versionInReadme() {
  const std::string readme = readFile(KVOWRAPPER_README);
  const std::string_view before = "`kvowrapper --version` prints `";
  const size_t start = readme.find(before) + before.size();
  return readme.substr(start, readme.find('`', start) - start);
}

// A failure leaves the names as they were: no file made, an old processed text untouched (a
// compiler that cannot be started takes its processed file with it). Only a lone --version or
// --help is answered, on standard output; anything after them makes a run.
TEST_F(WrapperTest, FailuresLeaveNoFile) {
  writeFile(work_ / "x.rsrc", "text");
  for (const char* source : {"big", "utf16", "ref", "huge"}) {
    writeFile(work_ / (std::string(source) + ".rsrc-processed.rsrc"), "old text");
  }
  writeFile(work_ / "big.rsrc", std::string(size_t{1} << 20, 'x'));
  fs::create_directory(work_ / "dir.rsrc");
  fs::create_directory(work_ / "taken.rsrc-processed.rsrc");
  writeFile(work_ / "taken.rsrc", "x");
  writeFile(work_ / "utf16.rsrc", utf16(u"{A}{}"));
  writeFile(work_ / "ref.rsrc", "{A}");
  const bool canLimitMemory = !kIsWindows && !KVOWRAPPER_SANITIZED;
  // A quote followed by spaces may start a continued string, so the spaces are held until what
  // follows them decides: here they never end.
  if (canLimitMemory) writeFile(work_ / "huge.rsrc", "\"" + std::string(size_t{96} << 20, ' '));
  auto contents = [&] {
    std::map<std::string, std::string> texts;
    for (const std::string& name : files()) {
      const bool isOld = name.ends_with("-processed.rsrc") && fs::is_regular_file(work_ / name);
      texts[name] = isOld ? readFile(work_ / name) : "";
    }
    return texts;
  };
  const auto before = contents();
  Strings longLine = {kCompiler, "kvo", std::string(30000, 'a')};
  longLine.insert(longLine.end(), 200, "x.rsrc");
  struct Case {
    Invocation invocation;
    std::string message;
    int64_t status = 1;
    bool isRun = true;
    std::string output = "";  // how standard output starts
  };
  const Case cases[] = {
      {{{"--version"}}, "", 0, true, versionInReadme() + "\n"},
      {{{"--help"}}, "", 0, true, "usage: kvowrapper REAL-COMPILER PROGRAM-NAME"},
      {{{"-h"}}, kUsage},
      {{{"--version", "x"}}, "kvowrapper: you never specified an input file\n"},
      {{{}}, kUsage},
      {{{"x.rsrc"}}, kUsage},
      {{{kCompiler, "kvo", "-DA=1"}}, "kvowrapper: you never specified an input file\n"},
      {{{kCompiler, "kvo", "./sub/../missing.rsrc"}},
       "kvowrapper: unable to open input file ./sub/../missing.rsrc\n"},
      // On Windows a message to a file is in the ANSI code page (to a console, UTF-16).
      {{{kCompiler, "kvo", "\u00E9.rsrc"}},
       kIsWindows ? "kvowrapper: unable to open input file \xE9.rsrc\n"
                  : "kvowrapper: unable to open input file \u00E9.rsrc\n"},
      // A directory opens for reading on POSIX and fails to read; on Windows it fails to open.
      {{{kCompiler, "kvo", "dir.rsrc"}},
       kIsWindows ? "kvowrapper: unable to open input file dir.rsrc\n"
                  : "kvowrapper: unable to read input file dir.rsrc\n"},
      // A device's name (on POSIX no file at all): reading it would never end.
      {{{kCompiler, "kvo", "AUX.rsrc"}}, "kvowrapper: unable to open input file AUX.rsrc\n"},
      {{{kCompiler, "kvo", "taken.rsrc"}},
       "kvowrapper: unable to create temporary file taken.rsrc-processed.rsrc\n"},
      // A compiler that cannot be started: no message, and the processed file is deleted.
      {{{(root_ / "no-such-compiler").string(), "kvo", "x.rsrc"}}, "", kFailedLaunch},
      {{{kCompiler, "kvo", "big.rsrc"}, {}, size_t{1} << 19},
       "kvowrapper: unable to write temporary file big.rsrc-processed.rsrc\n",
       1,
       !kIsWindows},
      {{{kCompiler, "kvo", "-D=\xFF", "utf16.rsrc"}},
       "kvowrapper: the value of definition  cannot be written in UTF-16\n",
       1,
       !kIsWindows},
      {{{kCompiler, "kvo", "-DA=\u65E5", "ref.rsrc"}},
       "kvowrapper: the value of definition A cannot be written in the ANSI code page\n",
       1,
       kIsWindows},
      // A command line Windows would cut (each source name grows by its suffix): a failed
      // start, never a truncated argument.
      {{longLine}, "", kFailedLaunch, kIsWindows},
      {{{kCompiler, "kvo", "-DA=1", "huge.rsrc"}, {}, RLIM_INFINITY, rlim_t{64} << 20},
       "kvowrapper: out of memory\n",
       1,
       canLimitMemory},
  };
  for (const auto& c : cases) {
    if (!c.isRun) continue;
    const Outcome result = run(c.invocation);
    EXPECT_EQ(result.status, c.status) << c.message;
    EXPECT_EQ(result.errors, c.message);
    EXPECT_TRUE(c.output.empty() ? result.output.empty() : result.output.starts_with(c.output))
        << result.output;
    EXPECT_FALSE(received().has_value()) << c.message;
    EXPECT_TRUE(contents() == before) << c.message;
  }
}

TEST_F(WrapperTest, FindsABareCompilerName) {
  writeFile(work_ / "a.rsrc", "text");
  Invocation r{{"stand-in", "kvo", "a.rsrc"}};
  if (kIsWindows) {
    fs::copy_file(kCompiler, work_ / "stand-in.exe");  // the working directory, ".exe" added
  } else {
    fs::create_directory(root_ / "bin");
    fs::copy_file(kCompiler, root_ / "bin" / "stand-in");
    r.environment = {"PATH=/nonexistent:" + (root_ / "bin").string()};
  }
  EXPECT_EQ(run(r).status, 0);
  EXPECT_EQ(received(), (Strings{"kvo", "a.rsrc-processed.rsrc"}));
}

}  // namespace
}  // namespace e2e
