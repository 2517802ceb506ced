// Runs the built kvowrapper against the stand-in compiler and checks what a build would see:
// the argument vector the compiler receives, exit statuses, messages and the files left behind.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

extern "C" char** environ;  // NOLINT

std::string fromEnvironment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

const std::string kWrapper = fromEnvironment("KVOWRAPPER_BIN", KVOWRAPPER_BIN);
const std::string kFakeCompiler = fromEnvironment("FAKE_KVO_BIN", FAKE_KVO_BIN);
// Set to run a Windows build under Wine: the program that runs kvowrapper.exe, and a probe that
// reports the whole 32-bit exit code.
const std::string kLauncher = fromEnvironment("KVOWRAPPER_LAUNCHER", "");
const std::string kExitProbe = fromEnvironment("EXIT_PROBE_BIN", "");

bool isWindowsBuild() {
  return !kLauncher.empty();
}

#define SKIP_ON_WINDOWS_BUILD(why) \
  if (isWindowsBuild()) GTEST_SKIP() << why

struct Outcome {
  int64_t status = -1;
  std::string stderrText;
};

struct Limits {
  std::optional<rlim_t> fileSize;
  std::optional<rlim_t> addressSpace;
};

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class WrapperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kvowrapper-e2e-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    record_ = dir_ / "received";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs kvowrapper in the test directory with `arguments` after its own name.
  Outcome run(const std::vector<std::string>& arguments,
              const std::vector<std::string>& extraEnv = {}, const Limits& limits = {},
              bool throughProbe = false) {
    std::vector<std::string> argv;
    if (!kLauncher.empty()) argv.push_back(kLauncher);
    if (throughProbe) argv.push_back(kExitProbe);
    argv.push_back(kWrapper);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> env = extraEnv;
    env.push_back("FAKE_KVO_RECORD=" + record_.string());
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      const std::string name = entry.substr(0, entry.find('=') + 1);
      const bool isOverridden = std::any_of(env.begin(), env.end(), [&](const std::string& set) {
        return set.compare(0, name.size(), name) == 0;
      });
      if (!isOverridden) env.push_back(entry);
    }
    std::vector<char*> argvPointers;
    for (auto& a : argv) argvPointers.push_back(a.data());
    argvPointers.push_back(nullptr);
    std::vector<char*> envPointers;
    for (auto& e : env) envPointers.push_back(e.data());
    envPointers.push_back(nullptr);

    const fs::path errPath = dir_ / ".stderr";
    const pid_t pid = fork();
    if (pid == 0) {
      const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(err, 2);
      const int out = open((dir_ / ".stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      if (chdir(dir_.c_str()) != 0) _exit(120);
      if (limits.fileSize) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{*limits.fileSize, *limits.fileSize};
        setrlimit(RLIMIT_FSIZE, &limit);
      }
      if (limits.addressSpace) {
        const rlimit limit{*limits.addressSpace, *limits.addressSpace};
        setrlimit(RLIMIT_AS, &limit);
      }
      execve(argvPointers[0], argvPointers.data(), envPointers.data());
      _exit(121);
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    Outcome result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    result.stderrText = readFile(errPath);
    fs::remove(errPath);
    if (isWindowsBuild()) {
      // Standard error is a text stream on Windows, which ends lines with CR LF.
      for (size_t at; (at = result.stderrText.find("\r\n")) != std::string::npos;) {
        result.stderrText.erase(at, 1);
      }
    }
    if (throughProbe) {
      const std::string printed = readFile(dir_ / ".stdout");
      result.status = static_cast<int64_t>(std::strtoull(printed.c_str(), nullptr, 10));
    }
    fs::remove(dir_ / ".stdout");
    return result;
  }

  // The argument vector the stand-in compiler received, or nothing if it never ran.
  std::optional<std::vector<std::string>> received() {
    if (!fs::exists(record_)) return std::nullopt;
    std::vector<std::string> entries;
    const std::string raw = readFile(record_);
    for (size_t start = 0; start < raw.size();) {
      const size_t end = raw.find('\0', start);
      entries.push_back(raw.substr(start, end - start));
      start = end + 1;
    }
    return entries;
  }

  // Files in the test directory other than the record, sorted.
  std::vector<std::string> files() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      const std::string name = entry.path().filename().string();
      if (entry.path() != record_ && name[0] != '.') names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
  fs::path record_;
};

using Strings = std::vector<std::string>;

