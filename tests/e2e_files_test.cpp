// The processed file's life: what stands at its name, interrupted and parallel runs, and what the
// compiler inherits.
#include <pwd.h>
#include <sys/file.h>
#include <sys/mount.h>

#include <thread>

#include "wrapper_harness.h"

namespace e2e {
namespace {

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
    writeFile(folder / "s.rsrc-processed.rsrc", std::string(60000, 'o'));  // longer: truncated
    EXPECT_EQ(chown((folder / "s.rsrc-processed.rsrc").c_str(), owner, owner), 0);
    fs::permissions(folder / "s.rsrc-processed.rsrc", fs::perms::all & ~fs::perms::others_exec);
    fs::permissions(folder, mode);
    return folder;
  };
  // Mounts `file` (relative to `folder`) at the folder's processed name; none where mounts fail.
  auto mountAtName = [](const fs::path& folder, const fs::path& file) {
    const fs::path name = folder / "s.rsrc-processed.rsrc";
    const bool isMounted =
        mount((folder / file).c_str(), name.c_str(), nullptr, MS_BIND, nullptr) == 0;
    return isMounted ? folder : fs::path();
  };
  std::thread writer;  // of a source that is a FIFO
  const struct {
    std::string what;
    std::function<fs::path()> setUp;
    uid_t user;
    bool isWritten = true;
  } cases[] = {
      {"folder the user may not write in",
       [&] {
         return plant(work_ / "closed", user,
                      fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
       },
       user},
      {"sticky folder",
       [&] { return plant(work_ / "sticky", 0, fs::perms::all | fs::perms::sticky_bit); }, user},
      // A source that cannot be read twice, read once: no new file was written first.
      {"source read through a FIFO",
       [&] {
         const fs::path folder = plant(work_ / "fifo", user, fs::perms::all);
         fs::remove(folder / "s.rsrc");
         mkfifo((folder / "s.rsrc").c_str(), 0644);
         fs::permissions(folder,
                         fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
         writer = std::thread([&, folder] { writeFile(folder / "s.rsrc", source); });
         return folder;
       },
       user},
      // Never through a second name into another file.
      {"processed file with another name",
       [&] {
         const fs::path folder = plant(work_ / "linked", user, fs::perms::all);
         fs::create_hard_link(folder / "s.rsrc-processed.rsrc", folder / "other");
         fs::permissions(folder,
                         fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
         return folder;
       },
       user, false},
      {"the source mounted at the processed name",
       [&] { return mountAtName(plant(work_ / "source", 0, fs::perms::all), "s.rsrc"); }, 0, false},
      {"mount point",
       [&] {
         writeFile(root_ / "mounted", "m");
         fs::permissions(root_ / "mounted", fs::perms::all & ~fs::perms::others_exec);
         return mountAtName(plant(work_ / "mount", 0, fs::perms::all), root_ / "mounted");
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
    if (writer.joinable()) writer.join();
    if (!c.isWritten) {
      EXPECT_EQ(result.status, 1) << c.what;
      EXPECT_TRUE(readFile(folder / "s.rsrc") == source) << c.what;
      EXPECT_TRUE(readFile(name) == std::string(60000, 'o') || readFile(name) == source) << c.what;
      umount(name.c_str());
      continue;
    }
    EXPECT_EQ(result.status, 0) << c.what;
    EXPECT_EQ(result.errors, "") << c.what;
    EXPECT_EQ(readFile(name), source) << c.what;
    // A file written in place is the user's: a compiler that cannot be started leaves it (where
    // the run could remove it).
    if (c.what == "room for one copy") {
      invocation.arguments[0] = (root_ / "no-such-compiler").string();
      EXPECT_EQ(run(invocation).status, kFailedLaunch);
      EXPECT_TRUE(fs::exists(name));
    }
    EXPECT_EQ(fs::status(name).permissions(), fs::perms::all & ~fs::perms::others_exec) << c.what;
    umount(name.c_str());
    umount(folder.c_str());
  }
}

// A run killed while it writes leaves the processed name holding a whole text, old or new; an
// interrupt removes the new file, and a new file that has no name until it is whole leaves
// nothing even after SIGKILL (where files get names at once, SIGKILL leaves one).
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
      EXPECT_LE(left, signal == SIGKILL && !KVOWRAPPER_UNNAMED_FILES ? 1U : 0U)
          << signal << " after " << delay;
      for (const std::string& file : files()) {
        if (file.starts_with(".s.rsrc~kvw")) fs::remove(work_ / file);
      }
    }
  }
  EXPECT_EQ(run(invocation).status, 0);
  EXPECT_EQ(files(), (Strings{"s.rsrc", "s.rsrc-processed.rsrc"}));
  EXPECT_EQ(readFile(name), expected);
}

// Two rules of one build that use one source with different definitions: each compiler must
// read its own text. Whatever stands at the processed name, a second run waits for the first
// one's compiler, or for what it left running with the file open, says so after five seconds
// naming a process that holds the turn, and each compiler reads its own text; also when the
// source is saved anew meanwhile (as editors save: a new file renamed over the old one). What
// stood at the name is replaced, never written through, and keeps its permission bits; a new file
// gets 0666 less the umask (here none). Each row in a folder of its own, all at once; as root,
// files are planted for nobody, who runs them.
TEST_F(WrapperTest, RunsOnOneSourceTakeTurns) {
  const passwd* nobody = kIsWindows ? nullptr : getpwnam("nobody");
  const bool isRoot = !kIsWindows && geteuid() == 0 && nobody != nullptr;
  const uid_t user = isRoot ? nobody->pw_uid : 0;
  fs::permissions(root_, fs::perms::all);
  std::signal(SIGIO, SIG_IGN);  // what a broken lease sends its holder
  const mode_t umaskBefore = umask(0);
  using P = fs::perms;
  constexpr auto kAll = P::owner_read | P::owner_write | P::group_read | P::others_read;
  constexpr auto kNew = kAll | P::group_write | P::others_write;  // what stood there was no file
  enum Plant { kNothing, kFile, kLeased, kLink, kLinkToSource, kHardLink, kOtherHardLink, kFifo };
  const struct {
    std::string what;
    Plant plant;
    P mode = kNew;
    uid_t owner = 0;  // of the file planted: nobody's own, or root's
    bool isLeftBehind = false;
  } rows[] = {
      {"a clean build, the source saved anew", kNothing},
      {"a process the compiler leaves behind", kFile, kAll, user, true},
      {"readable only", kFile, P::owner_read | P::others_read, user},
      {"writable only", kFile, P::owner_write, user},
      {"no one may open", kFile, P::none, user},
      {"another user's", kFile, kAll, 0},
      {"another user's, private", kFile, P::owner_read | P::owner_write, 0},
      {"leased", kLeased, kAll, user},
      {"a dangling link", kLink},
      {"a link to the source", kLinkToSource},
      {"a hard link to the source", kHardLink},
      {"a hard link to another file", kOtherHardLink},
      {"a FIFO", kFifo},
  };
  const size_t count = kIsWindows ? 1 : std::size(rows);
  const fs::path gate = root_ / "gate";
  std::vector<int> leases;  // read leases, as a file server takes them
  std::vector<pid_t> firsts;
  for (size_t i = 0; i < count; ++i) {
    const auto& row = rows[i];
    const fs::path folder = work_ / std::to_string(i);
    const fs::path name = folder / "s.rsrc-processed.rsrc";
    writeFile(folder / "s.rsrc", "{V}");
    writeFile(folder / "other", "other");
    writeFile(folder / ".s.rsrc.tmp", "mine");  // a file of the user's named like a temporary one
    fs::permissions(folder, P::all);
    if (row.plant == kLink) fs::create_symlink("elsewhere", name);
    if (row.plant == kLinkToSource) fs::create_symlink("s.rsrc", name);
    if (row.plant == kHardLink) fs::create_hard_link(folder / "s.rsrc", name);
    if (row.plant == kOtherHardLink) fs::create_hard_link(folder / "other", name);
    if (row.plant == kFifo) mkfifo(name.c_str(), 0600);
    if (row.plant == kFile || row.plant == kLeased) {
      writeFile(name, "old");
      EXPECT_EQ(chown(name.c_str(), row.owner, row.owner), 0);
      fs::permissions(name, row.mode);
    }
    if (row.plant == kLeased) {
      leases.push_back(open(name.c_str(), O_RDONLY));
      EXPECT_EQ(fcntl(leases.back(), F_SETLEASE, F_RDLCK), 0);
    }
    const std::string tag = std::to_string(i);
    Invocation first{{kCompiler, "kvo", "-DV=a", "-fo", tag + "/a.res", tag + "/s.rsrc"},
                     {(row.isLeftBehind ? "FAKE_KVO_LEAVE=" : "FAKE_KVO_GATE=") + gate.string()}};
    first.user = user;
    firsts.push_back(start(first, "a" + tag));
  }
  std::vector<pid_t> seconds;
  for (size_t i = 0; i < count; ++i) {
    const std::string tag = std::to_string(i);
    ASSERT_TRUE(waitFor([&] { return fs::exists(root_ / ("receiveda" + tag)); }));
    EXPECT_EQ(readFile(work_ / tag / "s.rsrc"), "{V}") << rows[i].what;
    writeFile(work_ / tag / "s.new", "{V}");
    fs::rename(work_ / tag / "s.new", work_ / tag / "s.rsrc");
    Invocation second{{kCompiler, "kvo", "-DV=b", "-fo", tag + "/b.res", tag + "/s.rsrc"}};
    second.user = user;
    seconds.push_back(start(second, "b" + tag));
  }
  for (size_t i = 0; i < count; ++i) {
    const std::string tag = "b" + std::to_string(i);
    EXPECT_TRUE(waitFor([&] {
      return !readFile(root_ / ("stderr" + tag)).empty() || fs::exists(root_ / ("received" + tag));
    }));
    EXPECT_FALSE(fs::exists(root_ / ("received" + tag))) << rows[i].what;
  }
  writeFile(gate, "");
  for (size_t i = 0; i < count; ++i) {
    const auto& row = rows[i];
    const std::string tag = std::to_string(i);
    const fs::path name = work_ / tag / "s.rsrc-processed.rsrc";
    EXPECT_EQ(finish(firsts[i], "a" + tag).status, 0) << row.what;
    const Outcome second = finish(seconds[i], "b" + tag);
    EXPECT_EQ(second.status, 0) << row.what;
    const std::string holder =
        row.isLeftBehind ? readFile(gate.string() + ".pid") : std::to_string(firsts[i]);
    EXPECT_EQ(second.errors, "kvowrapper: waiting for another run on " + tag + "/s.rsrc" +
                                 (kIsWindows ? "" : " (process " + holder + ")") + "\n")
        << row.what;
    EXPECT_EQ(readFile(work_ / tag / "other"), "other") << row.what;
    EXPECT_EQ(readFile(work_ / tag / ".s.rsrc.tmp"), "mine") << row.what;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name))) << row.what;
    // .s.rsrc.tmp, a.res, b.res, other, s.rsrc and the processed file: no new file left.
    EXPECT_EQ(std::distance(fs::directory_iterator(work_ / tag), fs::directory_iterator()), 6);
    EXPECT_TRUE(kIsWindows || fs::status(name).permissions() == row.mode) << row.what;
    // A compiler fails to read a file it may not read, as it would without the wrapper.
    if ((row.mode & P::owner_read) == P::none) continue;
    EXPECT_EQ(readFile(name), "b") << row.what;
    EXPECT_EQ(readFile(work_ / tag / "a.res"), "a") << row.what;
    EXPECT_EQ(readFile(work_ / tag / "b.res"), "b") << row.what;
  }
  umask(umaskBefore);
  for (const int lease : leases) close(lease);
}

