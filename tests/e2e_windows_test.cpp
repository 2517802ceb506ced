// What only Windows has: batch compilers and the job that ends the compiler with the wrapper.
#include "windows_model.h"
#include "wrapper_harness.h"

namespace e2e {
namespace {

// Compilers are started by the rules Windows reads a command line by. An ordinary one gets its
// program name as it is (a runtime reads it up to the next quote, with no escapes), or is not run
// when no line can pass it; it is found in a PATH entry in quotes, and at a long path by its path
// below the current folder; a source is found by any path Windows takes. A batch compiler, also
// one named by another spelling ("kvo.bat." is kvo.bat), runs through cmd with every argument as
// text, and through the shim most batch compilers are, every argument reaches the program whole
// by either runtime rule; an argument that cannot is refused, and so is a script whose path cmd
// would expand.
TEST_F(WrapperTest, CompilersAreStartedByWindowsRules) {
  if (!kIsWindows) GTEST_SKIP() << "Windows command lines and paths";
  auto isBatchName = [](const std::string& name) { return name.find(".bat") != std::string::npos; };
  auto windowsPath = [](const fs::path& path) {
    std::string text = "Z:" + path.string();
    for (char& c : text) c = c == '/' ? '\\' : c;
    return text;
  };
  const fs::path deep = work_ / std::string(120, 'd') / std::string(120, 'e');
  writeFile(deep / "dir" / "a.rsrc", "{A}");
  fs::copy_file(kCompiler, deep / "fake_kvo.exe");
  fs::create_directories(root_ / "p;q");
  fs::copy_file(kCompiler, root_ / "p;q" / "stand-in.exe");
  fs::copy_file(kCompiler, work_ / "fake_kvo.exe");
  const std::string shim = "@\"%~dp0fake_kvo.exe\" %*\r\n";
  writeFile(work_ / "kvo.bat", shim);
  writeFile(work_ / "%OS%" / "kvo.bat", shim);
  const std::string deepSource = fs::relative(deep, work_).string() + "\\dir.\\a.rsrc";
  const Strings hostile = {"kvo",    "a\"&echo INJECTED>injected.txt&\"", "!PATH!", "tr\\",
                           "a\\\"b", "\\\\\"&echo INJECTED>injected.txt", "-DA=1",  "s.rsrc"};
  // What cmd would act on outside quotes, with no quote to leave them by.
  const Strings unquoted = {
      "kvo", "a&echo INJECTED>injected.txt&", "!PATH!", "tr\\", "^&(", "x y", "-DA=1", "s.rsrc"};
  auto batch = [&](const std::string& script, Strings arguments) {
    arguments.insert(arguments.begin(), script);
    return arguments;
  };
  struct Case {
    Strings arguments;  // after the wrapper's own name
    std::string errors;
    std::string processed;  // where the processed file is, when the compiler runs
    Strings environment = {};
  };
  const Case cases[] = {
      {{kCompiler, "C:\\tools\\", "-DA=1", "s.rsrc"}, "", "s.rsrc-processed.rsrc"},
      {{kCompiler, "x\" -fo evil.res \"y", "-DA=1", "s.rsrc"},
       "kvowrapper: cannot pass the program name x\" -fo evil.res \"y\n",
       ""},
      {{"stand-in", "kvo", "-DA=1", "s.rsrc"},
       "",
       "s.rsrc-processed.rsrc",
       {"WINEPATH=\"" + windowsPath(root_ / "p;q") + "\""}},
      {{windowsPath(deep / "fake_kvo.exe"), "kvo", "-DA=1", deepSource},
       "",
       fs::relative(deep / "dir" / "a.rsrc-processed.rsrc", work_).string()},
      {batch("kvo.bat", unquoted), "", "s.rsrc-processed.rsrc"},
      {batch("kvo.bat.", unquoted), "", "s.rsrc-processed.rsrc"},
      {batch("kvo.bat", hostile), "kvowrapper: cannot pass argument 1 to batch file kvo.bat\n", ""},
      {batch("kvo.bat", {"kvo", "-D", "%PATH%", "s.rsrc"}),
       "kvowrapper: cannot pass argument 2 to batch file kvo.bat\n", ""},
      {batch("%OS%\\kvo.bat", {"kvo", "s.rsrc"}),
       "kvowrapper: cannot run batch file %OS%\\kvo.bat\n", ""},
  };
  const fs::path line = root_ / "line";
  for (const auto& c : cases) {
    fs::remove(line);
    writeFile(work_ / "s.rsrc", "{A}");
    Strings environment = c.environment;
    environment.push_back("FAKE_KVO_LINE=" + line.string());
    const Outcome ran = run({c.arguments, environment});
    const std::string& name = c.arguments[0];
    EXPECT_EQ(ran.status, c.processed.empty() ? kFailedLaunch : 0) << name;
    EXPECT_EQ(ran.errors, c.errors) << name;
    EXPECT_FALSE(fs::exists(work_ / "injected.txt")) << name;
    if (c.processed.empty()) {
      EXPECT_FALSE(fs::exists(line)) << name;
      EXPECT_FALSE(fs::exists(work_ / "s.rsrc-processed.rsrc")) << name;
      continue;
    }
    EXPECT_EQ(readFile(work_ / c.processed), "1") << name;
    // The line as the compiler got it, read by the rules: a batch file's program is named by
    // the shim, an ordinary program by the program name given.
    Strings expected(c.arguments.begin() + 1, c.arguments.end());
    expected.back() += "-processed.rsrc";
    for (const auto runtime : {windows_model::Runtime::k2008, windows_model::Runtime::kMsvcrt}) {
      Strings got = windows_model::splitCommandLine(readFile(line), runtime);
      if (isBatchName(name)) got.front() = expected.front();
      EXPECT_EQ(got, expected) << readFile(line);
    }
  }
}

// A cancelled build ends the wrapper; its compiler, and what the compiler started, must not live
// on. Once the compiler has exited, what it left running lives on, as on POSIX.
TEST_F(WrapperTest, EndingTheWrapperEndsTheCompiler) {
  if (!kIsWindows) GTEST_SKIP() << "on POSIX the compiler replaces the wrapper";
  writeFile(work_ / "s.rsrc", "text");
  const fs::path left = root_ / "left";
  EXPECT_EQ(run({{kCompiler, "kvo", "s.rsrc"}, {"FAKE_KVO_LEAVE=" + left.string()}}).status, 0);
  writeFile(left, "");
  EXPECT_TRUE(waitFor([&] { return fs::exists(left.string() + ".done"); }));
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
  const pid_t pid = start({{kCompiler, "kvo", tag, "-fo", "out.res", "s.rsrc"},
                           {"FAKE_KVO_GATE=" + gate.string(), "FAKE_KVO_LEAVE=" + gate.string()}});
  ASSERT_TRUE(waitFor([&] { return received().has_value(); }));
  const std::vector<pid_t> wrapper = processesOfThisRun(true);
  ASSERT_EQ(wrapper.size(), 1U);
  kill(wrapper[0], SIGKILL);
  finish(pid);
  // Only the compiler is left with the tag, until the job ends it.
  EXPECT_TRUE(waitFor([&] { return processesOfThisRun(false).empty(); }));
  writeFile(gate, "");
  sleep(2);  // what would have lived on has had time to end its wait
  EXPECT_FALSE(fs::exists(work_ / "out.res"));
  EXPECT_FALSE(fs::exists(gate.string() + ".done"));
}

// Where another program holds the processed file open so that it cannot be replaced, the text is
// written in place, as on POSIX where the name refuses a new file.
TEST_F(WrapperTest, WritesInPlaceWhereTheFileCannotBeReplaced) {
  if (!kIsWindows) GTEST_SKIP() << "Windows sharing";
  writeFile(work_ / "s.rsrc", "{A}");
  writeFile(work_ / "s.rsrc-processed.rsrc", "old text");
  const fs::path gate = root_ / "gate";
  const fs::path held = root_ / "held";
  const pid_t holder = fork();
  if (holder == 0) {
    setenv("FAKE_KVO_HOLD", ("Z:" + (work_ / "s.rsrc-processed.rsrc").string()).c_str(), 1);
    setenv("FAKE_KVO_GATE", ("Z:" + gate.string()).c_str(), 1);
    dup2(open(held.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    execl(kLauncher.c_str(), kLauncher.c_str(), kCompiler.c_str(), nullptr);
    _exit(121);
  }
  ASSERT_TRUE(waitFor([&] { return readFile(held).starts_with("held"); }));
  const Outcome result = run({{kCompiler, "kvo", "-DA=1", "-fo", "s.res", "s.rsrc"}});
  writeFile(gate, "");
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.errors, "");
  EXPECT_EQ(readFile(work_ / "s.rsrc-processed.rsrc"), "1");
  EXPECT_EQ(readFile(work_ / "s.res"), "1");
  EXPECT_EQ(files(), (Strings{"s.res", "s.rsrc", "s.rsrc-processed.rsrc"}));
}

}  // namespace
}  // namespace e2e
