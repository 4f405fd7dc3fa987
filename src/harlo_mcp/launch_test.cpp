#include "harlo_mcp/launch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

#include "platform/platform.h"
#include "support/temp_dir.h"

namespace harlo_mcp::launch {
namespace {

using namespace std::chrono_literals;
using std::chrono::system_clock;

using harlo_test::TempDir;
using harlo_test::write_file;

void set_modification_time(const std::string& path, system_clock::time_point when) {
  const auto since_epoch =
      std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch());
  timespec times[2];
  times[0].tv_sec = times[1].tv_sec =
      static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(since_epoch).count());
  times[0].tv_nsec = times[1].tv_nsec = static_cast<long>((since_epoch % 1s).count());
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

bool exists_without_following(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0;
}

// ---------------------------------------------------------------------------
// The lock claim.

class LockClaimTest : public ::testing::Test {
 protected:
  TempDir dir_;
  const std::string lock_ = dir_.file("mcp-launch.lock");
};

TEST_F(LockClaimTest, NoLockCreatesAnEmptyFileUnderTheUmaskAndGoes) {
  const mode_t saved_mask = umask(022);
  const Claim claim = claim_lock(lock_, system_clock::now());
  umask(saved_mask);

  EXPECT_EQ(claim, Claim::kGo);
  struct stat status {};
  ASSERT_EQ(lstat(lock_.c_str(), &status), 0);
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(status.st_size, 0);
  EXPECT_EQ(status.st_mode & 0777, 0644u);
}

TEST_F(LockClaimTest, SecondClaimSoonAfterSkips) {
  EXPECT_EQ(claim_lock(lock_, system_clock::now()), Claim::kGo);
  EXPECT_EQ(claim_lock(lock_, system_clock::now()), Claim::kSkip);
}

TEST_F(LockClaimTest, ExistingLockIsJudgedByItsAge) {
  struct Case {
    const char* name;
    system_clock::duration age;  // negative: modified after the claim's now
    Claim want;
  };
  const Case cases[] = {
      {"10 seconds old", 10s, Claim::kSkip},
      {"a millisecond short of 30 seconds", 30s - 1ms, Claim::kSkip},
      {"exactly 30 seconds old", 30s, Claim::kGo},
      {"an hour old", 1h, Claim::kGo},
      {"5 seconds in the future", -5s, Claim::kSkip},
      {"an hour in the future", -1h, Claim::kSkip},
  };
  // Half a second past a whole second, so that a lock age computed from
  // whole seconds only would misjudge the 29.999-second lock.
  const auto now = std::chrono::time_point_cast<std::chrono::seconds>(system_clock::now()) + 500ms;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(lock_, "");
    set_modification_time(lock_, now - c.age);

    EXPECT_EQ(claim_lock(lock_, now), c.want);

    const auto modified = harlo_platform::file_modification_time(lock_);
    ASSERT_TRUE(modified.has_value());
    if (c.want == Claim::kSkip) {
      EXPECT_EQ(*modified, now - c.age) << "a fresh lock is left untouched";
    } else {
      // Replaced by a new file whose time is the moment of the claim.
      const auto real_now = system_clock::now();
      EXPECT_GT(*modified, real_now - 5s);
      EXPECT_LE(*modified, real_now + 1s);
    }
    ASSERT_EQ(unlink(lock_.c_str()), 0);
  }
}

TEST_F(LockClaimTest, NoPlaceForTheLockGoesEveryTime) {
  write_file(dir_.file("file"), "");
  for (const char* parent : {"absent", "file"}) {
    SCOPED_TRACE(parent);
    const std::string lock = dir_.file(parent) + "/mcp-launch.lock";
    EXPECT_EQ(claim_lock(lock, system_clock::now()), Claim::kGo);
    EXPECT_EQ(claim_lock(lock, system_clock::now()), Claim::kGo);
  }
  EXPECT_FALSE(exists_without_following(dir_.file("absent")));
}

TEST_F(LockClaimTest, DanglingSymlinkIsAStaleLockAndIsReplaced) {
  ASSERT_EQ(symlink(dir_.file("nowhere").c_str(), lock_.c_str()), 0);

  EXPECT_EQ(claim_lock(lock_, system_clock::now()), Claim::kGo);

  struct stat status {};
  ASSERT_EQ(lstat(lock_.c_str(), &status), 0);
  EXPECT_TRUE(S_ISREG(status.st_mode)) << "the link itself is replaced by the lock";
  EXPECT_FALSE(exists_without_following(dir_.file("nowhere")))
      << "the link's target is not created";
}