// A run whose processed name is removed while it writes (a parallel clean) and taken by another
// run takes the turn again before it puts its file in place: each compiler reads its own text.
TEST_F(WrapperTest, ARunWhoseNameIsTakenMeanwhileTakesTheTurnAgain) {
  if (kIsWindows) GTEST_SKIP() << "FIFOs";
  const fs::path gate = root_ / "gate";
  ASSERT_EQ(mkfifo((work_ / "s.rsrc").c_str(), 0600), 0);
  const std::string text(size_t{1} << 20, 't');
  const pid_t first = start({{kCompiler, "kvo", "-DV=a", "-fo", "a.res", "s.rsrc"}}, "a");
  // Not inherited by the second run, so that the first one sees the end of its source.
  const int source = open((work_ / "s.rsrc").c_str(), O_WRONLY | O_CLOEXEC);
  // Returns once the first run has read most of it, and is writing its new file.
  ASSERT_EQ(write(source, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  fs::remove(work_ / "s.rsrc-processed.rsrc");
  fs::remove(work_ / "s.rsrc");  // the first run keeps reading the FIFO
  writeFile(work_ / "s.rsrc", "{V}");
  const pid_t second = start(
      {{kCompiler, "kvo", "-DV=b", "-fo", "b.res", "s.rsrc"}, {"FAKE_KVO_GATE=" + gate.string()}},
      "b");
  ASSERT_TRUE(waitFor([&] { return fs::exists(root_ / "receivedb"); }));
  ASSERT_EQ(write(source, "{V}", 3), 3);
  close(source);
  EXPECT_TRUE(waitFor(
      [&] { return !readFile(root_ / "stderra").empty() || fs::exists(root_ / "receiveda"); }));
  EXPECT_FALSE(fs::exists(root_ / "receiveda"));
  writeFile(gate, "");
  EXPECT_EQ(finish(second, "b").status, 0);
  EXPECT_EQ(finish(first, "a").status, 0);
  EXPECT_EQ(readFile(work_ / "b.res"), "b");
  EXPECT_TRUE(readFile(work_ / "a.res") == text + "a");
}

// A run that waits for its turn says so once, after five seconds of waiting in all, however many
// holders it waited for; here the test holds the turn itself, the way a run does.
TEST_F(WrapperTest, WaitingIsSaidOnceAfterFiveSecondsInAll) {
  if (kIsWindows) GTEST_SKIP() << "flock";
  writeFile(work_ / "s.rsrc", "{V}");
  const fs::path name = work_ / "s.rsrc-processed.rsrc";
  auto hold = [](const fs::path& path) {
    const int file = open(path.c_str(), O_RDONLY);
    EXPECT_EQ(flock(file, LOCK_EX), 0);
    return file;
  };
  writeFile(name, "first holder's");
  const int firstHolder = hold(name);
  const pid_t run = start({{kCompiler, "kvo", "-DV=c", "-fo", "c.res", "s.rsrc"}});
  sleep(4);
  EXPECT_EQ(readFile(root_ / "stderr"), "");  // not after a short wait
  writeFile(work_ / "next", "second holder's");
  const int secondHolder = hold(work_ / "next");
  fs::rename(work_ / "next", name);
  close(firstHolder);
  sleep(4);
  close(secondHolder);
  const Outcome result = finish(run);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.errors, "kvowrapper: waiting for another run on s.rsrc (process " +
                               std::to_string(getpid()) + ")\n");
  EXPECT_EQ(readFile(work_ / "c.res"), "c");
}

// The first failed write ends the run, reading no further: a source that never ends, written
// under a file-size limit (which, unlike a full disk, never leads to writing in place).
TEST_F(WrapperTest, AFailedWriteEndsTheRun) {
  if (kIsWindows) GTEST_SKIP() << "file-size limits and FIFOs";
  std::signal(SIGPIPE, SIG_IGN);
  ASSERT_EQ(mkfifo((work_ / "s.rsrc").c_str(), 0600), 0);
  std::thread writer([&] {
    const int fifo = open((work_ / "s.rsrc").c_str(), O_WRONLY);
    const std::string line(4096, 'y');
    while (write(fifo, line.data(), line.size()) > 0) {
    }
    close(fifo);
  });
  writeFile(work_ / "s.rsrc-processed.rsrc", "old text");
  Invocation invocation{{kCompiler, "kvo", "s.rsrc"}};
  invocation.fileSizeLimit = 100 * 1024;
  const Outcome result = finish(start(invocation), "", true);
  writer.join();
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.errors, "kvowrapper: unable to write temporary file s.rsrc-processed.rsrc\n");
  EXPECT_EQ(readFile(work_ / "s.rsrc-processed.rsrc"), "old text");
  EXPECT_EQ(files(), (Strings{"s.rsrc", "s.rsrc-processed.rsrc"}));
}

