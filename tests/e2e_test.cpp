// Runs the built kvowrapper against the stand-in compiler and checks what a build would see:
// the argument vector the compiler receives, exit statuses, messages and the files left behind.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

std::string fromEnvironment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

const std::string kWrapper = fromEnvironment("KVOWRAPPER_BIN", KVOWRAPPER_BIN);
const std::string kCompiler = fromEnvironment("FAKE_KVO_BIN", FAKE_KVO_BIN);
// Set to test a Windows build under Wine, through a probe that reports the whole exit code.
const std::string kLauncher = fromEnvironment("KVOWRAPPER_LAUNCHER", "");
const std::string kExitProbe = fromEnvironment("EXIT_PROBE_BIN", "");
const bool kIsWindows = !kLauncher.empty();
const int64_t kFailedLaunch = kIsWindows ? 0xFFFFFFFF : 255;  // status -1

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// A UTF-16 text with its byte-order mark.
std::string utf16(std::u16string_view text, bool isBigEndian = false) {
  std::string bytes = isBigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char16_t unit : text) {
    const auto high = static_cast<char>(unit >> 8);
    const auto low = static_cast<char>(unit & 0xFF);
    bytes += isBigEndian ? high : low;
    bytes += isBigEndian ? low : high;
  }
  return bytes;
}

struct Invocation {
  Strings arguments;  // after kvowrapper's own name
  Strings environment = {};
  rlim_t fileSizeLimit = RLIM_INFINITY;
  rlim_t memoryLimit = RLIM_INFINITY;
  std::vector<int> ignoredSignals = {};
};

struct Outcome {
  int64_t status = -1;
  std::string errors;
  std::string output;
};

class WrapperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kvowrapper-e2e-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    work_ = root_ / "work";
    fs::create_directory(work_);
  }
  void TearDown() override { fs::remove_all(root_); }

  // Starts kvowrapper in the work directory; `tag` keeps the messages of parallel runs apart.
  pid_t start(Invocation r, const std::string& tag = "") {
    Strings argv = kIsWindows ? Strings{kLauncher, kExitProbe} : Strings{};
    argv.push_back(kWrapper);
    argv.insert(argv.end(), r.arguments.begin(), r.arguments.end());
    std::vector<char*> pointers;
    for (auto& a : argv) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    r.environment.insert(r.environment.begin(),
                         "FAKE_KVO_RECORD=" + (root_ / ("received" + tag)).string());
    fs::remove(root_ / ("received" + tag));
    const fs::path errors = root_ / ("stderr" + tag);
    const fs::path output = root_ / ("stdout" + tag);
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      dup2(open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      for (auto& entry : r.environment) putenv(entry.data());
      for (const int signal : r.ignoredSignals) std::signal(signal, SIG_IGN);
      const rlimit files{r.fileSizeLimit, r.fileSizeLimit};
      const rlimit memory{r.memoryLimit, r.memoryLimit};
      setrlimit(RLIMIT_FSIZE, &files);
      setrlimit(RLIMIT_AS, &memory);
      if (chdir(work_.c_str()) == 0) execv(pointers[0], pointers.data());
      _exit(121);
    }
    return pid;
  }

  Outcome finish(pid_t pid, const std::string& tag = "") {
    int raw = 0;
    waitpid(pid, &raw, 0);
    Outcome result{WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw),
                   readFile(root_ / ("stderr" + tag)), readFile(root_ / ("stdout" + tag))};
    if (kIsWindows) {
      // The probe prints the wrapper's process id first and its exit code last, around what the
      // wrapper itself prints.
      const size_t first = result.output.find('\n') + 1;
      const size_t last = result.output.rfind('\n', result.output.size() - 2) + 1;
      result.status = std::strtoll(result.output.c_str() + last, nullptr, 10);
      result.output = result.output.substr(first, last - first);
      for (size_t at; (at = result.output.find("\r\n")) != std::string::npos;) {
        result.output.erase(at, 1);
      }
      // Standard error is a text stream on Windows, which ends lines with CR LF.
      for (size_t at; (at = result.errors.find("\r\n")) != std::string::npos;) {
        result.errors.erase(at, 1);
      }
    }
    return result;
  }

  Outcome run(Invocation r) { return finish(start(std::move(r))); }

  // The argument vector the stand-in compiler received, or nothing if it never ran.
  std::optional<Strings> received() {
    if (!fs::exists(root_ / "received")) return std::nullopt;
    Strings entries;
    const std::string raw = readFile(root_ / "received");
    for (size_t start = 0; start < raw.size(); start = raw.find('\0', start) + 1) {
      entries.emplace_back(raw.c_str() + start);
    }
    return entries;
  }

  Strings files() {
    Strings names;
    for (const auto& entry : fs::directory_iterator(work_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path root_;
  fs::path work_;
};

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
      {"a.rsrc", "{A}{B}{C}{}", {"-DA=1", "a.rsrc"}, "1{B}{C}{}"},
      {"a.rsrc", "{A}{B}{C}{}", {"a.rsrc", "-DA=1"}, "1{B}{C}{}"},
      {"a.rsrc",
       "{A}{B}{C}{}",
       {"kvo", "-DA", "-DB=1,2", "-dC=1", "-D=e", "/x", "a.rsrc"},
       "{A}{B}{C}e"},
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
       {"kvo", "-DA=\u00E9\u65E5\u672C\U0001F600", "-D\u65E5=x", "u.rsrc"},
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
      // Windows limits paths to 260 characters unless told otherwise.
      {longPath + "s.rsrc",
       bigSource,
       {"kvo", "-DBIG=" + big, longPath + "s.rsrc"},
       std::string(200000, 'v')},
      // Paths and values beyond ASCII; on Windows values go into the text in its code page.
      {"\u65E5\u672C/\u03B5\u03BB/\U0001F600/s.rsrc",
       "{A}",
       {"kvo", "-DA=\u00E9", "\u65E5\u672C/\u03B5\u03BB/\U0001F600/s.rsrc"},
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

// Only a lone --version or --help is answered on standard output; everything else is a run.
TEST_F(WrapperTest, AnswersVersionAndHelpAlone) {
  const std::string usage =
      "usage: call kvowrapper instead of kvo.\n"
      "(the first parameter must tell me where the real kvo.exe is.)\n";
  struct Case {
    Strings arguments;
    int64_t status;
    std::string output;
    std::string errors;
  };
  const Case cases[] = {
      {{"--version"}, 0, "kvowrapper " KVOWRAPPER_VERSION "\n", ""},
      {{"-h"}, 1, "", usage},
      {{"--version", "x"}, 1, "", "kvowrapper: you never specified an input file\n"},
  };
  for (const auto& c : cases) {
    const Outcome result = run({c.arguments});
    EXPECT_EQ(result.status, c.status) << c.arguments[0];
    EXPECT_EQ(result.output, c.output) << c.arguments[0];
    EXPECT_EQ(result.errors, c.errors) << c.arguments[0];
  }
  const Outcome help = run({{"--help"}});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.output.starts_with("usage: kvowrapper REAL-COMPILER PROGRAM-NAME"))
      << help.output;
  EXPECT_EQ(help.errors, "");
}

TEST_F(WrapperTest, FailuresLeaveNoFile) {
  const std::string usage =
      "usage: call kvowrapper instead of kvo.\n"
      "(the first parameter must tell me where the real kvo.exe is.)\n";
  writeFile(work_ / "x.rsrc", "text");
  writeFile(work_ / "big.rsrc", std::string(size_t{1} << 20, 'x'));
  fs::create_directory(work_ / "dir.rsrc");
  fs::create_directory(work_ / "taken.rsrc-processed.rsrc");
  writeFile(work_ / "taken.rsrc", "x");
  writeFile(work_ / "utf16.rsrc", utf16(u"{A}"));
  const bool canLimitMemory = !kIsWindows && !KVOWRAPPER_SANITIZED;
  // A source is read in windows, cut where no reference spans: a run of opening braces that
  // never closes offers no such point, so its window has to hold all of it.
  if (canLimitMemory) writeFile(work_ / "huge.rsrc", std::string(size_t{96} << 20, '{'));
  const Strings before = files();
  Strings longLine = {kCompiler, "kvo", std::string(30000, 'a')};
  longLine.insert(longLine.end(), 200, "x.rsrc");
  struct Case {
    Invocation invocation;
    std::string message;
    int64_t status = 1;
    bool isRun = true;
  };
  const Case cases[] = {
      {{{}}, usage},
      {{{"x.rsrc"}}, usage},
      {{{kCompiler, "kvo", "-DA=1"}}, "kvowrapper: you never specified an input file\n"},
      {{{kCompiler, "kvo", "./sub/../missing.rsrc"}},
       "kvowrapper: unable to open input file ./sub/../missing.rsrc\n"},
      // A directory opens for reading on POSIX and fails to read; on Windows it fails to open.
      {{{kCompiler, "kvo", "dir.rsrc"}},
       kIsWindows ? "kvowrapper: unable to open input file dir.rsrc\n"
                  : "kvowrapper: unable to read input file dir.rsrc\n"},
      {{{kCompiler, "kvo", "taken.rsrc"}},
       "kvowrapper: unable to create temporary file taken.rsrc-processed.rsrc\n"},
      // A compiler that cannot be started: no message, and the processed file is deleted.
      {{{(root_ / "no-such-compiler").string(), "kvo", "x.rsrc"}}, "", kFailedLaunch},
      {{{kCompiler, "kvo", "big.rsrc"}, {}, size_t{1} << 19},
       "kvowrapper: unable to write temporary file big.rsrc-processed.rsrc\n",
       1,
       !kIsWindows},
      {{{kCompiler, "kvo", "-DA=\xFF", "utf16.rsrc"}},
       "kvowrapper: the value of definition A cannot be written in UTF-16\n",
       1,
       !kIsWindows},
      {{{kCompiler, "kvo", "-DA=\u65E5", "x.rsrc"}},
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
    EXPECT_FALSE(received().has_value()) << c.message;
    EXPECT_EQ(files(), before) << c.message;
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

TEST_F(WrapperTest, ReadsPipesAndDevicesToTheEndOfTheirText) {
  if (kIsWindows) GTEST_SKIP() << "FIFOs, devices and sparse files";
  std::string source;
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    source += "line {A} \"s\" \\\n\"t\"\n";
    expected += "line 1 \"st\"\n";
  }
  ASSERT_EQ(mkfifo((work_ / "pipe.rsrc").c_str(), 0600), 0);
  if (fork() == 0) {
    // Opened without blocking: should the wrapper never open the FIFO, this writer gives up.
    for (int tries = 0; tries < 1000; ++tries) {
      const int fd = open((work_ / "pipe.rsrc").c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        fcntl(fd, F_SETFL, 0);
        if (write(fd, source.data(), source.size()) < 0) _exit(1);
        _exit(0);
      }
      usleep(10000);
    }
    _exit(1);
  }
  EXPECT_EQ(run({{kCompiler, "kvo", "-DA=1", "pipe.rsrc"}}).status, 0);
  wait(nullptr);
  EXPECT_EQ(readFile(work_ / "pipe.rsrc-processed.rsrc"), expected);

  // The text ends at its first NUL: nothing after it is read.
  fs::create_symlink("/dev/zero", work_ / "zero.rsrc");
  EXPECT_EQ(run({{kCompiler, "kvo", "zero.rsrc"}}).status, 0);
  EXPECT_EQ(readFile(work_ / "zero.rsrc-processed.rsrc"), "");
  writeFile(work_ / "sparse.rsrc", std::string("ab\0", 3));
  fs::resize_file(work_ / "sparse.rsrc", uint64_t{16} << 30);
  EXPECT_EQ(run({{kCompiler, "kvo", "sparse.rsrc"}}).status, 0);
  EXPECT_EQ(readFile(work_ / "sparse.rsrc-processed.rsrc"), "ab");
}

// The processed text is put in place in one step: whatever stood at the name is replaced, and
// nothing is written through it.
TEST_F(WrapperTest, ReplacesWhateverStandsAtTheProcessedName) {
  if (kIsWindows) GTEST_SKIP() << "links and FIFOs";
  const fs::path name = work_ / "s.rsrc-processed.rsrc";
  const std::pair<std::string, std::function<void()>> cases[] = {
      {"symbolic link to the source", [&] { fs::create_symlink("s.rsrc", name); }},
      {"hard link to the source", [&] { fs::create_hard_link(work_ / "s.rsrc", name); }},
      {"symbolic link to another file", [&] { fs::create_symlink("other", name); }},
      {"hard link to another file", [&] { fs::create_hard_link(work_ / "other", name); }},
      {"dangling link", [&] { fs::create_symlink("missing", name); }},
      {"FIFO", [&] { mkfifo(name.c_str(), 0600); }},
      {"longer processed file", [&] { writeFile(name, std::string(100000, 'o')); }},
  };
  for (const auto& [what, plant] : cases) {
    fs::remove_all(work_);
    fs::create_directory(work_);
    writeFile(work_ / "s.rsrc", "text {A}");
    writeFile(work_ / "other", "other");
    plant();
    const Outcome result = run({{kCompiler, "kvo", "-DA=1", "s.rsrc"}});
    EXPECT_EQ(result.status, 0) << what;
    EXPECT_EQ(result.errors, "") << what;
    EXPECT_EQ(readFile(work_ / "s.rsrc"), "text {A}") << what;
    EXPECT_EQ(readFile(work_ / "other"), "other") << what;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name))) << what;
    EXPECT_EQ(readFile(name), "text 1") << what;
    EXPECT_EQ(files(), (Strings{"other", "s.rsrc", "s.rsrc-processed.rsrc"})) << what;
  }
}

// A run killed while it writes leaves the processed name holding a whole text, old or new; an
// interrupt removes the new file, and after SIGKILL a later run removes what is left.
TEST_F(WrapperTest, AnInterruptedRunLeavesAWholeText) {
  if (kIsWindows) GTEST_SKIP() << "POSIX signals";
  std::string source;
  for (int i = 0; i < (1 << 22); ++i) source += "{A}\n";
  const std::string value = "a value 16 long";
  std::string expected;
  for (int i = 0; i < (1 << 22); ++i) expected += value + "\n";
  writeFile(work_ / "s.rsrc", source);
  const fs::path name = work_ / "s.rsrc-processed.rsrc";
  const Invocation invocation{{kCompiler, "kvo", "-DA=" + value, "s.rsrc"}};
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
    for (const int delay : {1, 10, 30, 60}) {
      writeFile(name, "old text");
      const pid_t pid = start(invocation);
      usleep(static_cast<useconds_t>(delay * 1000));
      kill(pid, signal);
      const Outcome result = finish(pid);
      EXPECT_TRUE(result.status == 0 || result.status == 128 + signal) << result.status;
      const std::string text = readFile(name);
      EXPECT_TRUE(text == "old text" || text == expected) << signal << " after " << delay;
      const size_t left = files().size() - 2;
      EXPECT_LE(left, signal == SIGKILL ? 1U : 0U) << signal << " after " << delay;
    }
  }
  EXPECT_EQ(run(invocation).status, 0);
  EXPECT_EQ(files(), (Strings{"s.rsrc", "s.rsrc-processed.rsrc"}));
  EXPECT_EQ(readFile(name), expected);
}