TEST_F(LockClaimTest, UndeletableStaleLockDoesNotHoldBackEveryStart) {
  // A directory by the lock's name cannot be unlinked; a claim that then
  // found it "existing again" would skip forever.
  ASSERT_EQ(mkdir(lock_.c_str(), 0755), 0);
  write_file(lock_ + "/content", "");
  const auto now = system_clock::now();

  set_modification_time(lock_, now - 5s);
  EXPECT_EQ(claim_lock(lock_, now), Claim::kSkip) << "still fresh";

  set_modification_time(lock_, now - 60s);
  EXPECT_EQ(claim_lock(lock_, now), Claim::kGo);
  EXPECT_TRUE(exists_without_following(lock_ + "/content"));
}

// ---------------------------------------------------------------------------
// Where the app and the lock are.

TEST(AbsolutePathTest, RelativePathsGoBelowTheWorkingDirectory) {
  struct Case {
    const char* path;
    const char* working_dir;
    const char* want;
  };
  const Case cases[] = {
      {"/opt/bin/harlo-mcp", "/home/ann", "/opt/bin/harlo-mcp"},
      {"bin/harlo-mcp", "/home/ann", "/home/ann/bin/harlo-mcp"},
      {"./harlo-mcp", "/home/ann/", "/home/ann/./harlo-mcp"},
      {"harlo-mcp", "/", "/harlo-mcp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(absolute_path(c.path, c.working_dir), c.want);
  }
}

// Builds a small directory tree per case and asks where the app is for a
// bridge at a path in it.
class LocateTest : public ::testing::Test {
 protected:
  enum class Kind { kFile, kDir, kLink };
  struct Entry {
    const char* path;  // relative to the case's directory
    Kind kind;
    const char* link_target = nullptr;
  };

  // Creates `entries` below a new directory for one case; returns it.
  std::string make_tree(const std::string& name, const std::vector<Entry>& entries) {
    const std::string root = dir_.file(name);
    std::filesystem::create_directories(root);
    for (const Entry& entry : entries) {
      const std::string path = root + "/" + entry.path;
      std::filesystem::create_directories(std::filesystem::path(path).parent_path());
      switch (entry.kind) {
        case Kind::kFile:
          write_file(path, "#!/bin/sh\n");
          break;
        case Kind::kDir:
          std::filesystem::create_directory(path);
          break;
        case Kind::kLink:
          EXPECT_EQ(symlink(entry.link_target, path.c_str()), 0) << path;
          break;
      }
    }
    return root;
  }

  TempDir dir_;
};

TEST_F(LocateTest, AppBesideTheBridge) {
  constexpr const char* kAbsent = nullptr;
  constexpr const char* kOwnPath = "";
  struct Case {
    const char* name;
    std::vector<Entry> tree;
    const char* own_path;  // relative to the case's directory
    const char* want;      // relative; kAbsent, or kOwnPath for the bridge's own path
  };
  const Case cases[] = {
      {"Harlo beside harlo-mcp",
       {{"bin/harlo-mcp", Kind::kFile}, {"bin/Harlo", Kind::kFile}},
       "bin/harlo-mcp",
       "bin/Harlo"},
      {"only lower-case harlo",
       {{"bin/harlo-mcp", Kind::kFile}, {"bin/harlo", Kind::kFile}},
       "bin/harlo-mcp",
       "bin/harlo"},
      {"a directory named Harlo is no app",
       {{"bin/harlo-mcp", Kind::kFile}, {"bin/Harlo", Kind::kDir}},
       "bin/harlo-mcp",
       kAbsent},
      {"nothing beside the bridge", {{"bin/harlo-mcp", Kind::kFile}}, "bin/harlo-mcp", kAbsent},
      {"Harlo a link to a regular file",
       {{"bin/harlo-mcp", Kind::kFile},
        {"lib/harlo-app", Kind::kFile},
        {"bin/Harlo", Kind::kLink, "../lib/harlo-app"}},
       "bin/harlo-mcp",
       "bin/Harlo"},
      {"Harlo a dangling link",
       {{"bin/harlo-mcp", Kind::kFile}, {"bin/Harlo", Kind::kLink, "../lib/none"}},
       "bin/harlo-mcp",
       kAbsent},
      {"started through a link named harlo-mcp: looked for beside the link",
       {{"app/harlo-mcp", Kind::kFile},
        {"app/Harlo", Kind::kFile},
        {"bin/harlo", Kind::kFile},
        {"bin/harlo-mcp", Kind::kLink, "../app/harlo-mcp"}},
       "bin/harlo-mcp",
       "bin/harlo"},
      {"any other name starts the bridge's own path, unchecked",
       {{"bin/Harlo", Kind::kFile}},
       "bin/Harlo-MCP",
       kOwnPath},
      {"a final component that is not UTF-8",
       {{"bin/Harlo", Kind::kFile}},
       "bin/\xff\xfe",
       kAbsent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string root = make_tree(c.name, c.tree);
    const std::string own_path = root + "/" + c.own_path;

    const Launch launch = Launch::locate(own_path, std::nullopt);

    if (c.want == kAbsent) {
      EXPECT_EQ(launch.executable, std::nullopt);
    } else if (std::string_view(c.want) == kOwnPath) {
      EXPECT_EQ(launch.executable, own_path);
    } else {
      EXPECT_EQ(launch.executable, root + "/" + c.want);
    }
  }
}

TEST(LaunchLocateTest, NoOwnPathOrNoFinalComponentLocatesNothing) {
  EXPECT_EQ(Launch::locate(std::nullopt, std::nullopt).executable, std::nullopt);
  EXPECT_EQ(Launch::locate("/", std::nullopt).executable, std::nullopt);
  EXPECT_EQ(Launch::locate("/opt/..", std::nullopt).executable, std::nullopt);
}

TEST(LaunchLocateTest, LockLivesInTheDataDirectory) {
  const std::string want = "/Users/ann/Library/Application Support/Harlo/mcp-launch.lock";
  EXPECT_EQ(Launch::locate(std::nullopt, "/Users/ann/Library/Application Support/Harlo").lock,
            want);
  EXPECT_EQ(Launch::locate(std::nullopt, "/Users/ann/Library/Application Support/Harlo/").lock,
            want);
  EXPECT_EQ(Launch::locate(std::nullopt, std::nullopt).lock, std::nullopt);
}

TEST(LaunchCurrentTest, OwnExecutableAndTheLockBelowHome) {
  const char* saved = std::getenv("HOME");
  const std::optional<std::string> saved_home =
      saved ? std::optional<std::string>(saved) : std::nullopt;
  setenv("HOME", "/Users/ann", 1);
  const Launch launch = Launch::current();
  if (saved_home) {
    setenv("HOME", saved_home->c_str(), 1);
  } else {
    unsetenv("HOME");
  }

  EXPECT_EQ(launch.lock, "/Users/ann/Library/Application Support/Harlo/mcp-launch.lock");
  // This test program is not named harlo-mcp, so it would start itself.
  ASSERT_TRUE(launch.executable.has_value());
  EXPECT_EQ(launch.executable->front(), '/');
  EXPECT_EQ(std::filesystem::path(*launch.executable).filename(), "harlo_mcp_launch_test");
}

// ---------------------------------------------------------------------------
// The command that starts the app.

TEST(CommandForTest, BundleThroughOpenElseTheExecutableItself) {
  const auto direct = [](const char* executable) { return Command{executable, {"--background"}}; };
  const auto open = [](const char* bundle) {
    return Command{"open", {"-g", "-j", "-a", bundle, "--args", "--background"}};
  };
  struct Case {
    const char* executable;
    Command want;
  };
  const Case cases[] = {
      {"/Applications/Harlo.app/Contents/MacOS/Harlo", open("/Applications/Harlo.app")},
      {"/opt/harlo/bin/harlo", direct("/opt/harlo/bin/harlo")},
      {"/x/Harlo.APP/Contents/MacOS/Harlo", direct("/x/Harlo.APP/Contents/MacOS/Harlo")},
      {"/x/Harlo/Contents/MacOS/Harlo", direct("/x/Harlo/Contents/MacOS/Harlo")},
      {"/x/Harlo.app/contents/MacOS/Harlo", direct("/x/Harlo.app/contents/MacOS/Harlo")},
      {"/x/Harlo.app/Contents/macOS/Harlo", direct("/x/Harlo.app/Contents/macOS/Harlo")},
      {"/x/.app/Contents/MacOS/Harlo", direct("/x/.app/Contents/MacOS/Harlo")},
      {"/x/Harlo.app.bak/Contents/MacOS/Harlo", direct("/x/Harlo.app.bak/Contents/MacOS/Harlo")},
      // The parents run out at the root before a bundle is reached.
      {"/MacOS/Harlo", direct("/MacOS/Harlo")},
      {"/Contents/MacOS/Harlo", direct("/Contents/MacOS/Harlo")},
      {"/a.b.app/Contents/MacOS/harlo", open("/a.b.app")},
      {"/Users/ann/My Apps/Harlo.app/Contents/MacOS/Harlo", open("/Users/ann/My Apps/Harlo.app")},
      {"/x/\xff\xfe.app/Contents/MacOS/Harlo", open("/x/\xff\xfe.app")},
      {"/x/Harlo.app//Contents/./MacOS/Harlo", open("/x/Harlo.app")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.executable);
    EXPECT_EQ(command_for(c.executable), c.want);
  }
}

// ---------------------------------------------------------------------------
// Starting real programs.

// A script that writes what it was started with to "report" beside itself:
// its arguments, its pid and process group and, where /proc exists, its
// standard streams, its ignored and blocked signal sets (read by the shell
// itself: while it waits for a child it blocks signals of its own) and the
// targets of its open descriptors.
constexpr std::string_view kReportingScript = R"sh(#!/bin/sh
out="${0%/*}/report"
streams=""
if [ -r /proc/$$/stat ]; then
  for n in 0 1 2; do
    streams="${streams}stream:$n:$(readlink /proc/$$/fd/$n)
"
  done
fi
{
  for a in "$@"; do printf 'arg:%s\n' "$a"; done
  if [ -r /proc/$$/stat ]; then
    printf '%s' "$streams"
    while read -r key value rest; do
      case $key in
        SigIgn:) echo "sigign:$value" ;;
        SigBlk:) echo "sigblk:$value" ;;
      esac
    done < /proc/$$/status
    read -r pid comm state ppid pgrp rest < /proc/$$/stat
    echo "pid:$pid"
    echo "pgrp:$pgrp"
    find /proc/$$/fd -mindepth 1 -maxdepth 1 -printf 'fd:%f:%l\n'
  else
    echo "pid:$$"
    echo "pgrp:$(ps -o pgid= -p $$ | tr -d ' ')"
  fi
} > "$out.tmp"
mv "$out.tmp" "$out"
)sh";

