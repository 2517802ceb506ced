// The processed file's life: what stands at its name, interrupted and parallel runs, sources
// that are devices, and what the compiler inherits.
#include <pwd.h>
#include <sys/mount.h>

#include "wrapper_harness.h"

namespace e2e {
namespace {

// A source that is a device or a sparse file is read to the end of its text, its first NUL (FIFOs
// are read in the unit tests).
TEST_F(WrapperTest, ReadsDevicesToTheEndOfTheirText) {
  if (kIsWindows) GTEST_SKIP() << "devices and sparse files";
  fs::create_symlink("/dev/zero", work_ / "zero.rsrc");
  EXPECT_EQ(run({{kCompiler, "kvo", "zero.rsrc"}}).status, 0);
  EXPECT_EQ(readFile(work_ / "zero.rsrc-processed.rsrc"), "");
  writeFile(work_ / "sparse.rsrc", std::string("ab\0", 3));
  fs::resize_file(work_ / "sparse.rsrc", uint64_t{16} << 30);
  EXPECT_EQ(run({{kCompiler, "kvo", "sparse.rsrc"}}).status, 0);
  EXPECT_EQ(readFile(work_ / "sparse.rsrc-processed.rsrc"), "ab");
}

// Where no new file can be made or put in place, the text goes into the processed file that
// stands there, as a user may write it: a folder the user may not write in, a sticky folder with
// another user's file that all may write, a processed name that is a mount point, room for one
// copy only. Set up as root, run as an unprivileged user where that matters.
TEST_F(WrapperTest, WritesInPlaceWhereNoNewFileCanBe) {
  const passwd* nobody = getpwnam("nobody");
  if (kIsWindows || geteuid() != 0 || nobody == nullptr) GTEST_SKIP() << "needs root";
  const uid_t user = nobody->pw_uid;
  fs::permissions(root_, fs::perms::all);
  fs::permissions(work_, fs::perms::all);
  const std::string source(50000, 's');
  auto plant = [&](const fs::path& folder, uid_t owner, fs::perms mode) {
    fs::create_directory(folder);
    writeFile(folder / "s.rsrc", source);
    writeFile(folder / "s.rsrc-processed.rsrc", std::string(50000, 'o'));
    EXPECT_EQ(chown((folder / "s.rsrc-processed.rsrc").c_str(), owner, owner), 0);
    fs::permissions(folder / "s.rsrc-processed.rsrc", fs::perms::all & ~fs::perms::others_exec);
    fs::permissions(folder, mode);
    return folder;
  };
  const struct {
    std::string what;
    std::function<fs::path()> setUp;
    uid_t user;
  } cases[] = {
      {"folder the user may not write in",
       [&] {
         return plant(work_ / "closed", user,
                      fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
       },
       user},
      {"sticky folder",
       [&] { return plant(work_ / "sticky", 0, fs::perms::all | fs::perms::sticky_bit); }, user},
      {"mount point",
       [&] {
         const fs::path folder = plant(work_ / "mount", 0, fs::perms::all);
         writeFile(root_ / "mounted", "m");
         fs::permissions(root_ / "mounted", fs::perms::all & ~fs::perms::others_exec);
         const fs::path name = folder / "s.rsrc-processed.rsrc";
         return mount((root_ / "mounted").c_str(), name.c_str(), nullptr, MS_BIND, nullptr) == 0
                    ? folder
                    : fs::path();
       },
       0},
      {"room for one copy",
       [&] {
         fs::create_directory(work_ / "small");
         if (mount("tmpfs", (work_ / "small").c_str(), "tmpfs", 0, "size=128k") != 0)
           return fs::path();
         return plant(work_ / "small", 0, fs::perms::all);
       },
       0},
  };
  for (const auto& c : cases) {
    const fs::path folder = c.setUp();
    if (folder.empty()) continue;  // no mounts here
    const fs::path name = folder / "s.rsrc-processed.rsrc";
    const std::string relative = fs::relative(folder / "s.rsrc", work_).string();
    Invocation invocation{{kCompiler, "kvo", relative}};
    invocation.user = c.user;
    const Outcome result = run(invocation);
    EXPECT_EQ(result.status, 0) << c.what;
    EXPECT_EQ(result.errors, "") << c.what;
    EXPECT_EQ(readFile(name), source) << c.what;
    EXPECT_EQ(fs::status(name).permissions(), fs::perms::all & ~fs::perms::others_exec) << c.what;
    umount(name.c_str());
    umount(folder.c_str());
  }
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
      {"processed file only its owner may read",
       [&] {
         writeFile(name, "old");
         fs::permissions(name, fs::perms::owner_read | fs::perms::owner_write);
       }},
  };
  for (const auto& [what, plant] : cases) {
    fs::remove_all(work_);
    fs::create_directory(work_);
    writeFile(work_ / "s.rsrc", "text {A}");
    writeFile(work_ / "other", "other");
    // A file of the user's whose name looks like a temporary one.
    writeFile(work_ / ".s.rsrc.tmp", "mine");
    plant();
    const auto permissions = fs::symlink_status(name).permissions();
    const Outcome result = run({{kCompiler, "kvo", "-DA=1", "s.rsrc"}});
    EXPECT_EQ(result.status, 0) << what;
    EXPECT_EQ(result.errors, "") << what;
    EXPECT_EQ(readFile(work_ / "s.rsrc"), "text {A}") << what;
    EXPECT_EQ(readFile(work_ / "other"), "other") << what;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name))) << what;
    EXPECT_EQ(readFile(name), "text 1") << what;
    EXPECT_EQ(readFile(work_ / ".s.rsrc.tmp"), "mine") << what;
    if (fs::is_regular_file(fs::symlink_status(name)) && what.starts_with("processed")) {
      EXPECT_EQ(fs::status(name).permissions(), permissions) << what;
    }
    EXPECT_EQ(files(), (Strings{".s.rsrc.tmp", "other", "s.rsrc", "s.rsrc-processed.rsrc"}))
        << what;
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
    for (const int delay : {0, 1, 10, 30, 60}) {
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
// read its own text, even when the source is saved anew meanwhile (as editors save: a new file
// renamed over the old one). The second run waits for the first compiler, or for what it left
// running with the file open, and says so when it waits long, naming a process that holds it.
TEST_F(WrapperTest, RunsOnOneSourceTakeTurns) {
  const fs::path gate = root_ / "gate";
  auto saveAnew = [&](const std::string& text) {
    writeFile(work_ / "s.new", text);
    fs::rename(work_ / "s.new", work_ / "s.rsrc");
  };
  enum Holder { kCompilerQuick, kCompilerLong, kLeftBehind };
  for (const Holder holder : {kCompilerQuick, kIsWindows ? kCompilerLong : kLeftBehind}) {
    fs::remove(gate);
    fs::remove(work_ / "s.rsrc-processed.rsrc");
    saveAnew("{V}");
    const std::string variable = holder == kLeftBehind ? "FAKE_KVO_LEAVE=" : "FAKE_KVO_GATE=";
    const pid_t first = start(
        {{kCompiler, "kvo", "-DV=a", "-fo", "a.res", "s.rsrc"}, {variable + gate.string()}}, "a");
    // The first run holds the processed name once its compiler has started.
    ASSERT_TRUE(waitFor([&] { return fs::exists(root_ / "receiveda"); }));
    saveAnew("{V}");
    const pid_t second = start({{kCompiler, "kvo", "-DV=b", "-fo", "b.res", "s.rsrc"}}, "b");
    if (holder == kLeftBehind) {
      EXPECT_EQ(finish(first, "a").status, 0);
    }
    if (holder == kCompilerQuick) {
      usleep(100000);
    } else {
      EXPECT_TRUE(waitFor([&] { return !readFile(root_ / "stderrb").empty(); }));
    }
    EXPECT_FALSE(fs::exists(root_ / "receivedb"));
    writeFile(gate, "");
    if (holder != kLeftBehind) {
      EXPECT_EQ(finish(first, "a").status, 0);
    }
    const Outcome result = finish(second, "b");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readFile(work_ / "a.res"), "a");
    EXPECT_EQ(readFile(work_ / "b.res"), "b");
    // A short wait is not reported; how short it is depends on the machine's load.
    if (holder == kCompilerLong) {
      EXPECT_EQ(result.errors, "kvowrapper: waiting for another run on s.rsrc\n");
    } else if (holder == kLeftBehind) {
      EXPECT_EQ(result.errors, "kvowrapper: waiting for another run on s.rsrc (process " +
                                   readFile(gate.string() + ".pid") + ")\n");
    }
  }
  // Saved anew while a large processed text is written, with no compiler waiting to be seen:
  // each compiler still gets its own whole text, and no run removes another's file.
  std::string source;
  for (int i = 0; i < (1 << 21); ++i) source += "{V}";
  saveAnew(source);
  const pid_t first = start({{kCompiler, "kvo", "-DV=a", "-fo", "a.res", "s.rsrc"}}, "a");
  saveAnew(source);
  const Outcome second = run({{kCompiler, "kvo", "-DV=b", "-fo", "b.res", "s.rsrc"}});
  EXPECT_EQ(finish(first, "a").status, 0);
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(readFile(work_ / "a.res"), std::string(1 << 21, 'a'));
  EXPECT_EQ(readFile(work_ / "b.res"), std::string(1 << 21, 'b'));
  EXPECT_EQ(files(), (Strings{"a.res", "b.res", "s.rsrc", "s.rsrc-processed.rsrc"}));
}

// Where no lock can be had, a run goes on without a turn and without a word (a message on every
// run would break builds that take output for warnings), in a new file of a random name.
TEST_F(WrapperTest, GoesOnWithoutALockWhereNoneCanBeHad) {
#ifndef NO_LOCKS_LIBRARY
  GTEST_SKIP() << "needs a dynamically linked kvowrapper";
#else
  writeFile(work_ / "s.rsrc", "{V}");
  for (const char* value : {"a", "b"}) {
    const Outcome result =
        run({{kCompiler, "kvo", std::string("-DV=") + value, "s.rsrc"},
             {"LD_PRELOAD=" NO_LOCKS_LIBRARY, "ASAN_OPTIONS=verify_asan_link_order=0"}});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(readFile(work_ / "s.rsrc-processed.rsrc"), value);
    EXPECT_EQ(files(), (Strings{"s.rsrc", "s.rsrc-processed.rsrc"}));
  }
#endif
}

// A compiler that runs the wrapper again on its own source would wait for itself: that run fails
// at once and leaves the processed file as it was.
TEST_F(WrapperTest, ANestedRunFailsAtOnce) {
  if (kIsWindows) GTEST_SKIP() << "the stand-in runs the wrapper through a POSIX shell";
  writeFile(work_ / "s.rsrc", "{V}");
  const Outcome result = run({{kCompiler, "kvo", "-DV=outer", "s.rsrc"},
                              {"FAKE_KVO_NESTED=" + kWrapper + " " + kCompiler + " kvo s.rsrc"}});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.errors,
            "kvowrapper: s.rsrc is already being processed by the run that started this one\n");
  EXPECT_EQ(readFile(work_ / "s.rsrc-processed.rsrc"), "outer");
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