// Where no lock can be had, a run goes on without a turn and without a word (a message on every
// run would break builds that take output for warnings): a second run does not wait for the
// first one's compiler.
TEST_F(WrapperTest, GoesOnWithoutALockWhereNoneCanBeHad) {
#ifndef NO_LOCKS_LIBRARY
  GTEST_SKIP() << "needs a dynamically linked kvowrapper";
#else
  writeFile(work_ / "s.rsrc", "{V}");
  const fs::path gate = root_ / "gate";
  const Strings noLocks = {"LD_PRELOAD=" NO_LOCKS_LIBRARY, "ASAN_OPTIONS=verify_asan_link_order=0"};
  Strings gated = noLocks;
  gated.push_back("FAKE_KVO_GATE=" + gate.string());
  const pid_t first = start({{kCompiler, "kvo", "-DV=a", "-fo", "a.res", "s.rsrc"}, gated}, "a");
  ASSERT_TRUE(waitFor([&] { return fs::exists(root_ / "receiveda"); }));
  // Bounded: where the lock was had after all, it would wait for the gate.
  const Outcome second =
      finish(start({{kCompiler, "kvo", "-DV=b", "-fo", "b.res", "s.rsrc"}, noLocks}), "", true);
  writeFile(gate, "");
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.errors, "");
  EXPECT_EQ(readFile(work_ / "b.res"), "b");
  EXPECT_EQ(finish(first, "a").status, 0);
  EXPECT_EQ(files(), (Strings{"a.res", "b.res", "s.rsrc", "s.rsrc-processed.rsrc"}));