struct Report {
  std::vector<std::string> args;
  std::map<int, std::string> streams;         // 0, 1, 2 to target
  std::map<std::string, std::string> values;  // sigign, sigblk, pid, pgrp
  std::map<int, std::string> descriptors;     // number to target
};

Report parse_report(const std::string& text) {
  Report report;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string key = line.substr(0, colon);
    const std::string rest = line.substr(colon + 1);
    if (key == "arg") {
      report.args.push_back(rest);
    } else if (key == "fd" || key == "stream") {
      const auto second = rest.find(':');
      auto& table = key == "fd" ? report.descriptors : report.streams;
      table[std::stoi(rest.substr(0, second))] = rest.substr(second + 1);
    } else {
      report.values[key] = rest;
    }
  }
  return report;
}

// Runs each test from a bridge-like parent: SIGPIPE ignored, a signal
// blocked, and a descriptor open without close-on-exec. Restores all three.
class SpawnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    write_file(script_, kReportingScript);
    ASSERT_EQ(chmod(script_.c_str(), 0755), 0);
    write_file(marker_, "");

    saved_sigpipe_ = signal(SIGPIPE, SIG_IGN);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR2);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &saved_mask_), 0);
    inherited_fd_ = open(marker_.c_str(), O_RDONLY);  // deliberately without O_CLOEXEC
    ASSERT_GE(inherited_fd_, 0);
  }
  void TearDown() override {
    if (inherited_fd_ >= 0) close(inherited_fd_);
    pthread_sigmask(SIG_SETMASK, &saved_mask_, nullptr);
    signal(SIGPIPE, saved_sigpipe_);
  }

  // The script's report, once it is complete; nothing after 10 seconds.
  std::optional<Report> wait_for_report() {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (const auto text = harlo_test::read_file(report_path_)) return parse_report(*text);
      std::this_thread::sleep_for(10ms);
    }
    return std::nullopt;
  }

  // Whether `pid` is gone, zombie included, within 10 seconds.
  static bool reaped_in_time(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (kill(pid, 0) != 0 && errno == ESRCH) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  TempDir dir_;
  const std::string script_ = dir_.file("record-child");
  const std::string report_path_ = dir_.file("report");
  const std::string marker_ = dir_.file("inherited-marker");
  int inherited_fd_ = -1;

 private:
  void (*saved_sigpipe_)(int) = SIG_DFL;
  sigset_t saved_mask_{};
};