// Two rules of one build that use one source with different definitions: each compiler must
// read its own text. The second run waits for the first compiler, and says so when it waits long.
TEST_F(WrapperTest, RunsOnOneSourceTakeTurns) {
  writeFile(work_ / "s.rsrc", "{V}");
  for (const int sleep : {50, 5500}) {
    const pid_t first = start({{kCompiler, "kvo", "-DV=a", "-fo", "a.res", "s.rsrc"},
                               {"FAKE_KVO_SLEEP_MS=" + std::to_string(sleep)}},
                              "a");
    usleep(20000);
    const Outcome second = run({{kCompiler, "kvo", "-DV=b", "-fo", "b.res", "s.rsrc"}});
    EXPECT_EQ(finish(first, "a").status, 0);
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(readFile(work_ / "a.res"), "a");
    EXPECT_EQ(readFile(work_ / "b.res"), "b");
    // A short wait is not reported; how short it is depends on the machine's load.
    if (sleep > 5000) {
      EXPECT_EQ(second.errors, "kvowrapper: waiting for another run on s.rsrc\n");
    }
  }
}

// The compiler sees the signal dispositions the build gave, not the ones the wrapper used.
TEST_F(WrapperTest, CompilerGetsTheBuildsSignalDispositions) {
  if (kIsWindows) GTEST_SKIP() << "POSIX signals";
  writeFile(work_ / "s.rsrc", "text");
  const fs::path record = root_ / "signals";
  Invocation invocation{{kCompiler, "kvo", "s.rsrc"}, {"FAKE_KVO_SIGNALS=" + record.string()}};
  invocation.ignoredSignals = {SIGHUP};
  EXPECT_EQ(run(invocation).status, 0);
  EXPECT_EQ(readFile(record), "dfl dfl ign dfl dfl ");
}