TEST_F(WrapperTest, UsageNeedsTwoArguments) {
  const std::string usage =
      "usage: call kvowrapper instead of kvo.\n"
      "(the first parameter must tell me where the real kvo.exe is.)\n";
  writeFile(dir_ / "x.rsrc", "text");
  for (const Strings& arguments : {Strings{}, Strings{"x.rsrc"}}) {
    const Outcome result = run(arguments);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.stderrText, usage);
    EXPECT_EQ(files(), Strings{"x.rsrc"});
  }
}

TEST_F(WrapperTest, HandsOverProcessedSourceAndCompilerStatus) {
  writeFile(dir_ / "app.rsrc", "VALUE \"{VERSION}\" \\\r\n  \"/{ROOT}\" {UNDEFINED}\r\n");
  for (const int status : {0, 3, 200}) {
    const Outcome result = run({kFakeCompiler, "kvo", "-DVERSION=2", "-DROOT=C:\\src", "app.rsrc"},
                               {"FAKE_KVO_STATUS=" + std::to_string(status)});
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.stderrText, "");
    EXPECT_EQ(received(),
              (Strings{"kvo", "-DVERSION=2", "-DROOT=C:\\src", "app.rsrc-processed.rsrc"}));
    EXPECT_EQ(readFile(dir_ / "app.rsrc-processed.rsrc"), "VALUE \"2/C:/src\" {UNDEFINED}\r\n");
  }
}

TEST_F(WrapperTest, ForwardsEveryArgumentInOrder) {
  writeFile(dir_ / "a.rsrc", "{A}{B}{C}{}");
  writeFile(dir_ / "-DA=x.rsrc", "{A}");
  struct Case {
    Strings arguments;  // after the compiler path
    Strings expected;
    std::string processedFile;
    std::string processedText;
  };
  const std::string a = "a.rsrc-processed.rsrc";
  const Case cases[] = {
      {{"-DA=1", "a.rsrc"}, {"-DA=1", a}, a, "1{B}{C}{}"},
      {{"a.rsrc", "-DA=1"}, {a, "-DA=1"}, a, "1{B}{C}{}"},
      {{"kvo", "-DA", "-DB=1,2", "-dC=1", "-D=e", "/x", "a.rsrc"},
       {"kvo", "-DA", "-DB=1,2", "-dC=1", "-D=e", "/x", a},
       a,
       "{A}{B}{C}e"},
      // The resource test comes first, so this source is never taken as a definition.
      {{"kvo", "-DA=1", "a.rsrc", "-DA=x.rsrc"},
       {"kvo", "-DA=1", "-DA=x.rsrc-processed.rsrc", "-DA=x.rsrc-processed.rsrc"},
       "-DA=x.rsrc-processed.rsrc",
       "1"},
  };
  for (const auto& c : cases) {
    Strings arguments = {kFakeCompiler};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const Outcome result = run(arguments);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(received(), c.expected);
    EXPECT_EQ(readFile(dir_ / c.processedFile), c.processedText);
  }
}

TEST_F(WrapperTest, OddArgumentsArriveWhole) {
  writeFile(dir_ / "a b.rsrc", "{Q}");
  const Strings odd = {"",       "two words",           "tab\there",   "say \"hi\"", "C:\\dir\\",
                       "a\\\"b", "\\\\server\\share\\", "-DQ=\"x y\"", "\"",         "\\"};
  Strings arguments = {kFakeCompiler, "C:\\Program Files\\kvo\\kvo.exe"};
  arguments.insert(arguments.end(), odd.begin(), odd.end());
  arguments.push_back("a b.rsrc");
  const Outcome result = run(arguments);
  EXPECT_EQ(result.status, 0);
  Strings expected = {"C:\\Program Files\\kvo\\kvo.exe"};
  expected.insert(expected.end(), odd.begin(), odd.end());
  expected.push_back("a b.rsrc-processed.rsrc");
  EXPECT_EQ(received(), expected);
  EXPECT_EQ(readFile(dir_ / "a b.rsrc-processed.rsrc"), "\"x y\"");
}

TEST_F(WrapperTest, WholeExitCodeComesBack) {
  if (!isWindowsBuild()) GTEST_SKIP() << "POSIX keeps 8 bits of an exit status";
  writeFile(dir_ / "a.rsrc", "text");
  for (const int64_t status : {int64_t{0}, int64_t{7}, int64_t{1000}, int64_t{0xC0000005}}) {
    const Outcome result = run({kFakeCompiler, "kvo", "a.rsrc"},
                               {"FAKE_KVO_STATUS=" + std::to_string(status)}, {}, true);
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(readFile(dir_ / "a.rsrc-processed.rsrc"), "text");
  }
}