TEST_F(SpawnTest, ChildGetsItsArgumentsAndItsOwnProcessGroupAndIsReaped) {
  ASSERT_EQ(spawn(Command{script_, {"--background", "two words", ""}}), std::nullopt);

  auto report = wait_for_report();
  ASSERT_TRUE(report.has_value()) << "the child never wrote its report";
  EXPECT_EQ(report->args, (std::vector<std::string>{"--background", "two words", ""}));
  ASSERT_FALSE(report->values["pid"].empty());
  EXPECT_EQ(report->values["pgrp"], report->values["pid"]) << "the child leads a new group";
  EXPECT_NE(report->values["pgrp"], std::to_string(getpgrp()));
  EXPECT_TRUE(reaped_in_time(std::stoi(report->values["pid"]))) << "nobody waited for the child";
}

TEST_F(SpawnTest, ChildInheritsNoIgnoredSigpipeNoBlockedSignalsAndNoDescriptors) {
  if (access("/proc/self/status", R_OK) != 0) GTEST_SKIP() << "needs /proc";

  ASSERT_EQ(spawn(Command{script_, {}}), std::nullopt);

  auto report = wait_for_report();
  ASSERT_TRUE(report.has_value()) << "the child never wrote its report";
  const auto ignored = std::stoull(report->values["sigign"], nullptr, 16);
  const auto blocked = std::stoull(report->values["sigblk"], nullptr, 16);
  EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << "SIGPIPE still ignored";
  EXPECT_EQ(blocked, 0u) << "signals still blocked";

  EXPECT_EQ(report->streams,
            (std::map<int, std::string>{{0, "/dev/null"}, {1, "/dev/null"}, {2, "/dev/null"}}));
  // Later, only what the shell opened itself: the script, the report it
  // writes and its saved copy of the null standard output.
  for (const auto& [fd, target] : report->descriptors) {
    SCOPED_TRACE(fd);
    EXPECT_TRUE(target == script_ || target == report_path_ + ".tmp" || target == "/dev/null")
        << "inherited " << target;
  }
}