// A batch compiler runs through cmd with its own path as %0, whatever the program name, and no
// argument can start a command; one that cmd cannot take as text is refused.
TEST_F(WrapperTest, BatchCompilersTakeArgumentsAsText) {
  if (!kIsWindows) GTEST_SKIP() << "Windows batch files";
  fs::copy_file(kCompiler, work_ / "fake_kvo.exe");
  writeFile(work_ / "kvo.bat", "@\"%~dp0fake_kvo.exe\" %*\r\n");
  writeFile(work_ / "s.rsrc", "text");
  const Outcome ran = run({{"kvo.bat", "kvo", "a\"&echo INJECTED>injected.txt&\"", "!PATH!", "-fo",
                            "out.res", "s.rsrc"}});
  EXPECT_EQ(ran.status, 0);
  EXPECT_FALSE(fs::exists(work_ / "injected.txt"));
  const auto arguments = received();
  ASSERT_TRUE(arguments.has_value());
  EXPECT_EQ(arguments->at(2), "!PATH!");
  EXPECT_EQ(readFile(work_ / "out.res"), "text");

  fs::remove(work_ / "s.rsrc-processed.rsrc");
  fs::remove(root_ / "received");
  const Outcome refused = run({{"kvo.bat", "kvo", "-D", "%PATH%", "s.rsrc"}});
  EXPECT_EQ(refused.status, kFailedLaunch);
  EXPECT_EQ(refused.errors, "kvowrapper: cannot pass argument 2 to batch file kvo.bat\n");
  EXPECT_FALSE(received().has_value());
  EXPECT_FALSE(fs::exists(work_ / "s.rsrc-processed.rsrc"));
}

