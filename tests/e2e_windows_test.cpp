// What only Windows has: batch compilers and the job that ends the compiler with the wrapper.
#include "wrapper_harness.h"

namespace e2e {
namespace {

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
  const fs::path gate = root_ / "gate";
  // The Wine processes of this run are found by an argument that only this run has.
  const std::string tag = "-DRUN=" + root_.string();
  auto processesOfThisRun = [&](bool isWrapper) {
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string arguments = readFile(entry.path() / "cmdline");
      if (arguments.find(tag) != std::string::npos &&
          arguments.starts_with(kWrapper) == isWrapper) {
        found.push_back(std::atoi(entry.path().filename().c_str()));
      }
    }
    return found;
  };
  const pid_t pid = start(
      {{kCompiler, "kvo", tag, "-fo", "out.res", "s.rsrc"}, {"FAKE_KVO_GATE=" + gate.string()}});
  ASSERT_TRUE(waitFor([&] { return received().has_value(); }));
  const std::vector<pid_t> wrapper = processesOfThisRun(true);
  ASSERT_EQ(wrapper.size(), 1U);
  kill(wrapper[0], SIGKILL);
  finish(pid);
  // Only the compiler is left with the tag, until the job ends it.
  EXPECT_TRUE(waitFor([&] { return processesOfThisRun(false).empty(); }));
  writeFile(gate, "");
  EXPECT_FALSE(fs::exists(work_ / "out.res"));
}

}  // namespace
}  // namespace e2e
