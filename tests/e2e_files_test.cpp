// The processed file's life: what stands at its name, interrupted and parallel runs, sources
// that are pipes or devices, and what the compiler inherits.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "wrapper_harness.h"

namespace e2e {
namespace {

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
  const fs::path gate = root_ / "gate";
  const std::string waiting = "kvowrapper: waiting for another run on s.rsrc\n";
  for (const bool isLongWait : {false, true}) {
    fs::remove(gate);
    fs::remove(work_ / "s.rsrc-processed.rsrc");
    const pid_t first = start(
        {{kCompiler, "kvo", "-DV=a", "-fo", "a.res", "s.rsrc"}, {"FAKE_KVO_GATE=" + gate.string()}},
        "a");
    // The first run holds the source once its compiler has started.
    ASSERT_TRUE(waitFor([&] { return fs::exists(root_ / "receiveda"); }));
    const pid_t second = start({{kCompiler, "kvo", "-DV=b", "-fo", "b.res", "s.rsrc"}}, "b");
    if (isLongWait) {
      // (On Windows the line ends with CR LF.)
      EXPECT_TRUE(
          waitFor([&] { return readFile(root_ / "stderrb").starts_with(waiting.substr(0, 40)); }));
    } else {
      usleep(100000);
    }
    EXPECT_FALSE(fs::exists(root_ / "receivedb"));
    writeFile(gate, "");
    EXPECT_EQ(finish(first, "a").status, 0);
    const Outcome result = finish(second, "b");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readFile(work_ / "a.res"), "a");
    EXPECT_EQ(readFile(work_ / "b.res"), "b");
    // A short wait is not reported; how short it is depends on the machine's load.
    if (isLongWait) {
      EXPECT_EQ(result.errors, waiting);
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

}  // namespace
}  // namespace e2e