// ---------------------------------------------------------------------------
// Launch::launch, from the lock to the started program.

class LaunchTest : public ::testing::Test {
 protected:
  TempDir dir_;
  const std::string lock_ = dir_.file("mcp-launch.lock");
};

TEST_F(LaunchTest, WithoutExecutableFailsAndLeavesTheLockAlone) {
  const auto error = Launch(std::nullopt, lock_).launch();
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->os_error, 0);
  EXPECT_EQ(error->message, "cannot locate the Harlo executable");
  EXPECT_FALSE(exists_without_following(lock_));
}

TEST_F(LaunchTest, FreshLockStartsNothing) {
  // A start of this program would fail; success shows nothing was tried.
  write_file(lock_, "");
  EXPECT_EQ(Launch(dir_.file("missing-app"), lock_).launch(), std::nullopt);
}

TEST_F(LaunchTest, ProgramThatCannotStartGivesTheSystemErrorAndKeepsTheLock) {
  write_file(dir_.file("not-executable"), "#!/bin/sh\n");
  ASSERT_EQ(chmod((dir_.file("not-executable")).c_str(), 0644), 0);
  struct Case {
    std::string executable;
    int want;
  };
  const Case cases[] = {
      {dir_.file("missing-app"), ENOENT},
      {dir_.file("not-executable"), EACCES},
      {"harlo-launch-test-no-such-program", ENOENT},  // looked for through PATH
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.executable);
    const auto error = Launch(c.executable, lock_).launch();
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->os_error, c.want);
    EXPECT_TRUE(exists_without_following(lock_)) << "the lock ages out instead";
    ASSERT_EQ(unlink(lock_.c_str()), 0);
  }
}

TEST_F(SpawnTest, LaunchStartsTheExecutableWithTheBackgroundSwitchAndHoldsTheLock) {
  const std::string lock = dir_.file("mcp-launch.lock");

  EXPECT_EQ(Launch(script_, lock).launch(), std::nullopt);

  EXPECT_TRUE(exists_without_following(lock));
  auto report = wait_for_report();
  ASSERT_TRUE(report.has_value()) << "the app was not started";
  EXPECT_EQ(report->args, std::vector<std::string>{"--background"});
}

}  // namespace
}  // namespace harlo_mcp::launch