TEST_F(WrapperTest, FindsBareCompilerNameInWorkingDirectory) {
  if (!isWindowsBuild()) GTEST_SKIP() << "only Windows looks in the working directory";
  writeFile(dir_ / "a.rsrc", "text");
  fs::copy_file(kFakeCompiler, dir_ / "stand-in.exe");
  const Outcome result = run({"stand-in", "kvo", "a.rsrc"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(received(), (Strings{"kvo", "a.rsrc-processed.rsrc"}));
}

TEST_F(WrapperTest, LastSourceWinsInEveryPosition) {
  writeFile(dir_ / "a.rsrc", "first");
  writeFile(dir_ / "b.rsrc", "second");
  const Outcome result = run({kFakeCompiler, "a.rsrc", "-o", "b.rsrc"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(received(), (Strings{"b.rsrc-processed.rsrc", "-o", "b.rsrc-processed.rsrc"}));
  EXPECT_EQ(files(), (Strings{"a.rsrc", "b.rsrc", "b.rsrc-processed.rsrc"}));
  EXPECT_EQ(readFile(dir_ / "b.rsrc-processed.rsrc"), "second");
}

TEST_F(WrapperTest, ReportsFailuresWithStatusOneAndLeavesNoFile) {
  fs::create_directory(dir_ / "dir.rsrc");
  // A directory opens for reading on POSIX and fails to read; on Windows it fails to open.
  const std::string directoryMessage = isWindowsBuild()
                                           ? "kvowrapper: unable to open input file dir.rsrc\n"
                                           : "kvowrapper: unable to read input file dir.rsrc\n";
  writeFile(dir_ / "taken.rsrc", "x");
  fs::create_directory(dir_ / "taken.rsrc-processed.rsrc");
  struct Case {
    Strings arguments;
    std::string message;
  };
  const Case cases[] = {
      {{kFakeCompiler, "kvo", "-DA=1"}, "kvowrapper: you never specified an input file\n"},
      {{kFakeCompiler, "kvo", "missing.rsrc"},
       "kvowrapper: unable to open input file missing.rsrc\n"},
      {{kFakeCompiler, "kvo", "./sub/../missing.rsrc"},
       "kvowrapper: unable to open input file ./sub/../missing.rsrc\n"},
      {{kFakeCompiler, "kvo", "dir.rsrc"}, directoryMessage},
      {{kFakeCompiler, "kvo", "taken.rsrc"},
       "kvowrapper: unable to create temporary file taken.rsrc-processed.rsrc\n"},
  };
  for (const auto& c : cases) {
    const Outcome result = run(c.arguments);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.stderrText, c.message);
    EXPECT_FALSE(received().has_value());
    EXPECT_EQ(files(), (Strings{"dir.rsrc", "taken.rsrc", "taken.rsrc-processed.rsrc"}));
  }
}

TEST_F(WrapperTest, FailedLaunchDeletesProcessedFileSilently) {
  writeFile(dir_ / "a.rsrc", "text");
  const Outcome result = run({(dir_ / "no-such-compiler").string(), "kvo", "a.rsrc"});
  EXPECT_EQ(result.status, 255);
  EXPECT_EQ(result.stderrText, "");
  EXPECT_EQ(files(), Strings{"a.rsrc"});
}

TEST_F(WrapperTest, FindsBareCompilerNameOnPath) {
  SKIP_ON_WINDOWS_BUILD(
      "Wine builds the Windows PATH itself; see FindsBareCompilerNameInWorkingDirectory");
  writeFile(dir_ / "a.rsrc", "text");
  const fs::path compiler = fs::path(kFakeCompiler);
  const Outcome result = run({compiler.filename().string(), "kvo", "a.rsrc"},
                             {"PATH=/nonexistent:" + compiler.parent_path().string()});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(received(), (Strings{"kvo", "a.rsrc-processed.rsrc"}));
}

TEST_F(WrapperTest, ProcessedFileKeepsBytesAndIsOverwritten) {
  struct Case {
    std::string source;
    std::string processed;
  };
  const Case cases[] = {
      {"", ""},
      {"a\r\nb\r\n\"x\" \\\r\n\"y\"\r\n", "a\r\nb\r\n\"xy\"\r\n"},
      {std::string("before\0after", 12), "before"},
      {"\xff\xfe{A}\x80", "\xff\xfe/\x80"},
  };
  writeFile(dir_ / "a.rsrc-processed.rsrc", "left over from an earlier run, and longer");
  for (const auto& c : cases) {
    writeFile(dir_ / "a.rsrc", c.source);
    const Outcome result = run({kFakeCompiler, "kvo", "-DA=\\", "a.rsrc"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readFile(dir_ / "a.rsrc-processed.rsrc"), c.processed);
  }
}

TEST_F(WrapperTest, ProcessedFileIsASourceLikeAnyOther) {
  writeFile(dir_ / "a.rsrc-processed.rsrc", "{A}");
  const Outcome result = run({kFakeCompiler, "kvo", "-DA=1", "a.rsrc-processed.rsrc"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(received(), (Strings{"kvo", "-DA=1", "a.rsrc-processed.rsrc-processed.rsrc"}));
  EXPECT_EQ(readFile(dir_ / "a.rsrc-processed.rsrc-processed.rsrc"), "1");
}

// The processed file is rewritten in place; a source that is a link to it must still be read
// as it was, not as it is being overwritten.
TEST_F(WrapperTest, SourceLinkedToItsProcessedFileIsReadWhole) {
  SKIP_ON_WINDOWS_BUILD("symbolic links");
  std::string source;
  for (int i = 0; i < 20000; ++i) source += "{A}\n";
  writeFile(dir_ / "a.rsrc-processed.rsrc", source);
  fs::create_symlink("a.rsrc-processed.rsrc", dir_ / "a.rsrc");
  const Outcome result = run({kFakeCompiler, "kvo", "-DA=longer value", "a.rsrc"});
  EXPECT_EQ(result.status, 0);
  std::string expected;
  for (int i = 0; i < 20000; ++i) expected += "longer value\n";
  EXPECT_EQ(readFile(dir_ / "a.rsrc-processed.rsrc"), expected);
}

TEST_F(WrapperTest, LongPathAndLargeExpansionHaveNoLimit) {
  SKIP_ON_WINDOWS_BUILD("the Windows runtime limits paths to 260 characters");
  fs::path deep = dir_;
  std::string relative;
  for (int i = 0; i < 6; ++i) {
    const std::string component(120, static_cast<char>('a' + i));
    deep /= component;
    relative += component + "/";
  }
  fs::create_directories(deep);
  relative += "src.rsrc";
  ASSERT_GT(relative.size(), 700u);
  std::string source;
  for (int i = 0; i < 200; ++i) source += "{BIG}";
  writeFile(deep / "src.rsrc", source);
  const std::string value(1000, 'v');
  const Outcome result = run({kFakeCompiler, "kvo", "-DBIG=" + value, relative});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(received(), (Strings{"kvo", "-DBIG=" + value, relative + "-processed.rsrc"}));
  const std::string processed = readFile(deep / "src.rsrc-processed.rsrc");
  EXPECT_EQ(processed.size(), 200u * 1000u);
  EXPECT_EQ(processed.find_first_not_of('v'), std::string::npos);
}

TEST_F(WrapperTest, ReadsANonSeekableSourceWhole) {
  SKIP_ON_WINDOWS_BUILD("a FIFO");
  const fs::path fifo = dir_ / "pipe.rsrc";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string source;
  for (int i = 0; i < 20000; ++i) source += "line {A} \"s\" \\\n\"t\"\n";
  const pid_t writer = fork();
  if (writer == 0) {
    std::ofstream(fifo, std::ios::binary) << source;
    _exit(0);
  }
  const Outcome result = run({kFakeCompiler, "kvo", "-DA=1", "pipe.rsrc"});
  waitpid(writer, nullptr, 0);
  EXPECT_EQ(result.status, 0);
  std::string expected;
  for (int i = 0; i < 20000; ++i) expected += "line 1 \"st\"\n";
  EXPECT_EQ(readFile(dir_ / "pipe.rsrc-processed.rsrc"), expected);
}

TEST_F(WrapperTest, FullDiskRemovesPartialFile) {
  SKIP_ON_WINDOWS_BUILD("RLIMIT_FSIZE");
  writeFile(dir_ / "a.rsrc", std::string(1 << 20, 'x'));
  const Outcome result = run({kFakeCompiler, "kvo", "a.rsrc"}, {}, Limits{1 << 19, std::nullopt});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.stderrText,
            "kvowrapper: unable to write temporary file a.rsrc-processed.rsrc\n");
  EXPECT_FALSE(received().has_value());
  EXPECT_EQ(files(), Strings{"a.rsrc"});
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(KVOWRAPPER_NO_RLIMIT_AS)
TEST_F(WrapperTest, OutOfMemoryIsReported) {
  SKIP_ON_WINDOWS_BUILD("RLIMIT_AS");
  writeFile(dir_ / "a.rsrc", std::string(size_t{96} << 20, 'x'));
  const Outcome result =
      run({kFakeCompiler, "kvo", "a.rsrc"}, {}, Limits{std::nullopt, rlim_t{64} << 20});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.stderrText, "kvowrapper: out of memory\n");
  EXPECT_FALSE(received().has_value());
  EXPECT_EQ(files(), Strings{"a.rsrc"});
}
#endif

}  // namespace