// A cancelled build ends the wrapper; its compiler must not live on.
TEST_F(WrapperTest, EndingTheWrapperEndsTheCompiler) {
  if (!kIsWindows) GTEST_SKIP() << "on POSIX the compiler replaces the wrapper";
  writeFile(work_ / "s.rsrc", "text");
  // The wrapper's Wine process is found by an argument that only this run has.
  const std::string tag = "-DRUN=" + root_.string();
  const pid_t pid =
      start({{kCompiler, "kvo", tag, "-fo", "out.res", "s.rsrc"}, {"FAKE_KVO_SLEEP_MS=3000"}});
  pid_t wrapper = 0;
  for (int tries = 0; tries < 100 && wrapper == 0; ++tries) {
    usleep(50000);
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string arguments = readFile(entry.path() / "cmdline");
      if (arguments.starts_with(kWrapper) && arguments.find(tag) != std::string::npos &&
          fs::exists(work_ / "s.rsrc-processed.rsrc")) {
        wrapper = std::atoi(entry.path().filename().c_str());
      }
    }
  }
  ASSERT_NE(wrapper, 0);
  usleep(300000);
  kill(wrapper, SIGKILL);
  finish(pid);
  usleep(3500000);
  EXPECT_FALSE(fs::exists(work_ / "out.res"));
}

}  // namespace