#endif
}

// A compiler that runs the wrapper again on its own source would wait for itself: that run fails
// at once and leaves the processed file as it was, also when the compiler has touched its input,
// and when the list of what the runs above hold has grown near what an environment takes (its
// oldest entries go, so that the compiler still starts).
TEST_F(WrapperTest, ANestedRunFailsAtOnce) {
  writeFile(work_ / "s.rsrc", "{V}");
  writeFile(work_ / "t.rsrc", "t");
  auto windowsPath = [](const std::string& path) {
    std::string text = path;
    for (char& c : text) c = c == '/' ? '\\' : c;
    return text;
  };
  const std::string nested =
      kIsWindows ? windowsPath(kWrapper) + " " + windowsPath(kCompiler) + " kvo s.rsrc"
                 : "timeout 20 " + kWrapper + " " + kCompiler + " kvo s.rsrc";
  std::string longList;
  while (longList.size() < (size_t{128} << 10) - 40) longList += "12345:67890 ";
  const struct {
    std::string what;
    std::string command;
    Strings environment;
  } cases[] = {
      {"nested", nested, {}},
      {"after a touch", "touch s.rsrc-processed.rsrc && " + nested, {}},
      {"under a long list", nested, {"KVOWRAPPER_PROCESSING=x " + longList + "y"}},
      // A run on another source in between, whose compiler runs the wrapper on the first.
      {"two deep",
       "FAKE_KVO_NESTED='" + nested + "' " + kWrapper + " " + kCompiler + " kvo t.rsrc",
       {}},
  };
  for (const auto& c : cases) {
    if (kIsWindows && c.what != "nested") continue;
    Strings environment = c.environment;
    environment.push_back("FAKE_KVO_NESTED=" + c.command);
    const Outcome result = run({{kCompiler, "kvo", "-DV=outer", "s.rsrc"}, environment});
    EXPECT_EQ(result.status, 1) << c.what;
    EXPECT_EQ(result.errors,
              "kvowrapper: s.rsrc is already being processed by the run that started this one\n")
        << c.what;
    EXPECT_EQ(readFile(work_ / "s.rsrc-processed.rsrc"), "outer") << c.what;
  }
}

// The compiler sees what it would without the wrapper: the signal dispositions the build gave,
// not the ones the wrapper used; its input, which it may lock with fcntl and lockf; and standard
// descriptors that the build closed, which no file the wrapper opened has taken (its warnings
// never land in its input, nor a message of the wrapper's in a processed file).
TEST_F(WrapperTest, CompilerSeesWhatItWouldWithoutTheWrapper) {
  if (kIsWindows) GTEST_SKIP() << "POSIX signals, locks and descriptors";
  writeFile(work_ / "s.rsrc", "{A}");
  const fs::path record = root_ / "signals";
  Invocation invocation{{kCompiler, "kvo", "-DA=1", "-fo", "s.res", "s.rsrc"},
                        {"FAKE_KVO_SIGNALS=" + record.string(), "FAKE_KVO_LOCK=1"}};
  invocation.ignoredSignals = {SIGHUP};
  EXPECT_EQ(run(invocation).status, 0);
  EXPECT_EQ(readFile(record), "dfl dfl ign dfl dfl ");
  EXPECT_EQ(readFile(work_ / "s.res"), "1");
  const std::vector<int> closed[] = {{0, 2}, {1, 2}, {0, 1, 2}};
  for (const auto& descriptors : closed) {
    writeFile(work_ / "u.rsrc", utf16(u"{A}"));
    writeFile(work_ / "u.rsrc-processed.rsrc", "old");
    Invocation refused{{kCompiler, "kvo", "-DA=\xFF", "u.rsrc"}};
    refused.closedDescriptors = descriptors;
    EXPECT_EQ(run(refused).status, 1);
    EXPECT_EQ(readFile(work_ / "u.rsrc-processed.rsrc"), "old") << descriptors.size();
    Invocation warned{{kCompiler, "kvo", "-DA=1", "-fo", "s.res", "s.rsrc"},
                      {"FAKE_KVO_WARN=warning"}};
    warned.closedDescriptors = descriptors;
    EXPECT_EQ(run(warned).status, 0);
    EXPECT_EQ(readFile(work_ / "s.rsrc-processed.rsrc"), "1") << descriptors.size();
    EXPECT_EQ(readFile(work_ / "s.res"), "1") << descriptors.size();
    EXPECT_EQ(files(), (Strings{"s.res", "s.rsrc", "s.rsrc-processed.rsrc", "u.rsrc",
                                "u.rsrc-processed.rsrc"}));
  }
}

}  // namespace
}  // namespace e2e
